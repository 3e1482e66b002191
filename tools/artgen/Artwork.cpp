// The whole set of artwork, and writing a picture as a 24-bit bitmap file.
#include "Artwork.h"

#include <QPainter>
#include <QSaveFile>
#include <algorithm>

namespace gs::art {

std::vector<ArtworkFile> DrawAllArtwork() {
    std::vector<ArtworkFile> files;
    for (auto&& group : {DrawToolbarButtons(), DrawHudBar(), DrawCarIcons(), DrawDialogPictures()})
        files.insert(files.end(), group.begin(), group.end());
    return files;
}

void KeepWhereCovered(QImage& picture, const QImage& coverage, bool inverse) {
    const QImage cover = coverage.convertToFormat(QImage::Format_RGB32);
    picture = picture.convertToFormat(QImage::Format_RGB32);
    const int width = std::min(picture.width(), cover.width()), height = std::min(picture.height(), cover.height());
    for (int y = 0; y < height; ++y) {
        auto* pixel = reinterpret_cast<QRgb*>(picture.scanLine(y));
        const auto* weight = reinterpret_cast<const QRgb*>(cover.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const int c = inverse ? 255 - qGray(weight[x]) : qGray(weight[x]);
            pixel[x] = qRgb(qRed(pixel[x]) * c / 255, qGreen(pixel[x]) * c / 255, qBlue(pixel[x]) * c / 255);
        }
    }
}

void DrawChequers(QPainter& painter, QPointF origin, int cols, int rows, double size, const QColor& light,
                  const QColor& dark) {
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            painter.fillRect(QRectF(origin.x() + c * size, origin.y() + r * size, size, size),
                             (r + c) % 2 ? dark : light);
}

bool SaveBitmap24(const QImage& image, const QString& path) {
    // Qt's bitmap writer stores a 24-bit picture as BI_RGB with a 40-byte
    // header, bottom-up, rows padded to four bytes.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (!image.convertToFormat(QImage::Format_RGB888).save(&file, "BMP")) return false;
    return file.commit();
}

}  // namespace gs::art
