#include "app/logo.h"

#include "drive/driveinfo.h"
#include "platform/ui/controls.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QWidget>
#include <utility>

namespace {

quint32 g_strokeColour = 0;

constexpr quint32 kGrey777 = 0x777777;
constexpr quint32 kYellow = 0x00FFFF;
constexpr quint32 kBarPartner = 0x000008;
constexpr quint32 kGlowStep = 0x050505;

} // namespace

LogoCanvas::LogoCanvas(QImage &image, const QFont &font) : image_(image), font_(font) {}

QFont LogoCanvas::currentFont() const
{
    // Plain pixels, as the picture box printed them (the glow relies on
    // exact colours).
    QFont f = font_;
    f.setStyleStrategy(QFont::NoAntialias);
    if (FontSize > 0)
        f.setPointSizeF(FontSize);
    return f;
}

void LogoCanvas::Line(double x1, double y1, double x2, double y2, quint32 colour)
{
    if (!image_.isNull()) {
        QPainter p(&image_);
        p.setRenderHint(QPainter::Antialiasing, false);
        QPen pen(plat::colorFromVb(colour));
        pen.setCosmetic(true);
        pen.setWidth(1);
        p.setPen(pen);
        p.drawLine(QPointF(x1, y1), QPointF(x2, y2));
    }
    CurrentX = x2;
    CurrentY = y2;
}

double LogoCanvas::TextHeight() const
{
    // Measured against the canvas's own resolution, as the printing is.
    QImage probe(1, 1, QImage::Format_ARGB32);
    probe.setDotsPerMeterX(image_.isNull() ? 3780 : image_.dotsPerMeterX());
    probe.setDotsPerMeterY(image_.isNull() ? 3780 : image_.dotsPerMeterY());
    return QFontMetricsF(currentFont(), &probe).height();
}

void LogoCanvas::Print(const QString &text)
{
    double height = 0;
    if (!image_.isNull()) {
        QPainter p(&image_);
        p.setFont(currentFont());
        p.setPen(plat::colorFromVb(ForeColor));
        const QFontMetricsF m(p.font(), &image_);
        p.drawText(QPointF(CurrentX, CurrentY + m.ascent()), text);
        height = m.height();
    } else {
        height = TextHeight();
    }
    CurrentX = 0;
    CurrentY += height;
}

quint32 LogoStrokeColour() { return g_strokeColour; }
void SetLogoStrokeColour(quint32 colour) { g_strokeColour = colour; }

void LogoStep(LogoCanvas &canvas, const QString &command, int value)
{
    if (command.isEmpty())
        return;
    const double x = canvas.CurrentX, y = canvas.CurrentY;
    switch (command[0].unicode()) {
    case 'c':
        g_strokeColour = quint32(value);
        break;
    case 'u':
        canvas.Line(x, y, x, y - value, g_strokeColour);
        break;
    case 'd':
        canvas.Line(x, y, x, y + value, g_strokeColour);
        break;
    case 'r':
        canvas.Line(x, y, x + value, y, g_strokeColour);
        break;
    case 'e':
        canvas.Line(x, y, x + value, y - value, g_strokeColour);
        break;
    case 'f':
        canvas.Line(x, y, x + value, y + value, g_strokeColour);
        break;
    default:
        break;
    }
}

namespace {

// One pass: n\2 + 1 nested outlines from (x, y).
void logoPass(LogoCanvas &c, int n, int x, int y)
{
    for (int k = 0; k <= n / 2; ++k) {
        c.CurrentX = x + k;
        c.CurrentY = y;
        LogoStep(c, QStringLiteral("c="), int(g_strokeColour));
        LogoStep(c, QStringLiteral("u="), 3 * n + k);
        LogoStep(c, QStringLiteral("e="), n + k);
        LogoStep(c, QStringLiteral("r="), n);
        LogoStep(c, QStringLiteral("f="), n);
        LogoStep(c, QStringLiteral("d="), 3 * n + k);
    }
}

} // namespace

void DrawLogoPattern(LogoCanvas &canvas, int n, int left, int top, quint32 &colour)
{
    if (n < 0)
        return;
    if (colour == 0)
        colour = kGrey777;
    g_strokeColour = colour;

    // The column passes in the colour, each one pixel right and down.
    int x = left, y = top + 5 * n;
    for (int pass = 0; pass < n / 2; ++pass) {
        x += 1;
        logoPass(canvas, n, x, y);
        if (pass + 1 < n / 2)
            y += 1;
    }
    // One pass in yellow at the first place.
    g_strokeColour = kYellow;
    x = left + 1;
    y = top + 5 * n;
    logoPass(canvas, n, x, y);

    // The closing bar, its colours alternating.
    quint32 drawn = g_strokeColour, other = kBarPartner;
    const int lines = n / 2 + 1;
    auto bar = [&](int i, quint32 c) {
        const double h = y - n / 2 - i - 1;
        canvas.Line(x + n / 2 + 2, h, x + 5 * n - i + n / 2, h, c);
    };
    for (int i = 1; i <= lines; ++i) {
        bar(i, drawn);
        std::swap(drawn, other);
    }
    // "other" now holds the colour drawn last.
    if (other < drawn)
        bar(lines + 1, drawn);
    g_strokeColour = drawn;
}

void PrintTextAt(LogoCanvas &canvas, const QString &text, double x, double y, quint32 colour, double fontSize)
{
    const double kept = canvas.FontSize;
    if (fontSize != 0)
        canvas.FontSize = fontSize;
    canvas.CurrentX = x;
    canvas.CurrentY = y;
    canvas.ForeColor = colour;
    canvas.Print(text);
    canvas.FontSize = kept;
}

void PrintGlowText(LogoCanvas &canvas, const QString &text, double x, double y, quint32 colour, double fontSize)
{
    const double kept = canvas.FontSize;
    if (fontSize != 0)
        canvas.FontSize = fontSize;
    quint32 fore = kGlowStep;
    const int s = int(RoundHalfEven(canvas.FontSize));
    for (int i = s; i >= -1; --i) {
        canvas.CurrentX = x + i;
        canvas.CurrentY = y + i;
        canvas.ForeColor = fore;
        canvas.Print(text);
        fore += kGlowStep;
    }
    canvas.CurrentX = x;
    canvas.CurrentY = y;
    canvas.ForeColor = colour;
    canvas.Print(text);
    canvas.FontSize = kept;
}

QImage CanvasImageOf(const plat::PictureBox &box)
{
    QSize size(plat::twipsToPixels(box.ScaleWidth()), plat::twipsToPixels(box.ScaleHeight()));
    if (size.width() < 1 || size.height() < 1)
        size = box.Picture().size();
    if (size.width() < 1 || size.height() < 1)
        return {};
    if (box.Picture().size() == size && box.Picture().format() == QImage::Format_ARGB32)
        return box.Picture();
    QImage image(size, QImage::Format_ARGB32);
    image.fill(plat::colorFromVb(box.BackColor()));
    if (!box.Picture().isNull()) {
        QPainter p(&image);
        p.drawImage(0, 0, box.Picture());
    }
    return image;
}

namespace {

template <typename Fn>
void drawOnBox(plat::PictureBox &box, Fn &&fn)
{
    QImage image = CanvasImageOf(box);
    if (image.isNull())
        return;
    LogoCanvas canvas(image, box.widget() ? box.widget()->font() : QFont());
    canvas.FontSize = box.FontSize();
    fn(canvas);
    box.setPicture(image);
}

} // namespace

void PrintGlowText(plat::PictureBox &box, const QString &text, double x, double y, quint32 colour, double fontSize)
{
    drawOnBox(box, [&](LogoCanvas &c) { PrintGlowText(c, text, x, y, colour, fontSize); });
}

void PrintTextAt(plat::PictureBox &box, const QString &text, double x, double y, quint32 colour, double fontSize)
{
    drawOnBox(box, [&](LogoCanvas &c) { PrintTextAt(c, text, x, y, colour, fontSize); });
}
