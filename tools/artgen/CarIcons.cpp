// Top-view car icons and their masks, one pair per car model. The icon's top
// row is the car's nose. Bodies are light grey so that the player's colour,
// which multiplies the icon, shows; windows, tyres and cockpits are dark.
#include "Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace gs::art {
namespace {

// Drawing space of an icon: 100 units across, 200 long, nose at y = 0.
constexpr double SpaceW = 100.0, SpaceL = 200.0, Mid = SpaceW / 2;

const QColor Glass(52, 62, 78);
const QColor Tyre(46, 46, 48);
const QColor Cockpit(30, 30, 34);
const QColor Trim(95, 98, 104);
const QColor PanelLine(120, 122, 128);
const QColor Lamp(255, 255, 240);
const QColor TailLamp(150, 60, 60);

// The left half of a shape mirrored onto the right half.
QPainterPath Mirrored(const QPainterPath& left) { return left.united(QTransform(-1, 0, 0, 1, SpaceW, 0).map(left)); }

// A smooth closed curve through the midpoints of the polygon's edges, with
// the polygon's corners as control points.
QPainterPath Smooth(const QPolygonF& corners) {
    QPainterPath path;
    const int n = corners.size();
    if (n < 3) return path;
    auto mid = [&](int i) { return (corners[i % n] + corners[(i + 1) % n]) / 2; };
    path.moveTo(mid(0));
    for (int i = 1; i <= n; ++i) path.quadTo(corners[i % n], mid(i));
    path.closeSubpath();
    return path;
}

// A symmetric outline from the half-widths of its right side, listed from the
// nose to the tail as (half-width, y) pairs; the left side mirrors them.
QPainterPath SymmetricOutline(const std::vector<QPointF>& rightSide) {
    QPolygonF corners;
    for (const QPointF& p : rightSide) corners << QPointF(Mid + p.x(), p.y());
    for (auto it = rightSide.rbegin(); it != rightSide.rend(); ++it) corners << QPointF(Mid - it->x(), it->y());
    return Smooth(corners);
}

QPainterPath Rect(double x, double y, double w, double h, double r = 0) {
    QPainterPath path;
    if (r > 0) path.addRoundedRect(QRectF(x, y, w, h), r, r);
    else path.addRect(QRectF(x, y, w, h));
    return path;
}

QPainterPath Ellipse(double cx, double cy, double rx, double ry) {
    QPainterPath path;
    path.addEllipse(QPointF(cx, cy), rx, ry);
    return path;
}

QPainterPath Polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(points));
    path.closeSubpath();
    return path;
}

// The area of a stroked line, so that thin parts (arms, bars) can be filled.
QPainterPath Stroke(const QPainterPath& line, double width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    return stroker.createStroke(line);
}

QPainterPath Line(QPointF a, QPointF b) {
    QPainterPath path(a);
    path.lineTo(b);
    return path;
}

// Paint across a body: light along the spine, darker towards the flanks.
QBrush BodyPaint(double halfWidth, int centre = 252, int flank = 168) {
    QLinearGradient g(Mid - halfWidth, 0, Mid + halfWidth, 0);
    g.setColorAt(0.0, QColor(flank, flank, flank));
    g.setColorAt(0.22, QColor((flank + centre) / 2 + 14, (flank + centre) / 2 + 14, (flank + centre) / 2 + 14));
    g.setColorAt(0.5, QColor(centre, centre, centre));
    g.setColorAt(0.78, QColor((flank + centre) / 2 + 14, (flank + centre) / 2 + 14, (flank + centre) / 2 + 14));
    g.setColorAt(1.0, QColor(flank, flank, flank));
    return QBrush(g);
}

// An icon and its mask drawn together: parts of the car go into both,
// details only into the icon. Finish() blackens the icon outside the mask.
class CarCanvas {
public:
    CarCanvas() : image_(CarWidth, CarHeight, QImage::Format_RGB32), mask_(CarWidth, CarHeight, QImage::Format_RGB32) {
        image_.fill(Qt::black);
        mask_.fill(Qt::black);
        for (auto [painter, target] : {std::pair{&imagePainter_, &image_}, std::pair{&maskPainter_, &mask_}}) {
            painter->begin(target);
            painter->setRenderHint(QPainter::Antialiasing);
            painter->scale(CarWidth / SpaceW, CarHeight / SpaceL);
            painter->setPen(Qt::NoPen);
        }
    }

    void Part(const QPainterPath& path, const QBrush& brush) {
        imagePainter_.fillPath(path, brush);
        maskPainter_.fillPath(path, Qt::white);
    }

    void Detail(const QPainterPath& path, const QBrush& brush) { imagePainter_.fillPath(path, brush); }

    void DetailLine(const QPainterPath& line, const QColor& colour, double width) {
        imagePainter_.strokePath(line, QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }

    std::pair<QImage, QImage> Finish() {
        imagePainter_.end();
        maskPainter_.end();
        // Weigh the icon by the mask's coverage: black where the mask is
        // black, and soft edges that add up correctly with the masked scene.
        KeepWhereCovered(image_, mask_);
        return {image_.convertToFormat(QImage::Format_RGB888), mask_.convertToFormat(QImage::Format_RGB888)};
    }

private:
    QImage image_, mask_;
    QPainter imagePainter_, maskPainter_;
};

// A tyre seen from above, with a faint tread highlight.
void DrawTyre(CarCanvas& car, double cx, double cy, double w, double l) {
    car.Part(Rect(cx - w / 2, cy - l / 2, w, l, w * 0.3), Tyre);
    car.Detail(Rect(cx - w * 0.18, cy - l / 2 + 2, w * 0.36, l - 4, w * 0.15), QColor(74, 74, 78));
}

void DrawTyrePair(CarCanvas& car, double halfTrack, double cy, double w, double l) {
    DrawTyre(car, Mid - halfTrack, cy, w, l);
    DrawTyre(car, Mid + halfTrack, cy, w, l);
}

// ---- closed cars -------------------------------------------------------

enum class Layout { Hatch, Coupe, Fastback, Saloon, RearEngine };

struct ClosedCar {
    Layout layout;
    std::vector<QPointF> outline;  // right half, nose to tail, as (half-width, y)
    double frontAxle, rearAxle;
    double frontHalf, rearHalf;                   // body half-width over each axle
    double screen, roofFront, roofRear, backEnd;  // y of the greenhouse edges
    double cabinHalf;                             // half-width of the greenhouse
    QPointF lamp;                                 // headlamp centre as (half-width, y)
    QSizeF lampSize;
    bool scoop = false;     // bonnet scoop
    bool spoiler = false;   // lip on the tail (or on the roof of a hatch)
    bool bootWing = false;  // rally-style wing across the boot
    bool gtr = false;       // racing version: arches, splitter, wing, stripes, roundel

    double Front() const { return outline.front().y(); }
    double Rear() const { return outline.back().y(); }
    double NoseHalf() const { return outline[1].x(); }
    double TailHalf() const { return outline[outline.size() - 2].x(); }
};

void DrawClosedCar(CarCanvas& car, const ClosedCar& c) {
    const double front = c.Front(), rear = c.Rear(), len = rear - front;
    const double widest = std::max(c.frontHalf, c.rearHalf);
    const double tyreW = c.gtr ? 15 : 12, tyreL = len * 0.16;
    const double bulge = c.gtr ? 5.5 : 0;

    // Tyres show just outside the body (or under the racing arches).
    const double poke = c.gtr ? 1.5 : 2.5;
    DrawTyrePair(car, c.frontHalf + bulge - tyreW / 2 + poke, c.frontAxle, tyreW, tyreL);
    DrawTyrePair(car, c.rearHalf + bulge - tyreW / 2 + poke, c.rearAxle, tyreW, tyreL);

    if (c.gtr) {
        // Wide arches, and a splitter standing proud of the nose.
        for (auto [axle, half] : {std::pair{c.frontAxle, c.frontHalf}, std::pair{c.rearAxle, c.rearHalf}}) {
            const QPainterPath arch = Mirrored(Ellipse(Mid - half - bulge + 7, axle, 7, tyreL * 0.78));
            car.Part(arch, BodyPaint(widest + bulge, 235, 150));
            car.DetailLine(arch, PanelLine, 0.9);
        }
        car.Part(SymmetricOutline(std::vector<QPointF>{
                     {c.NoseHalf() - 2, front - 4}, {c.frontHalf + 2, front + 2}, {c.frontHalf, front + 9}}),
                 QColor(62, 64, 70));
    }

    const QPainterPath body = SymmetricOutline(c.outline);
    car.Part(body, BodyPaint(widest));

    // Bonnet creases and door shut lines.
    car.DetailLine(
        Mirrored(Line({Mid - c.NoseHalf() * 0.6, front + len * 0.05}, {Mid - c.cabinHalf * 0.72, c.screen - 2})),
        PanelLine, 0.9);
    car.DetailLine(Mirrored(Line({Mid - c.cabinHalf - 3, c.screen + 4}, {Mid - c.cabinHalf - 3, c.roofRear - 4})),
                   PanelLine, 0.8);

    // Greenhouse: windscreen, thin side windows and rear window around the roof.
    const double ch = c.cabinHalf;
    const QPainterPath glass = SymmetricOutline(std::vector<QPointF>{
        {ch * 0.8, c.screen},
        {ch, c.roofFront},
        {ch, c.roofRear},
        {ch * (c.layout == Layout::Fastback ? 0.62 : 0.86), c.backEnd},
        {ch * 0.5, c.backEnd + 0.5},
    });
    car.Detail(glass, Glass);
    const QPainterPath roof = SymmetricOutline(std::vector<QPointF>{
        {ch * 0.8, c.roofFront + 1},
        {ch - 2, c.roofFront + 3},
        {ch - 2, c.roofRear - 2},
        {ch * 0.8, c.roofRear},
    });
    car.Detail(roof, BodyPaint(ch, 255, 200));
    car.DetailLine(Line({Mid - ch * 0.45, c.screen + 5}, {Mid - ch * 0.15, c.roofFront - 3}), QColor(100, 110, 128),
                   1.6);
    car.DetailLine(Line({Mid + ch * 0.05, c.backEnd - 3}, {Mid + ch * 0.35, c.roofRear + 4}), QColor(90, 100, 118),
                   1.3);

    // Door mirrors.
    car.Part(Mirrored(Ellipse(Mid - ch - 5, c.screen + 4, 3.4, 2.2)), QColor(205, 205, 205));

    // Lamps.
    car.Detail(Mirrored(Ellipse(Mid - c.lamp.x(), c.lamp.y(), c.lampSize.width(), c.lampSize.height())), Lamp);
    car.DetailLine(Mirrored(Ellipse(Mid - c.lamp.x(), c.lamp.y(), c.lampSize.width(), c.lampSize.height())), PanelLine,
                   0.7);
    car.Detail(Mirrored(Rect(Mid - c.TailHalf() + 1.5, rear - 3.6, 10, 2.6, 1)), TailLamp);

    switch (c.layout) {
        case Layout::Hatch:
            car.DetailLine(Line({Mid - ch * 0.85, c.backEnd + 2.5}, {Mid + ch * 0.85, c.backEnd + 2.5}), PanelLine,
                           0.9);
            break;
        case Layout::Saloon:
        case Layout::Coupe:
            car.DetailLine(SymmetricOutline(std::vector<QPointF>{{ch * 0.9, c.backEnd + 3}, {ch * 0.95, rear - 5}}),
                           PanelLine, 0.9);
            break;
        case Layout::Fastback: break;
        case Layout::RearEngine:
            for (int i = 0; i < 5; ++i)
                car.DetailLine(
                    Line({Mid - ch * 0.55, c.backEnd + 5 + i * 3.2}, {Mid + ch * 0.55, c.backEnd + 5 + i * 3.2}),
                    PanelLine, 1.1);
            break;
    }

    if (c.scoop)
        car.Detail(SymmetricOutline(std::vector<QPointF>{{4, c.frontAxle - 6}, {7, c.screen - 8}}), QColor(62, 64, 72));

    if (c.gtr) {
        // Twin stripes nose to tail and a number roundel on the roof.
        for (double dx : {-8.0, 4.0}) car.Detail(Rect(Mid + dx, front + 1, 4, len - 2), QColor(140, 140, 146));
        const double ry = (c.roofFront + c.roofRear) / 2;
        car.Detail(Ellipse(Mid, ry, 9, 9), QColor(255, 255, 255));
        car.DetailLine(Ellipse(Mid, ry, 9, 9), QColor(50, 50, 54), 1.6);
        car.Detail(Rect(Mid - 1.4, ry - 5, 2.8, 10), QColor(40, 40, 44));
        // Rear wing beyond the tail, dark so that it stands out from the body.
        const double span = widest + 2, wy = rear - 8;
        car.Part(Rect(Mid - span, wy, 2 * span, 10, 1.5), QColor(120, 122, 128));
        car.DetailLine(Line({Mid - span + 1, wy + 2}, {Mid + span - 1, wy + 2}), QColor(225, 225, 230), 1.6);
        car.Part(Mirrored(Rect(Mid - span - 2, wy - 3, 3.5, 15, 1)), QColor(45, 45, 50));
    } else if (c.bootWing) {
        const double span = c.TailHalf() + 2, wy = rear - 20;
        car.Part(Rect(Mid - span, wy, 2 * span, 6, 1.5), QColor(150, 152, 158));
        car.DetailLine(Line({Mid - span + 1, wy + 1.5}, {Mid + span - 1, wy + 1.5}), QColor(230, 230, 234), 1.2);
        car.Part(Mirrored(Rect(Mid - span - 1, wy - 2, 2.5, 10, 1)), QColor(55, 55, 60));
    } else if (c.spoiler) {
        const double y = c.layout == Layout::Hatch ? c.roofRear - 1 : rear - 7;
        const double half = c.layout == Layout::Hatch ? ch : c.TailHalf();
        car.Part(Rect(Mid - half - 1, y, 2 * half + 2, 4.5, 2), QColor(150, 152, 158));
        car.DetailLine(Line({Mid - half, y + 1.2}, {Mid + half, y + 1.2}), QColor(230, 230, 234), 0.9);
    }
}

// ---- open cars ---------------------------------------------------------

// A driver's helmet seen from above, with the visor towards the front.
void DrawHelmet(CarCanvas& car, double cx, double cy, double r) {
    car.Detail(Ellipse(cx, cy, r, r * 1.08), QColor(225, 225, 228));
    car.Detail(SymmetricOutline({{r * 0.75, cy - r * 0.55}, {r * 0.9, cy - r * 0.1}}).translated(cx - Mid, 0),
               QColor(40, 44, 54));
    car.DetailLine(Line({cx, cy - r * 0.1}, {cx, cy + r}), QColor(150, 150, 156), r * 0.3);
}

// Lightweight roadsters with exposed front wheels under cycle wings.
void DrawClubRoadster(CarCanvas& car, bool six) {
    const double front = six ? 14 : 22, rear = six ? 190 : 184;
    const double frontAxle = front + (six ? 30 : 26), rearAxle = rear - 32;
    const double hw = 25;
    // Front wheels stand free of the narrow body, on wishbones.
    car.Part(Mirrored(Stroke(Line({Mid - 12, frontAxle - 4}, {Mid - 33, frontAxle}), 2.2)), Trim);
    car.Part(Mirrored(Stroke(Line({Mid - 12, frontAxle + 5}, {Mid - 33, frontAxle}), 2.2)), Trim);
    DrawTyrePair(car, 36, frontAxle, 12, 30);
    DrawTyrePair(car, 34, rearAxle, 14, 32);
    // Long narrow bonnet and tub; the rear flares out over the wheels.
    const QPainterPath body = SymmetricOutline({
        {6, front},
        {12, front + 1},
        {15, front + 24},
        {hw - 2, front + 60},
        {hw, rearAxle - 24},
        {hw + 3, rearAxle - 18},
        {hw + 11, rearAxle - 12},
        {hw + 11, rearAxle + 12},
        {hw + 5, rear - 3},
        {hw, rear},
    });
    car.Part(body, BodyPaint(hw + 14));
    // Cycle wings over the front tyres.
    car.Part(Mirrored(Rect(Mid - 43, frontAxle - 18, 14, 32, 6)), BodyPaint(hw + 20, 235, 180));
    car.DetailLine(Mirrored(Line({Mid - 36, frontAxle - 15}, {Mid - 36, frontAxle + 12})), PanelLine, 0.7);
    // Bonnet louvres and, on the six, a power bulge.
    for (int i = 0; i < 4; ++i)
        car.DetailLine(Mirrored(Line({Mid - 12, front + 30 + i * 5}, {Mid - 7, front + 30 + i * 5})), PanelLine, 1.0);
    if (six) {
        car.Detail(SymmetricOutline({{4, front + 14}, {7, front + 40}, {7, front + 70}, {5, front + 76}}),
                   BodyPaint(7, 255, 215));
        // Side exhaust along the right flank.
        car.Part(Rect(Mid + hw + 0.5, front + 74, 4, 36, 2), QColor(180, 180, 184));
        car.DetailLine(Line({Mid + hw + 2.5, front + 76}, {Mid + hw + 2.5, front + 108}), QColor(120, 120, 124), 0.8);
    }
    // Headlamps on stalks beside the nose.
    car.Part(Mirrored(Ellipse(Mid - 20, front + 18, 4.5, 4.5)), QColor(215, 215, 215));
    car.Detail(Mirrored(Ellipse(Mid - 20, front + 18, 2.8, 2.8)), Lamp);
    // Open cockpit: small aero screen, two seats, roll bar.
    const double cockpitTop = six ? front + 92 : front + 80;
    car.Detail(SymmetricOutline({{18, cockpitTop - 5}, {19, cockpitTop - 2}}), QColor(110, 125, 140));
    car.Detail(Rect(Mid - 19, cockpitTop, 38, 44, 6), Cockpit);
    car.Detail(Mirrored(Rect(Mid - 16, cockpitTop + 14, 13, 24, 4)), QColor(90, 90, 96));
    DrawHelmet(car, Mid - 9.5, cockpitTop + 18, 6);
    car.Detail(Ellipse(Mid - 9.5, cockpitTop + 8, 5.5, 1.6), QColor(150, 150, 156));   // steering wheel
    car.Detail(Rect(Mid - 19, cockpitTop + 40, 38, 3.5, 1.5), QColor(185, 185, 190));  // roll bar
    car.Detail(Mirrored(Rect(Mid - 14, rear - 3, 9, 2.2, 1)), TailLamp);
}

// Mid-engined two-seat roadster: wedge nose, cockpit ahead of the engine.
void DrawMidEngineRoadster(CarCanvas& car) {
    const double front = 18, rear = 186, hw = 40;
    const double frontAxle = 50, rearAxle = 150;
    DrawTyrePair(car, hw - 5, frontAxle, 12, 28);
    DrawTyrePair(car, hw - 4.5, rearAxle, 14, 30);
    const QPainterPath body = SymmetricOutline({
        {8, front - 1},
        {22, front + 2},
        {hw - 4, front + 18},
        {hw - 1, frontAxle},
        {hw - 3, 100},
        {hw, rearAxle},
        {hw - 3, rear - 4},
        {hw - 10, rear},
    });
    car.Part(body, BodyPaint(hw));
    // Bonnet vents and headlamps.
    car.Detail(Mirrored(Rect(Mid - 20, front + 26, 12, 6, 2)), QColor(80, 82, 88));
    car.Detail(Mirrored(Polygon(
                   {{Mid - 30, front + 7}, {Mid - 18, front + 5}, {Mid - 17, front + 10}, {Mid - 32, front + 13}})),
               Lamp);
    // Wraparound screen and open cockpit.
    car.Detail(SymmetricOutline({{22, 76}, {27, 86}, {26, 90}, {20, 84}}), QColor(95, 110, 128));
    car.Detail(Rect(Mid - 27, 86, 54, 36, 8), Cockpit);
    car.Detail(Mirrored(Rect(Mid - 24, 98, 19, 22, 5)), QColor(92, 92, 98));
    DrawHelmet(car, Mid - 14, 104, 6.5);
    car.Detail(Ellipse(Mid - 14, 93, 6, 1.6), QColor(150, 150, 156));
    car.Detail(Rect(Mid - 3, 90, 6, 30, 2), QColor(120, 120, 126));  // centre tunnel
    // Roll hoops, then the engine cover with air intakes and louvres.
    car.Part(Mirrored(Rect(Mid - 24, 122, 17, 5, 2.5)), QColor(180, 180, 186));
    car.Detail(Mirrored(Rect(Mid - hw + 3, 124, 6, 16, 3)), QColor(60, 62, 68));
    for (int i = 0; i < 6; ++i)
        car.DetailLine(Line({Mid - 16, 136.0 + i * 6}, {Mid + 16, 136.0 + i * 6}), PanelLine, 1.3);
    car.Detail(Mirrored(Rect(Mid - 30, rear - 5, 12, 2.6, 1)), TailLamp);
}

struct OpenWheeler {
    double front, rear;
    double frontAxle, rearAxle;
    double frontHalfTrack, rearHalfTrack;
    double frontTyre[2], rearTyre[2];  // width, length
    double frontWing, rearWing;        // half-span (0: none)
    bool twinElementWings;             // multi-element wings with bargeboards
    double podHalf;                    // sidepod half-width (0: slim body)
};

// Single-seaters: exposed wheels on arms, narrow nose, central cockpit.
void DrawOpenWheeler(CarCanvas& car, const OpenWheeler& o) {
    // Suspension arms first, so that wheels and body cover their ends.
    for (double axle : {o.frontAxle, o.rearAxle}) {
        const double track = axle == o.frontAxle ? o.frontHalfTrack : o.rearHalfTrack;
        car.Part(Mirrored(Stroke(Line({Mid - 6, axle - 6}, {Mid - track, axle}), 1.8)), Trim);
        car.Part(Mirrored(Stroke(Line({Mid - 6, axle + 6}, {Mid - track, axle}), 1.8)), Trim);
    }
    DrawTyrePair(car, o.frontHalfTrack, o.frontAxle, o.frontTyre[0], o.frontTyre[1]);
    DrawTyrePair(car, o.rearHalfTrack, o.rearAxle, o.rearTyre[0], o.rearTyre[1]);

    const double cockpit = o.frontAxle + (o.rearAxle - o.frontAxle) * 0.42;
    // Nose cone, monocoque and engine cover as one tapering body.
    const double pod = o.podHalf > 0 ? o.podHalf : 14;
    const QPainterPath body = SymmetricOutline({
        {3, o.front + 1},
        {5.5, o.front + 4},
        {8, o.frontAxle},
        {11, cockpit - 16},
        {13, cockpit - 6},
        {pod, cockpit + 10},
        {pod, o.rearAxle - 22},
        {9, o.rearAxle - 6},
        {7, o.rearAxle + 10},
        {5, o.rear - 10},
    });
    car.Part(body, BodyPaint(pod));
    if (o.podHalf > 0) {
        // Sidepod intakes.
        car.Detail(Mirrored(Rect(Mid - o.podHalf + 1.5, cockpit + 8, 6, 4, 1.5)), QColor(55, 57, 62));
        car.DetailLine(Mirrored(Line({Mid - o.podHalf + 4, cockpit + 14}, {Mid - 10, o.rearAxle - 10})), PanelLine,
                       0.8);
    }
    // Cockpit opening with the driver, airbox behind the head.
    car.Detail(SymmetricOutline({{6, cockpit - 12}, {8.5, cockpit - 4}, {8.5, cockpit + 10}, {6, cockpit + 13}}),
               Cockpit);
    DrawHelmet(car, Mid, cockpit + 3, 6);
    car.Detail(SymmetricOutline({{5, cockpit + 14}, {6.5, cockpit + 22}, {3, o.rearAxle}}), QColor(120, 122, 128));
    car.Detail(Ellipse(Mid, cockpit + 17, 3.5, 2.5), QColor(40, 42, 48));

    if (o.frontWing > 0) {
        const double wy = o.front + 2;
        car.Part(Rect(Mid - o.frontWing, wy, 2 * o.frontWing, 8, 2), QColor(225, 225, 228));
        if (o.twinElementWings) {
            car.Part(Mirrored(Rect(Mid - o.frontWing + 1, wy + 9, o.frontWing - 6, 4.5, 1.5)), QColor(200, 200, 204));
            car.Part(Mirrored(Stroke(Line({Mid - 12, o.frontAxle + 16}, {Mid - 20, o.frontAxle + 30}), 2.0)),
                     QColor(170, 170, 175));
        }
        car.Part(Mirrored(Rect(Mid - o.frontWing - 1.5, wy - 2, 3, o.twinElementWings ? 17 : 13, 1)),
                 QColor(70, 70, 74));
        car.DetailLine(Line({Mid - o.frontWing + 2, wy + 5}, {Mid + o.frontWing - 2, wy + 5}), PanelLine, 0.9);
    }
    if (o.rearWing > 0) {
        const double wy = o.rear - (o.twinElementWings ? 16 : 12);
        const double depth = o.twinElementWings ? 13 : 9;
        car.Part(Rect(Mid - o.rearWing, wy, 2 * o.rearWing, depth, 2), QColor(225, 225, 228));
        if (o.twinElementWings)
            car.DetailLine(Line({Mid - o.rearWing + 1, wy + 6}, {Mid + o.rearWing - 1, wy + 6}), QColor(90, 92, 98),
                           1.4);
        car.DetailLine(Line({Mid - o.rearWing + 2, wy + depth - 3}, {Mid + o.rearWing - 2, wy + depth - 3}), PanelLine,
                       0.9);
        car.Part(Mirrored(Rect(Mid - o.rearWing - 2, wy - 3, 3.5, depth + 6, 1)), QColor(70, 70, 74));
    } else {
        // No wing: the engine and gearbox show at the back, with a roll hoop.
        car.Part(Rect(Mid - 9, o.rearAxle - 8, 18, 22, 3), QColor(140, 140, 146));
        car.DetailLine(Rect(Mid - 6, o.rearAxle - 5, 12, 14, 2), QColor(90, 92, 98), 1.2);
        car.Part(Mirrored(Stroke(Line({Mid - 4, o.rear - 6}, {Mid - 4, o.rear - 1}), 3)), QColor(170, 170, 174));
    }
}

std::pair<QImage, QImage> Draw(auto&& drawer) {
    CarCanvas car;
    drawer(car);
    return car.Finish();
}

// Small three-door hatchback: blunt nose, long roof, short steep tail.
ClosedCar Hatchback(bool gtr) {
    ClosedCar c{Layout::Hatch,
                {{16, 26}, {28, 27}, {33, 34}, {34, 54}, {33.5, 100}, {34, 146}, {33, 166}, {29, 173}, {16, 174}},
                52,
                148,
                34,
                34,
                66,
                84,
                150,
                164,
                29,
                {24, 31},
                {6, 3}};
    c.spoiler = true;
    c.gtr = gtr;
    return c;
}

// Tiny city car: short and round, nearly all cabin.
ClosedCar CityCar(bool gtr) {
    ClosedCar c{Layout::Hatch,
                {{12, 44}, {24, 45}, {29, 52}, {31, 66}, {30.5, 100}, {31, 138}, {29, 152}, {23, 157}, {12, 158}},
                64,
                140,
                31,
                31,
                66,
                80,
                136,
                150,
                27,
                {20, 49},
                {5, 3.5}};
    c.gtr = gtr;
    return c;
}

// Rear-drive GT coupe: long bonnet with a scoop, cabin set back, fastback.
ClosedCar GtCoupe(bool gtr) {
    ClosedCar c{
        Layout::Fastback,
        {{10, 8}, {21, 9}, {30, 18}, {36, 44}, {36, 62}, {34.5, 100}, {38, 152}, {37, 176}, {32, 190}, {17, 192}},
        44,
        156,
        36,
        38,
        82,
        102,
        128,
        174,
        28,
        {24, 16},
        {7, 2.4}};
    c.scoop = true;
    c.spoiler = true;
    c.gtr = gtr;
    return c;
}

// Front-drive coupe: wedge nose, cabin in the middle, short boot.
ClosedCar FrontDriveCoupe(bool gtr) {
    ClosedCar c{Layout::Coupe,
                {{14, 12}, {26, 13}, {34, 24}, {37, 48}, {36.5, 100}, {37, 154}, {36, 180}, {33, 189}, {20, 190}},
                46,
                154,
                37,
                37,
                66,
                86,
                132,
                156,
                30,
                {25, 19},
                {7.5, 2.6}};
    c.spoiler = !gtr;
    c.gtr = gtr;
    return c;
}

// Four-wheel-drive saloon: boxy three-box body, scoop and a boot wing.
ClosedCar Saloon() {
    ClosedCar c{Layout::Saloon,
                {{24, 10}, {33, 11}, {38, 20}, {39, 46}, {38.5, 100}, {39, 156}, {38.5, 182}, {35, 191}, {24, 192}},
                46,
                156,
                39,
                39,
                60,
                80,
                132,
                150,
                32,
                {28, 16},
                {6, 3}};
    c.scoop = true;
    c.bootWing = true;
    return c;
}

// Rear-engined sports car: narrow front, round lamps on the wings, wide hips.
ClosedCar SportsCar(bool gtr) {
    ClosedCar c{
        Layout::RearEngine,
        {{10, 12}, {20, 13}, {29, 22}, {33, 50}, {32, 80}, {36, 112}, {41, 150}, {40, 172}, {33, 186}, {18, 190}},
        50,
        152,
        33,
        41,
        62,
        82,
        116,
        140,
        27,
        {23, 27},
        {5.5, 5.5}};
    c.spoiler = !gtr;
    c.gtr = gtr;
    return c;
}

}  // namespace

std::vector<ArtworkFile> DrawCarIcons() {
    const OpenWheeler formulaXr{10, 194, 40, 160, 35, 35, {12, 28}, {16, 32}, 38, 30, false, 18};
    const OpenWheeler formulaV8{4, 196, 38, 162, 36, 35, {13, 28}, {18, 34}, 46, 36, true, 20};
    const OpenWheeler smallSingleSeater{30, 178, 56, 150, 34, 35, {11, 24}, {15, 28}, 0, 0, false, 0};

    const std::pair<const char*, std::pair<QImage, QImage>> icons[] = {
        {"GTI", Draw([](CarCanvas& c) { DrawClosedCar(c, Hatchback(false)); })},
        {"GTTURBO", Draw([](CarCanvas& c) { DrawClosedCar(c, GtCoupe(false)); })},
        {"FXO", Draw([](CarCanvas& c) { DrawClosedCar(c, FrontDriveCoupe(false)); })},
        {"RB4", Draw([](CarCanvas& c) { DrawClosedCar(c, Saloon()); })},
        {"LX4", Draw([](CarCanvas& c) { DrawClubRoadster(c, false); })},
        {"LX6", Draw([](CarCanvas& c) { DrawClubRoadster(c, true); })},
        {"MRT5", Draw([&](CarCanvas& c) { DrawOpenWheeler(c, smallSingleSeater); })},
        {"UF1", Draw([](CarCanvas& c) { DrawClosedCar(c, CityCar(false)); })},
        {"RAC", Draw([](CarCanvas& c) { DrawMidEngineRoadster(c); })},
        {"FZ5", Draw([](CarCanvas& c) { DrawClosedCar(c, SportsCar(false)); })},
        {"FOX", Draw([&](CarCanvas& c) { DrawOpenWheeler(c, formulaXr); })},
        {"XFR", Draw([](CarCanvas& c) { DrawClosedCar(c, Hatchback(true)); })},
        {"UFR", Draw([](CarCanvas& c) { DrawClosedCar(c, CityCar(true)); })},
        {"FO8", Draw([&](CarCanvas& c) { DrawOpenWheeler(c, formulaV8); })},
        {"FXR", Draw([](CarCanvas& c) { DrawClosedCar(c, FrontDriveCoupe(true)); })},
        {"XRR", Draw([](CarCanvas& c) { DrawClosedCar(c, GtCoupe(true)); })},
        {"FZR", Draw([](CarCanvas& c) { DrawClosedCar(c, SportsCar(true)); })},
    };
    std::vector<ArtworkFile> files;
    for (const auto& [name, pictures] : icons) {
        files.push_back({QString("%1.bmp").arg(name), pictures.first});
        files.push_back({QString("%1_MASK.bmp").arg(name), pictures.second});
    }
    return files;
}

}  // namespace gs::art
