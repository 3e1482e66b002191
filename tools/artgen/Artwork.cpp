// The whole set of artwork, and writing a picture as a 24-bit bitmap file.
#include "Artwork.h"

#include <QFile>
#include <QSaveFile>

namespace gs::art {

std::vector<ArtworkFile> DrawAllArtwork()
{
    std::vector<ArtworkFile> files;
    for (auto &&group : {DrawToolbarButtons(), DrawHudBar(), DrawCarIcons(), DrawDialogPictures()})
        files.insert(files.end(), group.begin(), group.end());
    return files;
}

bool SaveBitmap24(const QImage &image, const QString &path)
{
    // Qt's bitmap writer stores a 24-bit picture as BI_RGB with a 40-byte
    // header, bottom-up, rows padded to four bytes.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (!image.convertToFormat(QImage::Format_RGB888).save(&file, "BMP"))
        return false;
    return file.commit();
}

} // namespace gs::art
