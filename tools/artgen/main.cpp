// gridscope-artgen <output-folder>: draws the program's bitmaps into a folder.
#include "Artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: gridscope-artgen <output-folder>\n");
        return 2;
    }
    // Text needs a QGuiApplication; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(".")) {
        std::fprintf(stderr, "gridscope-artgen: cannot create %s\n", argv[1]);
        return 1;
    }
    for (const gs::art::ArtworkFile &file : gs::art::DrawAllArtwork()) {
        const QString path = folder.filePath(file.name);
        if (!gs::art::SaveBitmap24(file.image, path)) {
            std::fprintf(stderr, "gridscope-artgen: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
