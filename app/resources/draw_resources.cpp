// Draws the window side's icons and bitmaps into PNG files: the folder
// images, the application icon, the banner and the About picture. Run by
// hand when a drawing changes:
//   korvel-draw-resources <resources directory> [<desktop icon directory>]
// The second directory receives the application icon in the sizes of the
// desktop's icon theme, as <size>x<size>/apps/<name>.png (data/icons/hicolor).
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>
#include <functional>
#include <initializer_list>

namespace {

using Drawing = std::function<void(QPainter &)>;

const QColor outline(60, 60, 60);

// The desktop's name of the program (its desktop entry and icon).
const char *const app_id = "io.github.korvel.PstRepair";

// The closed outline through corners, edged with pen and filled with fill.
void shape(QPainter &p, std::initializer_list<QPointF> corners, const QPen &pen, const QColor &fill)
{
    QPainterPath path;
    path.moveTo(*corners.begin());
    for (auto corner = corners.begin() + 1; corner != corners.end(); ++corner) {
        path.lineTo(*corner);
    }
    path.closeSubpath();
    p.setPen(pen);
    p.setBrush(fill);
    p.drawPath(path);
}

void folder(QPainter &p, const QColor &fill)
{
    shape(p, {{1.5, 3.5}, {6.0, 3.5}, {7.5, 5.0}, {14.5, 5.0}, {14.5, 13.5}, {1.5, 13.5}},
          QPen(fill.darker(170), 1.0), fill);
    p.setPen(QPen(fill.lighter(130), 1.0));
    p.drawLine(QPointF(2.5, 6.5), QPointF(13.5, 6.5));
}

// A rectangle edged in the outline colour; the pen stays set for what is
// drawn over it.
void box(QPainter &p, const QRectF &r, const QBrush &fill)
{
    p.setPen(QPen(outline, 1.0));
    p.setBrush(fill);
    p.drawRect(r);
}

void envelope(QPainter &p, const QRectF &r, const QColor &fill)
{
    box(p, r, fill);
    p.drawLine(r.topLeft(), QPointF(r.center().x(), r.center().y() + 1));
    p.drawLine(r.topRight(), QPointF(r.center().x(), r.center().y() + 1));
}

void arrow(QPainter &p, QPointF from, QPointF to, const QColor &colour)
{
    p.setPen(QPen(colour, 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    const QPointF d = to - from;
    const double length = std::sqrt(d.x() * d.x() + d.y() * d.y());
    const QPointF u(d.x() / length, d.y() / length);
    const QPointF n(-u.y(), u.x());
    QPainterPath head;
    head.moveTo(to + u * 1.5);
    head.lineTo(to - u * 2.5 + n * 2.5);
    head.lineTo(to - u * 2.5 - n * 2.5);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(head);
}

void tray(QPainter &p, const QColor &fill)
{
    shape(p,
          {{1.5, 9.5},
           {5.0, 9.5},
           {6.0, 11.0},
           {10.0, 11.0},
           {11.0, 9.5},
           {14.5, 9.5},
           {14.5, 14.5},
           {1.5, 14.5}},
          QPen(fill.darker(170), 1.0), fill);
}

const struct
{
    int number;
    Drawing draw;
} icons[] = {
    // 150: the mailbox file itself (the root item, and unknown folders).
    {150,
     [](QPainter &p) {
         box(p, QRectF(2.5, 1.5, 11, 13), QColor(250, 250, 245));
         envelope(p, QRectF(4.5, 6.5, 7, 5), QColor(255, 214, 102));
     }},
    // 151: a plain folder.
    {151, [](QPainter &p) { folder(p, QColor(236, 196, 90)); }},
    // 133: an open folder.
    {133,
     [](QPainter &p) {
         folder(p, QColor(214, 170, 70));
         shape(p, {{3.5, 7.5}, {15.5, 7.5}, {13.5, 13.5}, {1.5, 13.5}},
               QPen(QColor(150, 110, 30), 1.0), QColor(250, 215, 120));
     }},
    // 143: calendar.
    {143,
     [](QPainter &p) {
         box(p, QRectF(1.5, 2.5, 13, 12), Qt::white);
         p.setBrush(QColor(200, 50, 50));
         p.drawRect(QRectF(1.5, 2.5, 13, 3));
         p.setPen(Qt::NoPen);
         p.setBrush(QColor(90, 90, 90));
         for (int row = 0; row < 3; ++row) {
             for (int column = 0; column < 4; ++column) {
                 p.drawRect(QRectF(3 + column * 3, 7 + row * 2.5, 1.6, 1.4));
             }
         }
     }},
    // 145: contacts.
    {145,
     [](QPainter &p) {
         p.setPen(QPen(outline, 1.0));
         p.setBrush(QColor(120, 160, 220));
         p.drawEllipse(QRectF(5, 1.5, 6, 6));
         p.drawChord(QRectF(2, 8, 12, 12), 0, 180 * 16);
     }},
    // 134: deleted items.
    {134,
     [](QPainter &p) {
         box(p, QRectF(3.5, 4.5, 9, 10), QColor(170, 180, 190));
         p.drawRect(QRectF(2.5, 2.5, 11, 2));
         p.drawLine(QPointF(6.5, 6.5), QPointF(6.5, 12.5));
         p.drawLine(QPointF(9.5, 6.5), QPointF(9.5, 12.5));
     }},
    // 135: drafts.
    {135,
     [](QPainter &p) {
         box(p, QRectF(2.5, 1.5, 9, 13), Qt::white);
         p.drawLine(QPointF(4, 4.5), QPointF(10, 4.5));
         p.drawLine(QPointF(4, 6.5), QPointF(10, 6.5));
         p.setPen(QPen(QColor(230, 170, 40), 2.5, Qt::SolidLine, Qt::FlatCap));
         p.drawLine(QPointF(7, 13), QPointF(14, 6));
     }},
    // 136: inbox.
    {136,
     [](QPainter &p) {
         tray(p, QColor(110, 150, 210));
         arrow(p, QPointF(8, 1.5), QPointF(8, 7), QColor(40, 140, 60));
     }},
    // 146: journal.
    {146,
     [](QPainter &p) {
         box(p, QRectF(3.5, 1.5, 10, 13), QColor(130, 80, 160));
         p.setBrush(QColor(240, 235, 220));
         p.drawRect(QRectF(5.5, 3.5, 6, 3));
         p.setPen(QPen(QColor(60, 30, 80), 1.0));
         p.drawLine(QPointF(4.5, 1.5), QPointF(4.5, 14.5));
     }},
    // 137: junk e-mails.
    {137,
     [](QPainter &p) {
         envelope(p, QRectF(1.5, 3.5, 13, 9), QColor(240, 240, 240));
         p.setPen(QPen(QColor(200, 30, 30), 2.0, Qt::SolidLine, Qt::RoundCap));
         p.drawLine(QPointF(9, 9), QPointF(14, 14));
         p.drawLine(QPointF(14, 9), QPointF(9, 14));
     }},
    // 147: notes.
    {147,
     [](QPainter &p) {
         shape(p, {{2.5, 2.5}, {13.5, 2.5}, {13.5, 10.5}, {10.5, 13.5}, {2.5, 13.5}},
               QPen(QColor(160, 140, 20), 1.0), QColor(255, 240, 110));
         p.drawLine(QPointF(10.5, 13.5), QPointF(10.5, 10.5));
         p.drawLine(QPointF(10.5, 10.5), QPointF(13.5, 10.5));
     }},
    // 138: outbox.
    {138,
     [](QPainter &p) {
         tray(p, QColor(110, 150, 210));
         arrow(p, QPointF(8, 8), QPointF(8, 2.5), QColor(210, 120, 30));
     }},
    // 139: sent items.
    {139,
     [](QPainter &p) {
         envelope(p, QRectF(1.5, 5.5, 10, 8), QColor(255, 214, 102));
         arrow(p, QPointF(8, 4), QPointF(13.5, 4), QColor(40, 110, 200));
     }},
    // 148: tasks.
    {148,
     [](QPainter &p) {
         box(p, QRectF(2.5, 2.5, 11, 12), QColor(245, 245, 245));
         p.setBrush(QColor(150, 150, 150));
         p.drawRect(QRectF(5.5, 1.5, 5, 2));
         p.setPen(QPen(QColor(40, 150, 60), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
         p.drawPolyline(QPolygonF({QPointF(5, 8.5), QPointF(7, 11), QPointF(11.5, 5.5)}));
     }},
    // 140: sync issues.
    {140,
     [](QPainter &p) {
         p.setPen(QPen(QColor(200, 120, 20), 2.0, Qt::SolidLine, Qt::FlatCap));
         p.setBrush(Qt::NoBrush);
         p.drawArc(QRectF(3, 3, 10, 10), 30 * 16, 150 * 16);
         p.drawArc(QRectF(3, 3, 10, 10), 210 * 16, 150 * 16);
         arrow(p, QPointF(12.5, 7), QPointF(12.5, 9.5), QColor(200, 120, 20));
         arrow(p, QPointF(3.5, 9), QPointF(3.5, 6.5), QColor(200, 120, 20));
     }},
    // 142: a search folder.
    {142,
     [](QPainter &p) {
         folder(p, QColor(236, 196, 90));
         p.setPen(QPen(outline, 1.5));
         p.setBrush(QColor(220, 235, 250));
         p.drawEllipse(QRectF(6, 6, 5, 5));
         p.drawLine(QPointF(10.5, 10.5), QPointF(13.5, 13.5));
     }},
    // 157: what was recovered outside the folders: a folder under a life ring.
    {157,
     [](QPainter &p) {
         folder(p, QColor(236, 196, 90));
         p.setPen(QPen(QColor(150, 30, 30), 1.0));
         p.setBrush(QColor(225, 60, 50));
         p.drawEllipse(QRectF(6.5, 6.5, 8.5, 8.5));
         p.setBrush(Qt::white);
         p.drawEllipse(QRectF(8.8, 8.8, 3.9, 3.9));
         p.setPen(QPen(Qt::white, 1.6));
         p.drawLine(QPointF(7.6, 10.75), QPointF(8.8, 10.75));
         p.drawLine(QPointF(12.7, 10.75), QPointF(13.9, 10.75));
     }},
    // 141: an archive folder.
    {141,
     [](QPainter &p) {
         box(p, QRectF(1.5, 5.5, 13, 9), QColor(180, 140, 90));
         p.setBrush(QColor(200, 160, 110));
         p.drawRect(QRectF(1.5, 2.5, 13, 3));
         p.setBrush(QColor(240, 230, 210));
         p.drawRect(QRectF(6.5, 7.5, 3, 2));
     }},
};

bool save(const QImage &image, const QString &directory, const QString &name)
{
    const QString path = directory + QStringLiteral("/") + name;
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QImage drawIcon(const Drawing &draw, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    draw(painter);
    return image;
}

void drawAppIcon(QPainter &p)
{
    // A mailbox file under a mending plaster.
    p.setPen(QPen(QColor(30, 60, 110), 1.0));
    p.setBrush(QColor(60, 110, 190));
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 2.5, 2.5);
    envelope(p, QRectF(3.5, 4.5, 9, 7), QColor(255, 214, 102));
    p.save();
    p.translate(8, 8);
    p.rotate(-35);
    p.setPen(QPen(QColor(150, 90, 60), 0.8));
    p.setBrush(QColor(235, 180, 140));
    p.drawRoundedRect(QRectF(-6, -1.6, 12, 3.2), 1.4, 1.4);
    p.restore();
}

QImage drawBanner(int width, int height, const QString &line, const QString &subline)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, width, 0);
    gradient.setColorAt(0, QColor(24, 58, 112));
    gradient.setColorAt(1, QColor(70, 130, 200));
    p.fillRect(image.rect(), gradient);
    const int icon = height * 3 / 4;
    p.drawImage(QRect(height / 8, height / 8, icon, icon), drawIcon(drawAppIcon, icon));
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(height * 2 / 5);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(height, 0, width - height, height * 3 / 5), Qt::AlignLeft | Qt::AlignBottom,
               line);
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(height / 5);
    p.setFont(small);
    p.setPen(QColor(220, 230, 245));
    p.drawText(QRect(height, height * 3 / 5, width - height, height * 2 / 5),
               Qt::AlignLeft | Qt::AlignTop, subline);
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: korvel-draw-resources DIRECTORY [ICON-THEME-DIRECTORY]\n");
        return 2;
    }
    const QString directory = QString::fromLocal8Bit(argv[1]);
    bool ok = true;
    for (const auto &icon : icons) {
        ok = save(drawIcon(icon.draw, 16), directory,
                  QStringLiteral("icon_%1.png").arg(icon.number)) &&
             ok;
    }
    ok = save(drawIcon(drawAppIcon, 32), directory, QStringLiteral("icon_128.png")) && ok;
    ok = save(drawBanner(1000, 76, QStringLiteral("Korvel PST Repair"),
                         QStringLiteral("Look into damaged Outlook mailbox files")),
              directory, QStringLiteral("bitmap_153.png")) &&
         ok;
    QImage about =
        drawBanner(580, 300, QStringLiteral("Korvel PST Repair"), QStringLiteral("Version 7.2"));
    ok = save(about, directory, QStringLiteral("bitmap_156.png")) && ok;
    if (argc == 3) {
        const QString theme = QString::fromLocal8Bit(argv[2]);
        for (const int size : {16, 32, 48, 64, 128, 256}) {
            const QString apps = QStringLiteral("%1/%2x%2/apps").arg(theme).arg(size);
            ok = QDir().mkpath(apps) && ok;
            ok =
                save(drawIcon(drawAppIcon, size), apps, QStringLiteral("%1.png").arg(app_id)) && ok;
        }
    }
    return ok ? 0 : 1;
}
