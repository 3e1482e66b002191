// Background pictures of the settings dialog and the about box: light and
// quiet, since the dialogs' labels draw black text straight over them.
#include "Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace gs::art {
namespace {

QImage LightBackdrop(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, width * 0.3, height);
    sky.setColorAt(0.0, QColor(250, 251, 253));
    sky.setColorAt(1.0, QColor(228, 234, 242));
    p.fillRect(image.rect(), sky);
    return image;
}

// A sweeping stretch of circuit: a pale tarmac ribbon with red and white
// kerbs on its edges and a dashed centre line, all kept light.
void DrawCircuit(QPainter& p, const QPainterPath& centreLine, double width, int strength) {
    auto pen = [](const QBrush& brush, double w, Qt::PenStyle style = Qt::SolidLine) {
        QPen pen(brush, w, style, Qt::FlatCap, Qt::RoundJoin);
        return pen;
    };
    const int tarmac = 255 - strength;
    QPen kerb = pen(QColor(255, 255, 255), width + 8);
    p.strokePath(centreLine, pen(QColor(255 - strength / 2, 200 + strength / 4, 200 + strength / 4), width + 8));
    kerb.setDashPattern({1.2, 1.2});
    p.strokePath(centreLine, kerb);
    p.strokePath(centreLine, pen(QColor(tarmac, tarmac, tarmac + 4), width));
    QPen dashes = pen(QColor(252, 252, 252), 1.6);
    dashes.setDashPattern({8, 8});
    p.strokePath(centreLine, dashes);
}

QImage SettingsPicture() {
    QImage image = LightBackdrop(SettingsPictureWidth, SettingsPictureHeight);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // The circuit sweeps along the bottom, below the rows of fields.
    QPainterPath track(QPointF(-20, 190));
    track.cubicTo(QPointF(120, 120), QPointF(220, 205), QPointF(360, 196));
    track.cubicTo(QPointF(470, 190), QPointF(520, 160), QPointF(660, 178));
    DrawCircuit(p, track, 16, 40);

    // The program's name in the free corner at the bottom right.
    QFont font("DejaVu Sans");
    font.setPixelSize(24);
    font.setBold(true);
    font.setItalic(true);
    p.setFont(font);
    p.setPen(QColor(150, 162, 182));
    p.drawText(QRectF(420, 112, 170, 30), Qt::AlignRight | Qt::AlignVCenter, "Gridscope");
    DrawChequers(p, QPointF(428, 118), 4, 3, 6, QColor(0, 0, 0, 0), QColor(160, 170, 186));
    p.end();
    return image.convertToFormat(QImage::Format_RGB888);
}

QImage AboutPicture() {
    QImage image = LightBackdrop(AboutPictureWidth, AboutPictureHeight);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A faint hairpin in the background and chequers in two corners.
    QPainterPath track(QPointF(-10, 150));
    track.cubicTo(QPointF(80, 185), QPointF(200, 170), QPointF(215, 110));
    track.cubicTo(QPointF(228, 60), QPointF(160, 30), QPointF(250, 8));
    DrawCircuit(p, track, 14, 18);
    DrawChequers(p, QPointF(0, 0), 5, 2, 6, QColor(0, 0, 0, 0), QColor(228, 232, 238));
    DrawChequers(p, QPointF(AboutPictureWidth - 30, AboutPictureHeight - 12), 5, 2, 6, QColor(0, 0, 0, 0),
                 QColor(228, 232, 238));
    p.end();
    return image.convertToFormat(QImage::Format_RGB888);
}

}  // namespace

std::vector<ArtworkFile> DrawDialogPictures() {
    return {{"settings_picture.bmp", SettingsPicture()}, {"about_picture.bmp", AboutPicture()}};
}

}  // namespace gs::art
