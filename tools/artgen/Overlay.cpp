// Toolbar buttons and the HUD bar that frames them across the top of the view.
#include "Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>
#include <cmath>
#include <functional>

namespace gs::art {
namespace {

// A button's texture is stretched onto a quad of 0.22 x 0.04 eye units,
// wider than the picture's 4:1, so it is drawn in a wider logical space
// that the stretch brings back to true proportions.
constexpr double ButtonStretch = (0.22 / 0.04) / (double(ButtonWidth) / ButtonHeight);
constexpr double LogicalButtonWidth = ButtonWidth * ButtonStretch;

QFont CaptionFont(double pixelSize, bool italic = false) {
    QFont font("DejaVu Sans");
    font.setPixelSize(int(pixelSize));
    font.setBold(true);
    font.setItalic(italic);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// Pictograms: a white symbol on a coloured disc of radius 24 about the origin.
void PictogramList(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int row = -1; row <= 1; ++row) {
        p.drawEllipse(QPointF(-10, row * 9.5), 3.2, 3.2);
        p.drawRoundedRect(QRectF(-4, row * 9.5 - 2.6, 18, 5.2), 2, 2);
    }
}

void PictogramPlug(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    // Plug body with two pins, its cable leaving downwards.
    p.drawRoundedRect(QRectF(-9, -6, 18, 14), 3, 3);
    p.drawRect(QRectF(-6, -15, 3.6, 10));
    p.drawRect(QRectF(2.4, -15, 3.6, 10));
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable(QPointF(0, 8));
    cable.cubicTo(QPointF(0, 16), QPointF(10, 12), QPointF(12, 19));
    p.drawPath(cable);
}

void PictogramGear(QPainter& p) {
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 4; ++i) {
        const double angle = (i - 0.5) * M_PI * 2 / (teeth * 4);
        const double r = (i % 4 == 0 || i % 4 == 1) ? 17.0 : 12.5;
        const QPointF point(r * std::cos(angle), r * std::sin(angle));
        if (i == 0) gear.moveTo(point);
        else gear.lineTo(point);
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(QPointF(0, 0), 5.5, 5.5);
    p.fillPath(gear.subtracted(hole), Qt::white);
}

void PictogramInfo(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(0, -11), 3.8, 3.8);
    p.drawRoundedRect(QRectF(-3.4, -4, 6.8, 20), 1.5, 1.5);
    p.drawRect(QRectF(-7, -4, 5, 3.5));
    p.drawRect(QRectF(-7, 12.5, 14, 3.5));
}

void PictogramCross(QPainter& p) {
    p.setPen(QPen(Qt::white, 6.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(-9, -9), QPointF(9, 9));
    p.drawLine(QPointF(-9, 9), QPointF(9, -9));
}

struct ButtonDesign {
    const char* file;
    const char* caption;
    QColor accent;
    std::function<void(QPainter&)> pictogram;
};

QImage DrawButton(const ButtonDesign& design) {
    QImage image(ButtonWidth, ButtonHeight, QImage::Format_RGB32);
    image.fill(QColor(24, 26, 30));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(1.0 / ButtonStretch, 1.0);

    // Brushed-silver plate with a dark rim and a bright upper edge.
    const QRectF plate(3, 3, LogicalButtonWidth - 6, ButtonHeight - 6);
    QLinearGradient silver(0, plate.top(), 0, plate.bottom());
    silver.setColorAt(0.0, QColor(250, 251, 253));
    silver.setColorAt(0.45, QColor(222, 226, 232));
    silver.setColorAt(0.55, QColor(204, 209, 216));
    silver.setColorAt(1.0, QColor(178, 184, 193));
    p.setPen(QPen(QColor(60, 64, 72), 2.5));
    p.setBrush(silver);
    p.drawRoundedRect(plate, 9, 9);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1.5));
    p.drawLine(QPointF(plate.left() + 10, plate.top() + 3), QPointF(plate.right() - 10, plate.top() + 3));

    // The pictogram on a disc of the button's colour.
    p.save();
    p.translate(36, ButtonHeight / 2.0);
    QRadialGradient disc(QPointF(-7, -9), 34);
    disc.setColorAt(0.0, design.accent.lighter(150));
    disc.setColorAt(1.0, design.accent.darker(125));
    p.setPen(QPen(design.accent.darker(170), 1.5));
    p.setBrush(disc);
    p.drawEllipse(QPointF(0, 0), 24, 24);
    design.pictogram(p);
    p.restore();

    // The caption, centred in the room right of the disc.
    p.setFont(CaptionFont(27));
    p.setPen(QColor(28, 32, 40));
    p.drawText(QRectF(66, 0, LogicalButtonWidth - 74, ButtonHeight), Qt::AlignCenter, design.caption);
    p.end();
    return image.convertToFormat(QImage::Format_RGB888);
}

// ---- HUD bar -----------------------------------------------------------

// The bar's quad covers x -0.6..0.6 and y 0.09..0.414 in eye units; drawing
// happens in those units, with the picture's top row at y = 0.414.
constexpr double BarLeft = -0.6, BarRight = 0.6, BarBottom = 0.09, BarTop = 0.414;

void ToEyeUnits(QPainter& p) {
    p.scale(HudWidth / (BarRight - BarLeft), -HudHeight / (BarTop - BarBottom));
    p.translate(-BarLeft, -BarTop);
}

// The strip that the five buttons fill: they touch each other, so together
// they make one parallelogram leaning right, widened by a small margin.
QPainterPath ButtonStrip(double margin) {
    QPainterPath strip;
    strip.moveTo(-0.53 - margin, 0.37 - margin);
    strip.lineTo(-0.52 - margin + margin * 0.25, BarTop + 0.01);
    strip.lineTo(0.53 + margin + margin * 0.25, BarTop + 0.01);
    strip.lineTo(0.52 + margin, 0.37 - margin);
    strip.closeSubpath();
    return strip;
}

constexpr double LedgeBottom = 0.35;   // the side panels' top edge
constexpr double PanelInner = 0.118;   // their inner edge
constexpr double PanelBottom = 0.104;  // their bottom edge
constexpr double FrameWidth = 0.005;

// The plate along the top: a ledge under the buttons with a small name tab
// hanging into the middle of the view.
QPainterPath TopPlate() {
    QPainterPath plate;
    plate.moveTo(BarLeft - 0.01, BarTop + 0.01);
    plate.lineTo(BarRight + 0.01, BarTop + 0.01);
    plate.lineTo(BarRight + 0.01, LedgeBottom);
    plate.lineTo(0.105, LedgeBottom);
    plate.lineTo(0.085, 0.326);
    plate.lineTo(-0.085, 0.326);
    plate.lineTo(-0.105, LedgeBottom);
    plate.lineTo(BarLeft - 0.01, LedgeBottom);
    plate.closeSubpath();
    return plate.subtracted(ButtonStrip(0.004));
}

// Thin rails outlining the side panels' inner and lower edges (k = -1 left).
QPainterPath PanelRail(int k) {
    QPainterPath rail;
    const double w = FrameWidth;
    rail.moveTo(k * (PanelInner - w), LedgeBottom);
    rail.lineTo(k * PanelInner, LedgeBottom);
    rail.lineTo(k * PanelInner, 0.127);
    rail.lineTo(k * 0.16, PanelBottom);
    rail.lineTo(k * (BarRight + 0.01), PanelBottom);
    rail.lineTo(k * (BarRight + 0.01), PanelBottom - w);
    rail.lineTo(k * (0.16 - w * 0.6), PanelBottom - w);
    rail.lineTo(k * (PanelInner - w), 0.127 - w * 0.4);
    rail.closeSubpath();
    return rail;
}

}  // namespace

std::vector<ArtworkFile> DrawHudBar() {
    const QPainterPath plate = TopPlate();
    const QPainterPath rails = PanelRail(-1).united(PanelRail(1));

    QImage mask(HudWidth, HudHeight, QImage::Format_RGB32);
    mask.fill(Qt::white);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        ToEyeUnits(p);
        // A soft shadow below the plate darkens the view a little.
        QLinearGradient shadow(0, LedgeBottom, 0, LedgeBottom - 0.014);
        shadow.setColorAt(0.0, QColor(120, 120, 120));
        shadow.setColorAt(1.0, Qt::white);
        QPainterPath shadowArea;
        shadowArea.addRect(QRectF(QPointF(BarLeft - 0.01, LedgeBottom - 0.014), QPointF(BarRight + 0.01, LedgeBottom)));
        shadowArea.addRect(QRectF(QPointF(-0.1, 0.312), QPointF(0.1, LedgeBottom)));
        p.fillPath(shadowArea, shadow);
        p.fillPath(plate, Qt::black);
        p.fillPath(rails, Qt::black);
    }

    QImage image(HudWidth, HudHeight, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        ToEyeUnits(p);
        // Dark slate plate, lighter at the top.
        QLinearGradient slate(0, BarTop, 0, 0.326);
        slate.setColorAt(0.0, QColor(92, 100, 116));
        slate.setColorAt(0.5, QColor(56, 62, 74));
        slate.setColorAt(1.0, QColor(30, 33, 40));
        p.fillPath(plate, slate);
        // A steel rim around the buttons and a red stripe along the ledge.
        p.setClipPath(plate);
        p.strokePath(ButtonStrip(0.004), QPen(QColor(170, 178, 190), 0.0035));
        p.strokePath(ButtonStrip(0.004), QPen(QColor(40, 44, 52), 0.0012));
        QPainterPath stripe;
        stripe.moveTo(BarLeft - 0.01, LedgeBottom + 0.0025);
        stripe.lineTo(-0.105, LedgeBottom + 0.0025);
        stripe.lineTo(-0.085, 0.3285);
        stripe.lineTo(0.085, 0.3285);
        stripe.lineTo(0.105, LedgeBottom + 0.0025);
        stripe.lineTo(BarRight + 0.01, LedgeBottom + 0.0025);
        p.strokePath(stripe, QPen(QColor(210, 48, 36), 0.003));
        p.setClipping(false);

        // Chequered flags at both ends of the button strip, leaning like the
        // buttons and inside the view's edge (x = +-0.57 at the 4:3 window).
        for (double left : {-0.567, 0.539}) {
            p.save();
            p.translate(left, 0.369);
            p.setTransform(QTransform(1, 0, 0.25, 1, 0, 0), true);
            DrawChequers(p, QPointF(0, 0), 3, 4, 0.009, QColor(215, 218, 224), QColor(20, 22, 26));
            p.restore();
        }

        // The program's name on the tab.
        p.save();
        p.translate(0, 0.3295);
        p.scale(0.00042, -0.00042);
        p.setFont(CaptionFont(32, true));
        p.setPen(QColor(226, 230, 238));
        p.drawText(QRectF(-200, -40, 400, 40), Qt::AlignHCenter | Qt::AlignBottom, "GRIDSCOPE");
        p.restore();

        // Steel rails along the side panels.
        QLinearGradient steel(0, 0.35, 0, PanelBottom - FrameWidth);
        steel.setColorAt(0.0, QColor(120, 128, 142));
        steel.setColorAt(1.0, QColor(70, 76, 88));
        p.fillPath(rails, steel);
    }

    // Only the plate and rails may carry colour; the buttons and the track
    // view show through everywhere else.
    KeepWhereCovered(image, mask, true);
    return {{"hud_bar.bmp", image.convertToFormat(QImage::Format_RGB888)},
            {"hud_bar_mask.bmp", mask.convertToFormat(QImage::Format_RGB888)}};
}

std::vector<ArtworkFile> DrawToolbarButtons() {
    const ButtonDesign designs[] = {
        {"getlist.bmp", "Server List", QColor(40, 110, 200), PictogramList},
        {"connect.bmp", "Connect", QColor(40, 150, 70), PictogramPlug},
        {"settings.bmp", "Settings", QColor(100, 110, 130), PictogramGear},
        {"about.bmp", "About", QColor(215, 140, 20), PictogramInfo},
        {"exit.bmp", "Exit", QColor(200, 45, 40), PictogramCross},
    };
    std::vector<ArtworkFile> files;
    for (const ButtonDesign& design : designs) files.push_back({design.file, DrawButton(design)});
    return files;
}

}  // namespace gs::art
