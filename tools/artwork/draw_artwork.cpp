// Draws the artwork shipped in assets/: the serial cable picture, the splash
// logo, and the program icon (an SVG, and PNGs rendered from that SVG).
//
// The pictures are generated rather than hand-painted so they can be redrawn
// at will, carry no third-party licensing baggage, and can be reproduced from
// this file alone.
//
// Usage: draw_artwork <output-directory>
// Works headless with QT_QPA_PLATFORM=offscreen.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRadialGradient>
#include <QSvgRenderer>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kSize = 300;

double length(QPointF v) {
    return std::hypot(v.x(), v.y());
}

QPointF normalised(QPointF v) {
    const double len = length(v);
    return len > 0.0 ? v / len : QPointF(0.0, 0.0);
}

// ---------------------------------------------------------------------------
// Serial cable
// ---------------------------------------------------------------------------

// Where the cable leaves the strain relief, in plug-local coordinates (the
// plug face is centred on the origin and the hood grows towards +y).
constexpr double kPlugCableExitY = 50.0;

// Appends a cubic Bezier as evenly spaced points (~2 px apart), skipping the
// first point because the caller already has it.
void appendCubic(std::vector<QPointF>& pts, QPointF p0, QPointF p1, QPointF p2, QPointF p3) {
    const double approx = length(p1 - p0) + length(p2 - p1) + length(p3 - p2);
    const int steps = std::max(8, static_cast<int>(approx / 2.0));
    for (int i = 1; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const double u = 1.0 - t;
        pts.push_back(u * u * u * p0 + 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t * p3);
    }
}

QPainterPath polyline(const std::vector<QPointF>& pts, std::size_t from, std::size_t to) {
    QPainterPath path(pts[from]);
    for (std::size_t i = from + 1; i <= to; ++i) {
        path.lineTo(pts[i]);
    }
    return path;
}

// The loose coil: each turn is a slightly smaller ellipse whose centre drifts
// a little, so successive turns lie next to each other instead of on top.
struct Coil {
    QPointF centre{153.0, 140.0};
    // Enters at the top heading right and leaves on the right heading down,
    // so both tails run off towards their plugs without kinking.
    double t0 = -90.0 * kPi / 180.0;
    double t1 = 3.0 * 360.0 * kPi / 180.0;

    QPointF at(double t) const {
        const double s = (t - t0) / (t1 - t0);
        const QPointF c = centre + QPointF(-13.0 + 26.0 * s, -10.0 + 20.0 * s);
        const double rx = 66.0 - 14.0 * s;
        const double ry = 57.0 - 11.0 * s;
        return c + QPointF(rx * std::cos(t), ry * std::sin(t));
    }

    QPointF tangent(double t) const {
        constexpr double h = 1e-4;
        return normalised(at(t + h) - at(t - h));
    }
};

// A cable is drawn as a dark rim, a grey body and a thin light streak. Doing
// that in one go would make every crossing look like a blob, so the cable is
// laid down in short pieces in order: each later piece visibly rests on top
// of whatever it crosses, the way a real coil is stacked.
void drawCable(QPainter& p, const std::vector<QPointF>& pts) {
    const QColor rim(0x1b, 0x1c, 0x1f);
    const QColor body(0x52, 0x56, 0x5c);
    const QColor streak(0x9a, 0xa0, 0xa8);
    constexpr double kRimWidth = 12.0;
    constexpr double kBodyWidth = 8.6;
    constexpr double kStreakWidth = 2.4;

    // Soft contact shadow under the whole cable.
    const QPainterPath all = polyline(pts, 0, pts.size() - 1);
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(QColor(0, 0, 0, 14), kRimWidth + 6.0 - 2.0 * i, Qt::SolidLine, Qt::RoundCap,
                      Qt::RoundJoin));
        p.drawPath(all.translated(2.5, 3.5));
    }

    constexpr std::size_t kPiece = 24;
    // The body of each piece starts a few samples early so that it paints
    // over the seam where the previous piece's rim ended; the streak starts
    // earlier still because its offset would otherwise leave a gap.
    constexpr std::size_t kOverlap = 3;
    for (std::size_t start = 0; start + 1 < pts.size(); start += kPiece) {
        const std::size_t end = std::min(start + kPiece, pts.size() - 1);
        const std::size_t lead = start >= kOverlap ? start - kOverlap : 0;
        const QPainterPath rimPath = polyline(pts, start, end);
        const QPainterPath bodyPath = polyline(pts, lead, end);
        const QPainterPath streakPath =
            polyline(pts, start >= 2 * kOverlap ? start - 2 * kOverlap : 0, end);

        p.setPen(QPen(rim, kRimWidth, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        p.drawPath(rimPath);
        p.setPen(QPen(body, kBodyWidth, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        p.drawPath(bodyPath);
        // Light from the upper left: nudging the streak that way makes the
        // cable read as round without needing a per-segment gradient.
        p.setPen(QPen(streak, kStreakWidth, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        p.drawPath(streakPath.translated(-1.2, -1.5));
    }
}

QLinearGradient metalGradient(QPointF from, QPointF to) {
    QLinearGradient g(from, to);
    g.setColorAt(0.0, QColor(0xf4, 0xf6, 0xf8));
    g.setColorAt(0.45, QColor(0xc8, 0xcd, 0xd3));
    g.setColorAt(0.55, QColor(0xb3, 0xb9, 0xc0));
    g.setColorAt(1.0, QColor(0x86, 0x8d, 0x95));
    return g;
}

QPainterPath roundedPolygon(const QPolygonF& poly, double radius) {
    // Corners are cut back along both edges and joined with a quadratic
    // through the original vertex, which is plenty for small shell corners.
    QPainterPath path;
    const int n = poly.size();
    for (int i = 0; i < n; ++i) {
        const QPointF prev = poly[(i + n - 1) % n];
        const QPointF cur = poly[i];
        const QPointF next = poly[(i + 1) % n];
        const QPointF a = cur + normalised(prev - cur) * radius;
        const QPointF b = cur + normalised(next - cur) * radius;
        if (i == 0) {
            path.moveTo(a);
        } else {
            path.lineTo(a);
        }
        path.quadTo(cur, b);
    }
    path.closeSubpath();
    return path;
}

QPainterPath hoodOutline() {
    QPainterPath hood;
    hood.moveTo(-29.0, 10.0);
    hood.lineTo(29.0, 10.0);
    hood.cubicTo(28.0, 24.0, 17.0, 36.0, 11.0, 41.0);
    hood.lineTo(-11.0, 41.0);
    hood.cubicTo(-17.0, 36.0, -28.0, 24.0, -29.0, 10.0);
    hood.closeSubpath();
    return hood;
}

QPainterPath flangeOutline() {
    QPainterPath flange;
    flange.addRoundedRect(QRectF(-36.0, -14.5, 72.0, 29.0), 3.5, 3.5);
    return flange;
}

void drawThumbScrew(QPainter& p, QPointF c) {
    constexpr double r = 5.8;
    QRadialGradient g(c + QPointF(-1.8, -2.0), r * 1.6);
    g.setColorAt(0.0, QColor(0xff, 0xff, 0xff));
    g.setColorAt(0.5, QColor(0xb4, 0xbb, 0xc3));
    g.setColorAt(1.0, QColor(0x62, 0x69, 0x72));
    p.setPen(QPen(QColor(0x2e, 0x32, 0x37), 1.1));
    p.setBrush(g);
    p.drawEllipse(c, r, r);

    // Knurling around the rim.
    p.setPen(QPen(QColor(0x45, 0x4b, 0x53), 0.9, Qt::SolidLine, Qt::RoundCap));
    constexpr int kTeeth = 18;
    for (int i = 0; i < kTeeth; ++i) {
        const double a = 2.0 * kPi * i / kTeeth;
        const QPointF dir(std::cos(a), std::sin(a));
        p.drawLine(c + dir * (r - 1.6), c + dir * (r - 0.4));
    }

    // Threaded tip poking through the middle.
    p.setPen(QPen(QColor(0x3a, 0x3e, 0x44), 0.8));
    p.setBrush(QColor(0x86, 0x8d, 0x96));
    p.drawEllipse(c, 2.4, 2.4);
    p.setPen(QPen(QColor(0x4a, 0x4f, 0x56), 0.7));
    p.drawLine(c + QPointF(-1.6, 0.0), c + QPointF(1.6, 0.0));
}

void drawPin(QPainter& p, QPointF c) {
    constexpr double r = 1.75;
    QRadialGradient g(c + QPointF(-0.6, -0.7), r * 1.5);
    g.setColorAt(0.0, QColor(0xff, 0xf1, 0xb8));
    g.setColorAt(0.5, QColor(0xe0, 0xb2, 0x3a));
    g.setColorAt(1.0, QColor(0x8a, 0x62, 0x10));
    p.setPen(QPen(QColor(0x5c, 0x40, 0x08), 0.5));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
}

// A 9-way D-sub plug seen from its mating side, with the moulded hood
// trailing off towards the cable.
void drawPlug(QPainter& p, QPointF face, double angleDeg) {
    p.save();
    p.translate(face);
    p.rotate(angleDeg);

    const QPainterPath hood = hoodOutline();
    const QPainterPath flange = flangeOutline();

    // Shadow of the whole plug, in screen space so it falls the same way as
    // the cable's.
    {
        const QTransform local = p.transform();
        p.save();
        p.resetTransform();
        const QPainterPath silhouette = local.map(hood.united(flange));
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 3; ++i) {
            p.setBrush(QColor(0, 0, 0, 16));
            const double grow = 2.0 - i;
            QPainterPathStroker stroker;
            stroker.setWidth(2.0 * grow);
            stroker.setJoinStyle(Qt::RoundJoin);
            const QPainterPath blur =
                grow > 0.0 ? silhouette.united(stroker.createStroke(silhouette)) : silhouette;
            p.drawPath(blur.translated(2.5, 3.5));
        }
        p.restore();
    }

    // Strain relief, ribbed so it reads as flexible rubber.
    {
        QLinearGradient g(-7.0, 0.0, 7.0, 0.0);
        g.setColorAt(0.0, QColor(0x1e, 0x20, 0x23));
        g.setColorAt(0.35, QColor(0x5a, 0x5e, 0x64));
        g.setColorAt(1.0, QColor(0x1e, 0x20, 0x23));
        QPainterPath relief;
        relief.moveTo(-8.0, 39.0);
        relief.lineTo(8.0, 39.0);
        relief.lineTo(6.6, kPlugCableExitY + 2.0);
        relief.lineTo(-6.6, kPlugCableExitY + 2.0);
        relief.closeSubpath();
        p.setPen(QPen(QColor(0x15, 0x16, 0x18), 1.0));
        p.setBrush(g);
        p.drawPath(relief);
        p.setPen(QPen(QColor(0x15, 0x16, 0x18), 0.9));
        for (double y = 42.5; y < kPlugCableExitY + 1.0; y += 3.0) {
            const double half = 8.0 - (y - 39.0) * (1.4 / 13.0);
            p.drawLine(QPointF(-half + 0.6, y), QPointF(half - 0.6, y));
        }
    }

    // Moulded hood.
    {
        QLinearGradient g(-29.0, 0.0, 29.0, 0.0);
        g.setColorAt(0.0, QColor(0x24, 0x26, 0x2a));
        g.setColorAt(0.3, QColor(0x62, 0x67, 0x6e));
        g.setColorAt(0.5, QColor(0x4b, 0x4f, 0x55));
        g.setColorAt(1.0, QColor(0x1f, 0x21, 0x24));
        p.setPen(QPen(QColor(0x15, 0x16, 0x18), 1.2));
        p.setBrush(g);
        p.drawPath(hood);
        // Grip grooves.
        p.setPen(QPen(QColor(0x1a, 0x1b, 0x1e), 1.1, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 3; ++i) {
            const double y = 24.0 + 4.5 * i;
            const double half = 17.0 - 3.2 * i;
            p.drawLine(QPointF(-half, y), QPointF(half, y));
        }
        p.setPen(QPen(QColor(0x7d, 0x83, 0x8a, 150), 0.8, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 3; ++i) {
            const double y = 25.0 + 4.5 * i;
            const double half = 16.5 - 3.2 * i;
            p.drawLine(QPointF(-half, y), QPointF(half, y));
        }
    }

    // Metal flange plate.
    p.setPen(QPen(QColor(0x4a, 0x50, 0x57), 1.2));
    p.setBrush(metalGradient(QPointF(0.0, -14.5), QPointF(0.0, 14.5)));
    p.drawPath(flange);

    // D-shaped shell: the wide side carries five pins, the narrow side four.
    const QPolygonF shellOuter{QPointF(-20.5, -9.5), QPointF(20.5, -9.5), QPointF(17.0, 9.5),
                               QPointF(-17.0, 9.5)};
    const QPolygonF shellInner{QPointF(-18.3, -7.6), QPointF(18.3, -7.6), QPointF(15.2, 7.6),
                               QPointF(-15.2, 7.6)};
    p.setPen(QPen(QColor(0x3e, 0x43, 0x49), 1.1));
    p.setBrush(metalGradient(QPointF(0.0, 9.5), QPointF(0.0, -9.5)));
    p.drawPath(roundedPolygon(shellOuter, 3.5));
    {
        QLinearGradient g(0.0, -7.6, 0.0, 7.6);
        g.setColorAt(0.0, QColor(0x16, 0x17, 0x1a));
        g.setColorAt(1.0, QColor(0x38, 0x3b, 0x40));
        p.setPen(QPen(QColor(0x10, 0x11, 0x13), 0.8));
        p.setBrush(g);
        p.drawPath(roundedPolygon(shellInner, 2.6));
    }

    constexpr double kPitch = 6.6;
    for (int i = 0; i < 5; ++i) {
        drawPin(p, QPointF((i - 2) * kPitch, -3.2));
    }
    for (int i = 0; i < 4; ++i) {
        drawPin(p, QPointF((i - 1.5) * kPitch, 3.4));
    }

    drawThumbScrew(p, QPointF(-29.0, 0.0));
    drawThumbScrew(p, QPointF(29.0, 0.0));

    p.restore();
}

// Plugs are placed by where their cable should come out and in which
// direction, which is what the layout actually cares about.
struct PlugPlacement {
    QPointF exit;
    QPointF direction;  // unit vector from the plug out along the cable

    QPointF face() const { return exit - direction * kPlugCableExitY; }
    // Local +y (towards the cable) has to end up along `direction`.
    double angleDeg() const { return std::atan2(-direction.x(), direction.y()) * 180.0 / kPi; }
};

QImage drawSerialCable() {
    QImage img(kSize, kSize, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);

    const Coil coil;
    const PlugPlacement plugA{QPointF(87.0, 68.0), normalised(QPointF(0.94, 0.34))};
    const PlugPlacement plugB{QPointF(227.0, 206.0), normalised(QPointF(-0.3, -0.95))};

    std::vector<QPointF> pts;
    // Start a little inside the strain relief so no gap shows at its mouth.
    pts.push_back(plugA.exit - plugA.direction * 6.0);
    pts.push_back(plugA.exit);

    const QPointF coilStart = coil.at(coil.t0);
    appendCubic(pts, plugA.exit, plugA.exit + plugA.direction * 30.0,
                coilStart - coil.tangent(coil.t0) * 30.0, coilStart);

    const int coilSteps = static_cast<int>((coil.t1 - coil.t0) * 60.0 / 2.0);
    for (int i = 1; i <= coilSteps; ++i) {
        pts.push_back(coil.at(coil.t0 + (coil.t1 - coil.t0) * i / coilSteps));
    }

    const QPointF coilEnd = coil.at(coil.t1);
    appendCubic(pts, coilEnd, coilEnd + coil.tangent(coil.t1) * 30.0,
                plugB.exit + plugB.direction * 30.0, plugB.exit);
    pts.push_back(plugB.exit - plugB.direction * 6.0);

    drawCable(p, pts);
    drawPlug(p, plugA.face(), plugA.angleDeg());
    drawPlug(p, plugB.face(), plugB.angleDeg());
    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// Splash logo
// ---------------------------------------------------------------------------

QImage drawLogo() {
    QImage img(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    const QColor ink(0x1f, 0x4e, 0x8c);

    // Soft blue tile; the corners stay transparent so the splash window can
    // sit on any desktop without a hard square edge.
    {
        const QRectF tile(6.0, 6.0, kSize - 12.0, kSize - 12.0);
        QLinearGradient g(tile.topLeft(), tile.bottomLeft());
        g.setColorAt(0.0, QColor(0xf1, 0xf7, 0xfe));
        g.setColorAt(1.0, QColor(0xc6, 0xdc, 0xf4));
        p.setPen(QPen(QColor(0x9f, 0xc1, 0xe8), 2.0));
        p.setBrush(g);
        p.drawRoundedRect(tile, 46.0, 46.0);
    }

    // House outline.
    {
        QPen pen(ink, 13.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);

        QPainterPath roof;
        roof.moveTo(78.0, 122.0);
        roof.lineTo(150.0, 56.0);
        roof.lineTo(222.0, 122.0);
        p.drawPath(roof);

        QPainterPath walls;
        walls.moveTo(98.0, 112.0);
        walls.lineTo(98.0, 196.0);
        walls.lineTo(202.0, 196.0);
        walls.lineTo(202.0, 112.0);
        p.drawPath(walls);

        // Chimney rises from the roof slope rather than floating above it.
        QPainterPath chimney;
        chimney.moveTo(184.0, 87.0);
        chimney.lineTo(184.0, 66.0);
        p.drawPath(chimney);
    }

    // Lightning bolt for "power" inside the house.
    {
        const QPolygonF bolt{QPointF(160.0, 100.0), QPointF(129.0, 151.0), QPointF(148.0, 151.0),
                             QPointF(138.0, 186.0), QPointF(173.0, 134.0), QPointF(154.0, 134.0),
                             QPointF(166.0, 100.0)};
        QLinearGradient g(QPointF(150.0, 100.0), QPointF(150.0, 186.0));
        g.setColorAt(0.0, QColor(0xff, 0xcf, 0x4a));
        g.setColorAt(1.0, QColor(0xf2, 0x8a, 0x00));
        p.setPen(QPen(QColor(0xb0, 0x5a, 0x00), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(g);
        p.drawPolygon(bolt);
    }

    // Word mark.
    {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setBold(true);
        font.setPixelSize(44);
        font.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
        p.setFont(font);
        p.setPen(ink);
        p.drawText(QRectF(0.0, 212.0, kSize, 60.0), Qt::AlignHCenter | Qt::AlignVCenter,
                   QStringLiteral("Domivox"));
    }

    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// Program icon
// ---------------------------------------------------------------------------

// The logo's house and bolt without the word mark, which would be unreadable
// at menu and title-bar sizes, grown to fill the tile. The SVG is the master
// so that the scalable icon and every PNG size show exactly the same drawing.
QByteArray iconSvg() {
    return QByteArray(R"svg(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" version="1.1" width="256" height="256" viewBox="0 0 256 256">
  <defs>
    <linearGradient id="tile" gradientUnits="userSpaceOnUse" x1="0" y1="5" x2="0" y2="251">
      <stop offset="0" stop-color="#f1f7fe"/>
      <stop offset="1" stop-color="#c6dcf4"/>
    </linearGradient>
    <linearGradient id="bolt" gradientUnits="userSpaceOnUse" x1="0" y1="100" x2="0" y2="186">
      <stop offset="0" stop-color="#ffcf4a"/>
      <stop offset="1" stop-color="#f28a00"/>
    </linearGradient>
  </defs>
  <rect x="5" y="5" width="246" height="246" rx="40" ry="40" fill="url(#tile)" stroke="#9fc1e8" stroke-width="2"/>
  <g transform="translate(128 131) scale(1.3) translate(-150 -126)">
    <g fill="none" stroke="#1f4e8c" stroke-width="13" stroke-linecap="round" stroke-linejoin="round">
      <path d="M 78 122 L 150 56 L 222 122"/>
      <path d="M 98 112 L 98 196 L 202 196 L 202 112"/>
      <path d="M 184 87 L 184 66"/>
    </g>
    <path d="M 160 100 L 129 151 L 148 151 L 138 186 L 173 134 L 154 134 L 166 100 Z"
          fill="url(#bolt)" stroke="#b05a00" stroke-width="2" stroke-linejoin="round"/>
  </g>
</svg>
)svg");
}

constexpr int kIconSizes[] = {48, 128, 256};

QImage renderIcon(QSvgRenderer& svg, int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    svg.render(&p, QRectF(0, 0, size, size));
    p.end();
    return img;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() &&
           f.flush();
}

}  // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);

    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-directory>\n", argv[0]);
        return 2;
    }
    const QDir outDir(QString::fromLocal8Bit(argv[1]));
    if (!outDir.exists()) {
        std::fprintf(stderr, "%s: no such directory: %s\n", argv[0], argv[1]);
        return 1;
    }

    // BMP consumers are often picky: a plain 24-bit file with no alpha
    // channel is the one flavour everything reads.
    const QImage cable = drawSerialCable().convertToFormat(QImage::Format_RGB888);
    const QString cablePath = outDir.filePath(QStringLiteral("serialcable.bmp"));
    if (!cable.save(cablePath, "BMP")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(cablePath));
        return 1;
    }

    const QString logoPath = outDir.filePath(QStringLiteral("domivox-logo.png"));
    if (!drawLogo().save(logoPath, "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(logoPath));
        return 1;
    }

    const QByteArray svg = iconSvg();
    const QString svgPath = outDir.filePath(QStringLiteral("domivox.svg"));
    QSvgRenderer renderer(svg);
    if (!renderer.isValid() || !writeFile(svgPath, svg)) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(svgPath));
        return 1;
    }
    for (const int size : kIconSizes) {
        const QString path = outDir.filePath(QStringLiteral("domivox-%1.png").arg(size));
        if (!renderIcon(renderer, size).save(path, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(path));
            return 1;
        }
    }
    return 0;
}
