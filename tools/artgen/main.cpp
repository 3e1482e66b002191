// gridscope-artgen <output-folder>: draws the program's bitmaps into a folder.
// gridscope-artgen --icons <theme-folder> <name>: writes the program's icon
// as a hicolor theme (the SVG and its PNGs) into a folder.
#include "Artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const bool icons = argc == 4 && std::strcmp(argv[1], "--icons") == 0;
    if (argc != 2 && !icons) {
        std::fprintf(stderr,
                     "usage: gridscope-artgen <output-folder>\n"
                     "       gridscope-artgen --icons <theme-folder> <name>\n");
        return 2;
    }
    // Text needs a QGuiApplication; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    if (icons) {
        QString failed;
        if (!gs::art::WriteIconTheme(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), &failed)) {
            std::fprintf(stderr, "gridscope-artgen: cannot write %s\n", qPrintable(failed));
            return 1;
        }
        return 0;
    }

    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(".")) {
        std::fprintf(stderr, "gridscope-artgen: cannot create %s\n", argv[1]);
        return 1;
    }
    for (const gs::art::ArtworkFile& file : gs::art::DrawAllArtwork()) {
        const QString path = folder.filePath(file.name);
        if (!gs::art::SaveBitmap24(file.image, path)) {
            std::fprintf(stderr, "gridscope-artgen: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
