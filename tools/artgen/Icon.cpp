// The program's icon: one scalable picture written as SVG, and the PNGs of
// the hicolor theme rendered from that same SVG, so every size shows the
// same drawing. The picture: a circuit seen from above on a dark tile, its
// start line chequered, three cars on it in player colours.
#include "Artwork.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>

namespace gs::art {

QByteArray IconSvg() {
    // The circuit's centre line, used for its verge, its tarmac and its
    // centre dashes alike.
    const char* circuit =
        "M 72 178 C 34 156 38 76 96 66 C 146 58 144 112 186 98 "
        "C 226 86 232 172 190 192 C 150 212 110 200 72 178 Z";
    QByteArray svg;
    svg +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"256\" height=\"256\" "
        "viewBox=\"0 0 256 256\">\n"
        "  <defs>\n"
        "    <linearGradient id=\"tile\" x1=\"0\" y1=\"0\" x2=\"0.4\" y2=\"1\">\n"
        "      <stop offset=\"0\" stop-color=\"#2c4a63\"/>\n"
        "      <stop offset=\"1\" stop-color=\"#12202e\"/>\n"
        "    </linearGradient>\n"
        "  </defs>\n"
        "  <rect x=\"8\" y=\"8\" width=\"240\" height=\"240\" rx=\"48\" fill=\"url(#tile)\"/>\n";
    svg += QByteArray("  <path d=\"") + circuit +
           "\" fill=\"none\" stroke=\"#e9eef3\" stroke-width=\"40\" stroke-linejoin=\"round\"/>\n";
    svg += QByteArray("  <path d=\"") + circuit +
           "\" fill=\"none\" stroke=\"#5d6876\" stroke-width=\"30\" stroke-linejoin=\"round\"/>\n";
    svg += QByteArray("  <path d=\"") + circuit +
           "\" fill=\"none\" stroke=\"#f4f6f8\" stroke-width=\"2.5\" stroke-dasharray=\"9 9\"/>\n";
    // The start line across the bottom straight: two rows of chequers.
    for (int row = 0; row < 2; ++row)
        for (int k = 0; k < 6; ++k)
            svg += QString("  <rect x=\"%1\" y=\"%2\" width=\"5\" height=\"5\" fill=\"%3\"/>\n")
                       .arg(128 + row * 5)
                       .arg(187 + k * 5)
                       .arg((row + k) % 2 ? "#11161c" : "#ffffff")
                       .toUtf8();
    // Three cars on the circuit, each a rounded body with a dark cockpit.
    struct Car {
        double x, y, angle;
        const char* colour;
    };
    for (const Car& car : {Car{61, 122, 4, "#e5392e"}, Car{152, 84, -58, "#f3c22f"}, Car{214, 150, 22, "#2fb6e6"}})
        svg += QString(
                   "  <g transform=\"translate(%1 %2) rotate(%3)\">"
                   "<rect x=\"-10\" y=\"-19\" width=\"20\" height=\"38\" rx=\"7\" fill=\"%4\" "
                   "stroke=\"#0d1319\" stroke-width=\"2\"/>"
                   "<rect x=\"-6\" y=\"-4\" width=\"12\" height=\"10\" rx=\"3\" fill=\"#0d1319\"/></g>\n")
                   .arg(car.x)
                   .arg(car.y)
                   .arg(car.angle)
                   .arg(car.colour)
                   .toUtf8();
    svg += "</svg>\n";
    return svg;
}

QImage RenderIcon(const QByteArray& svg, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) return {};
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool WriteIconTheme(const QString& folder, const QString& name, QString* failed) {
    const QByteArray svg = IconSvg();
    auto save = [&](const QString& subfolder, const QString& file, auto&& write) {
        const QDir dir(folder + "/" + subfolder);
        QSaveFile out(dir.filePath(file));
        if (!dir.mkpath(".") || !out.open(QIODevice::WriteOnly) || !write(out) || !out.commit()) {
            *failed = dir.filePath(file);
            return false;
        }
        return true;
    };
    if (!save("scalable/apps", name + ".svg", [&](QSaveFile& out) { return out.write(svg) == svg.size(); }))
        return false;
    for (int size : IconSizes) {
        const QImage image = RenderIcon(svg, size);
        const QString sub = QString("%1x%1/apps").arg(size);
        if (image.isNull() || !save(sub, name + ".png", [&](QSaveFile& out) { return image.save(&out, "PNG"); }))
            return false;
    }
    return true;
}

}  // namespace gs::art
