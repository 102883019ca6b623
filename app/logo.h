// The program's logo and glowing titles, drawn with line strokes and text on
// a picture: shared by the splash window and the main window's picture view.
//
// Drawing works as on a picture box: a current point (pixels, y growing
// downwards), a fore colour (0x00BBGGRR) and a font size in points. A line
// leaves the current point at its end; printed text has its top at the
// current y, and the point then moves to the start of the next line.
#pragma once

#include <QFont>
#include <QImage>
#include <QString>
#include <cstdint>

namespace plat {
class PictureBox;
}

class LogoCanvas {
public:
    // Draws into image, which must not be null.
    explicit LogoCanvas(QImage &image, const QFont &font = QFont());

    double CurrentX = 0;
    double CurrentY = 0;
    quint32 ForeColor = 0;
    double FontSize = 8;

    // A one-pixel line in the colour, from (x1, y1) to (x2, y2).
    void Line(double x1, double y1, double x2, double y2, quint32 colour);
    // Prints the text in the fore colour.
    void Print(const QString &text);
    // The height of a printed line at the current font size.
    double TextHeight() const;

    QImage &image() { return image_; }

private:
    QFont currentFont() const;
    QImage &image_;
    QFont font_;
};

// The stroke colour of the logo commands; it keeps its value between calls.
quint32 LogoStrokeColour();
void SetLogoStrokeColour(quint32 colour);

// One stroke command: only the first letter of command counts.
//   c  stroke colour = value
//   u  line up by value        d  line down by value
//   r  line right by value     e  line up and right by value
//   f  line down and right by value
// Any other letter does nothing.
void LogoStep(LogoCanvas &canvas, const QString &command, int value);

// The logo pattern of size n at (left, top): n\2 passes in colour, each one
// pixel right of and below the one before, one pass in yellow and a closing
// bar. A colour of 0 becomes &H777777, also in the caller's variable.
void DrawLogoPattern(LogoCanvas &canvas, int n, int left, int top, quint32 &colour);

// The text with a glowing trail: copies from offset size down to -1, each
// one step lighter, then the text itself at (x, y) in the colour. A font
// size of 0 keeps the canvas's; the canvas's font size is restored.
void PrintGlowText(LogoCanvas &canvas, const QString &text, double x, double y, quint32 colour, double fontSize);
// The text once at (x, y) in the colour and font size (0: the canvas's).
void PrintTextAt(LogoCanvas &canvas, const QString &text, double x, double y, quint32 colour, double fontSize);

// A picture box's picture as a canvas image of the box's size in pixels:
// its picture at the top-left corner on the box's back colour.
QImage CanvasImageOf(const plat::PictureBox &box);
// The same routines on a picture box (each call starts from its own point).
void PrintGlowText(plat::PictureBox &box, const QString &text, double x, double y, quint32 colour, double fontSize);
void PrintTextAt(plat::PictureBox &box, const QString &text, double x, double y, quint32 colour, double fontSize);
