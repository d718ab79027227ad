// Draws the program's pictures: the nine toolbar icons of the "Win10" theme, the Brindlemoor logo
// and the application icon (Windows .ico and the Linux hicolor PNGs).
//
// Every size is drawn from its own hand-placed coordinates so that straight strokes sit exactly
// on the pixel grid and the small sizes stay crisp. Output is 8-bit RGBA PNG, not interlaced.
//
// Usage: drawart <app directory>   (scripts: app/art/redraw)

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

const QColor ink(0, 0, 0); // the glyphs: plain black, the theme is monochrome
const QColor logoInk(0x1c, 0x1c, 0x1e); // the wordmark: near-black

QImage blank(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

bool savePng(const QImage &image, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Non-premultiplied ARGB32 is written as colour type 6 with 8 bits per channel.
    if (!image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s\n", qPrintable(path));
    return true;
}

// A pen whose strokes of width w end on pixel edges when drawn through the given centres.
QPen strokePen(qreal width)
{
    QPen pen(ink, width);
    pen.setCapStyle(Qt::SquareCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

// Fills whole pixels: columns x0..x1 and rows y0..y1, inclusive.
void pixels(QPainter &p, int x0, int y0, int x1, int y1, const QColor &color = ink)
{
    p.fillRect(QRect(QPoint(x0, y0), QPoint(x1, y1)), color);
}

// --- document-open: a door swinging open (inward), hinged on the left of its frame -------------

struct DoorGeometry
{
    int stroke; // line width in pixels
    int left, top, right, bottom; // the frame, outer pixel edges inclusive (columns/rows)
    int freeEdge; // column of the leaf's free edge (its outer pixel column)
    int recede; // how far the free edge's ends move in from the frame's top and bottom
    QRect knob; // the door knob, whole pixels
};

void drawDocumentOpen(QPainter &p, const DoorGeometry &g)
{
    const int s = g.stroke;
    // Frame: four straight strokes of whole pixels.
    pixels(p, g.left, g.top, g.right, g.top + s - 1);
    pixels(p, g.left, g.bottom - s + 1, g.right, g.bottom);
    pixels(p, g.left, g.top, g.left + s - 1, g.bottom);
    pixels(p, g.right - s + 1, g.top, g.right, g.bottom);
    // The leaf's free edge, shorter because it has swung away from the viewer.
    const int edgeTop = g.top + g.recede;
    const int edgeBottom = g.bottom - g.recede;
    pixels(p, g.freeEdge - s + 1, edgeTop, g.freeEdge, edgeBottom);
    // Top and bottom of the leaf: slanted, from the hinge corners to the free edge.
    p.setRenderHint(QPainter::Antialiasing, true);
    QPen pen = strokePen(s);
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    const qreal half = s / 2.0;
    const qreal hingeX = g.left + half;
    const qreal edgeX = g.freeEdge - s + 1 + half;
    p.drawLine(QPointF(hingeX, g.top + half), QPointF(edgeX, edgeTop + half));
    p.drawLine(QPointF(hingeX, g.bottom + 1 - half), QPointF(edgeX, edgeBottom + 1 - half));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(g.knob, ink);
}

// --- help-about: a speech balloon with the letter i --------------------------------------------

struct BalloonGeometry
{
    qreal stroke;
    QRectF body; // stroke centre line of the balloon's body
    qreal radius; // corner radius of the body
    QPointF tailStart, tailTip, tailEnd; // the tail, on the body's bottom edge and below it
    QRect dot, stem; // the letter i, whole pixels
};

void drawHelpAbout(QPainter &p, const BalloonGeometry &g)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath outline;
    const QRectF &b = g.body;
    const qreal r = g.radius;
    // Clockwise from the tail's right end along the bottom, around the body, back to the tail.
    outline.moveTo(g.tailEnd);
    outline.lineTo(b.right() - r, b.bottom());
    outline.arcTo(QRectF(b.right() - 2 * r, b.bottom() - 2 * r, 2 * r, 2 * r), 270, 90);
    outline.lineTo(b.right(), b.top() + r);
    outline.arcTo(QRectF(b.right() - 2 * r, b.top(), 2 * r, 2 * r), 0, 90);
    outline.lineTo(b.left() + r, b.top());
    outline.arcTo(QRectF(b.left(), b.top(), 2 * r, 2 * r), 90, 90);
    outline.lineTo(b.left(), b.bottom() - r);
    outline.arcTo(QRectF(b.left(), b.bottom() - 2 * r, 2 * r, 2 * r), 180, 90);
    outline.lineTo(g.tailStart);
    outline.lineTo(g.tailTip);
    outline.closeSubpath();
    QPen pen = strokePen(g.stroke);
    pen.setJoinStyle(Qt::MiterJoin);
    p.setPen(pen);
    p.drawPath(outline);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(g.dot, ink);
    p.fillRect(g.stem, ink);
}

// --- application-exit: a door frame with an arrow pointing out to the right --------------------

struct ExitGeometry
{
    int stroke;
    int left, top, right, bottom; // the frame, outer pixel edges inclusive
    int gapTop, gapBottom; // rows left open in the frame's right side, where the arrow leaves
    int shaftRow; // first row of the arrow's shaft
    int shaftStart; // first column of the shaft
    int tip; // last column of the arrow
    int head; // length of each arm of the head, in pixels along each axis
};

void drawApplicationExit(QPainter &p, const ExitGeometry &g)
{
    const int s = g.stroke;
    // Frame: top, bottom and left side whole, right side open around the arrow.
    pixels(p, g.left, g.top, g.right, g.top + s - 1);
    pixels(p, g.left, g.bottom - s + 1, g.right, g.bottom);
    pixels(p, g.left, g.top, g.left + s - 1, g.bottom);
    pixels(p, g.right - s + 1, g.top, g.right, g.gapTop - 1);
    pixels(p, g.right - s + 1, g.gapBottom + 1, g.right, g.bottom);
    // Shaft.
    pixels(p, g.shaftStart, g.shaftRow, g.tip, g.shaftRow + s - 1);
    // Head: two 45-degree arms meeting at the tip.
    p.setRenderHint(QPainter::Antialiasing, true);
    QPen pen = strokePen(s);
    pen.setCapStyle(Qt::SquareCap);
    p.setPen(pen);
    const qreal half = s / 2.0;
    const QPointF tip(g.tip + 1 - half - (s > 1 ? 0.5 : 0.0), g.shaftRow + half);
    p.drawLine(tip, tip + QPointF(-g.head, -g.head));
    p.drawLine(tip, tip + QPointF(-g.head, g.head));
}

// The 16-pixel icons are drawn pixel by pixel: at this size no outline survives anti-aliasing.
// '#' is an ink pixel, '.' is transparent.
const char *const documentOpen16[] = {
    "................", //
    "..############..", //
    "..###........#..", //
    "..#..##......#..", //
    "..#....###...#..", //
    "..#......#...#..", //
    "..#......#...#..", //
    "..#....#.#...#..", //
    "..#....#.#...#..", //
    "..#......#...#..", //
    "..#......#...#..", //
    "..#....###...#..", //
    "..#..##......#..", //
    "..###........#..", //
    "..############..", //
    "................", //
};
const char *const helpAbout16[] = {
    "................", //
    "..############..", //
    ".#............#.", //
    ".#.....##.....#.", //
    ".#.....##.....#.", //
    ".#............#.", //
    ".#.....##.....#.", //
    ".#.....##.....#.", //
    ".#.....##.....#.", //
    ".#.....##.....#.", //
    ".#............#.", //
    "..###..#######..", //
    "....#.#.........", //
    "....##..........", //
    "....#...........", //
    "................", //
};
const char *const applicationExit16[] = {
    "................", //
    "................", //
    ".#########......", //
    ".#.......#......", //
    ".#.......#......", //
    ".#.......#.#....", //
    ".#..........#...", //
    ".#...........#..", //
    ".#...##########.", //
    ".#...........#..", //
    ".#..........#...", //
    ".#.......#.#....", //
    ".#.......#......", //
    ".#.......#......", //
    ".#########......", //
    "................", //
};

void drawPixelMap(QPainter &p, const char *const (&rows)[16])
{
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (rows[y][x] == '#')
                p.fillRect(x, y, 1, 1, ink);
}

// The hand-placed geometry of the larger sizes.
const DoorGeometry door24 {2, 3, 1, 20, 22, 12, 5, QRect(8, 11, 2, 2)};
const DoorGeometry door32 {2, 4, 2, 27, 29, 16, 6, QRect(12, 15, 2, 2)};

const BalloonGeometry balloon24 {2,
                                 QRectF(2, 2, 20, 15),
                                 4,
                                 QPointF(6, 17),
                                 QPointF(6, 22),
                                 QPointF(11, 17),
                                 QRect(11, 5, 2, 2),
                                 QRect(11, 8, 2, 6)};
const BalloonGeometry balloon32 {2,
                                 QRectF(3, 3, 26, 20),
                                 5,
                                 QPointF(8, 23),
                                 QPointF(8, 29),
                                 QPointF(14, 23),
                                 QRect(15, 7, 2, 3),
                                 QRect(15, 12, 2, 8)};

const ExitGeometry exit24 {2, 2, 1, 14, 22, 8, 15, 11, 7, 22, 5};
const ExitGeometry exit32 {2, 3, 2, 18, 29, 10, 21, 15, 9, 29, 6};

bool drawIcon(const QString &path, int size, const std::function<void(QPainter &)> &draw)
{
    QImage image = blank(size, size);
    {
        QPainter p(&image);
        draw(p);
    }
    return savePng(image, path);
}

bool drawThemeIcons(const QString &appDir)
{
    const QString base = appDir + u"/icons/Win10/"_s;
    bool ok = true;
    const QString dir16 = base + u"16x16/"_s;
    ok &= drawIcon(dir16 + u"document-open.png"_s, 16,
                   [](QPainter &p) { drawPixelMap(p, documentOpen16); });
    ok &= drawIcon(dir16 + u"help-about.png"_s, 16,
                   [](QPainter &p) { drawPixelMap(p, helpAbout16); });
    ok &= drawIcon(dir16 + u"application-exit.png"_s, 16,
                   [](QPainter &p) { drawPixelMap(p, applicationExit16); });
    const struct
    {
        int size;
        const DoorGeometry &door;
        const BalloonGeometry &balloon;
        const ExitGeometry &exit;
    } sizes[] = {{24, door24, balloon24, exit24}, {32, door32, balloon32, exit32}};
    for (const auto &s : sizes) {
        const QString dir = base + u"%1x%1/"_s.arg(s.size);
        ok &= drawIcon(dir + u"document-open.png"_s, s.size,
                       [&](QPainter &p) { drawDocumentOpen(p, s.door); });
        ok &= drawIcon(dir + u"help-about.png"_s, s.size,
                       [&](QPainter &p) { drawHelpAbout(p, s.balloon); });
        ok &= drawIcon(dir + u"application-exit.png"_s, s.size,
                       [&](QPainter &p) { drawApplicationExit(p, s.exit); });
    }
    return ok;
}

// --- the logo: the wordmark ----------------------------------------------------------------------

QFont wordmarkFont(int pixelSize)
{
    // DejaVu Sans Bold (fonts-dejavu-core): sturdy shapes that survive being scaled down.
    QFont font(u"DejaVu Sans"_s);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

bool drawLogo(const QString &appDir)
{
    QImage image = blank(249, 63);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        QPainterPath text;
        text.addText(0, 0, wordmarkFont(40), u"Brindlemoor"_s);
        const QRectF bounds = text.boundingRect();
        // The word fills the width, so that it still reads where the window scales it down
        // to the height of its toolbar.
        const QRectF room(4, 4, 241, 55);
        const qreal scale = qMin(room.width() / bounds.width(), room.height() / bounds.height());
        QTransform t;
        t.translate(room.center().x() - bounds.width() * scale / 2, room.center().y());
        t.scale(scale, scale);
        t.translate(-bounds.left(), -bounds.center().y());
        p.fillPath(t.map(text), logoInk);
    }
    return savePng(image, appDir + u"/Brindlemoor.png"_s);
}

// --- the application icon: a transmitter mast sending on a dark tile ---------------------------

// At 16 pixels the mast is placed by hand: 'b' tile, 'w' white, '.' transparent.
const char *const appIcon16[] = {
    ".bbbbbbbbbbbbbb.", //
    "bbbbbbbbbbbbbbbb", //
    "bbbwbbbbbbbbwbbb", //
    "bbwbbbbwwbbbbwbb", //
    "bbwbbbwwwwbbbwbb", //
    "bbwbbbwwwwbbbwbb", //
    "bbbwbbbwwbbbwbbb", //
    "bbbbbbbwwbbbbbbb", //
    "bbbbbbwbbwbbbbbb", //
    "bbbbbbwbbwbbbbbb", //
    "bbbbbwwwwwwbbbbb", //
    "bbbbbwbbbbwbbbbb", //
    "bbbbwbbbbbbwbbbb", //
    "bbbbwbbbbbbwbbbb", //
    "bbbbbbbbbbbbbbbb", //
    ".bbbbbbbbbbbbbb.", //
};

QImage appIcon(int size)
{
    const QColor tile(0x1f, 0x4e, 0x79);
    const QColor white(0xff, 0xff, 0xff);
    QImage image = blank(size, size);
    if (size == 16) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (appIcon16[y][x] != '.')
                    image.setPixelColor(x, y, appIcon16[y][x] == 'w' ? white : tile);
        return image;
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    const qreal u = size / 16.0; // drawn on a 16-unit grid
    const qreal inset = size >= 48 ? u * 0.5 : 0;
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(inset, inset, size - 2 * inset, size - 2 * inset), u * 3, u * 3);

    const qreal line = size <= 32 ? 2.0 : u * 1.1;
    QPen pen(white, line);
    pen.setCapStyle(size <= 32 ? Qt::FlatCap : Qt::RoundCap);
    pen.setJoinStyle(Qt::MiterJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    // Mast: a narrow A-frame under the aerial.
    const qreal cx = size / 2.0;
    const qreal top = u * 7;
    const qreal foot = size - u * 2.5;
    const qreal spread = u * 2.75;
    p.drawLine(QPointF(cx, top), QPointF(cx - spread, foot));
    p.drawLine(QPointF(cx, top), QPointF(cx + spread, foot));
    p.drawLine(QPointF(cx - spread * 0.55, top + (foot - top) * 0.55),
               QPointF(cx + spread * 0.55, top + (foot - top) * 0.55));
    // Aerial: a filled dot.
    p.setPen(Qt::NoPen);
    p.setBrush(white);
    const qreal dot = qMax(u * 1.25, 1.5);
    p.drawEllipse(QPointF(cx, u * 5.5), dot, dot);
    // Waves: two arcs on each side of the aerial.
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 2; ++i) {
        const qreal r = u * (3.0 + 2.25 * i);
        const QRectF arc(cx - r, u * 5.5 - r, 2 * r, 2 * r);
        p.drawArc(arc, 135 * 16, 90 * 16); // left
        p.drawArc(arc, -45 * 16, 90 * 16); // right
    }
    return image;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Writes a Windows icon file whose images are all stored as PNG (allowed since Windows Vista).
bool writeIco(const QString &path, const QList<int> &sizes)
{
    QList<QByteArray> images;
    for (int size : sizes)
        images.append(pngBytes(appIcon(size)));

    QByteArray ico;
    auto put16 = [&](quint16 v) {
        const quint16 le = qToLittleEndian(v);
        ico.append(reinterpret_cast<const char *>(&le), 2);
    };
    auto put32 = [&](quint32 v) {
        const quint32 le = qToLittleEndian(v);
        ico.append(reinterpret_cast<const char *>(&le), 4);
    };
    put16(0); // reserved
    put16(1); // type: icon
    put16(quint16(sizes.size()));
    quint32 offset = 6 + 16 * quint32(sizes.size());
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        const int size = sizes.at(i);
        ico.append(char(size >= 256 ? 0 : size)); // width, 0 means 256
        ico.append(char(size >= 256 ? 0 : size)); // height
        ico.append(char(0)); // no palette
        ico.append(char(0)); // reserved
        put16(1); // colour planes
        put16(32); // bits per pixel
        put32(quint32(images.at(i).size()));
        put32(offset);
        offset += quint32(images.at(i).size());
    }
    for (const QByteArray &png : images)
        ico.append(png);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(ico) != ico.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s\n", qPrintable(path));
    return true;
}

bool drawAppIcons(const QString &appDir)
{
    bool ok = writeIco(appDir + u"/windows/TsTxUpdater.ico"_s, {256, 48, 32, 16});
    for (int size : {16, 32, 48, 256})
        ok &= savePng(appIcon(size), appDir + u"/linux/icons/%1x%1.png"_s.arg(size));
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: drawart <app directory>\n");
        return 2;
    }
    const QString &appDir = args.at(1);
    const bool ok = drawThemeIcons(appDir) & drawLogo(appDir) & drawAppIcons(appDir);
    return ok ? 0 : 1;
}
