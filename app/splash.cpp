#include "app/splash.h"

#include "app/frmrecover.h"
#include "app/logo.h"
#include "drive/driveinfo.h"
#include "drive/strings.h"

#include <QDate>
#include <QWidget>
#include <memory>

namespace {

// The splash's size: a picture of 600 x 400 pixels.
constexpr double kWidthTwips = 9000;
constexpr double kHeightTwips = 6000;

std::unique_ptr<frmRecoverInit> g_splash;

} // namespace

frmRecoverInit::frmRecoverInit()
{
    if (QWidget *w = widget())
        w->setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    const QRect screen = plat::screenRectPixels();
    const double left = plat::pixelsToTwips(screen.x()) + (plat::pixelsToTwips(screen.width()) - kWidthTwips) / 2;
    const double top = plat::pixelsToTwips(screen.y()) + (plat::pixelsToTwips(screen.height()) - kHeightTwips) / 2;
    Move(std::max(0.0, left), std::max(0.0, top), kWidthTwips, kHeightTwips);
    Picture1.setBorderStyle(0);
    Picture1.setBackColor(0x202020);
    Picture1.Move(0, 0, kWidthTwips, kHeightTwips);
}

QString frmRecoverInit::TitleLine()
{
    return GetString(2254, QStringLiteral("Quilvane Media Recovery")) + QStringLiteral("    ")
         + GetString(1654, QStringLiteral("loading")) + QStringLiteral(".....");
}

QString frmRecoverInit::MakerLine()
{
    return FormatString(GetString(2255, QStringLiteral("Copyright Zentarix Software %0")),
                        {QString::number(QDate::currentDate().year())});
}

QPoint frmRecoverInit::LogoPlace(int widthPx, int heightPx)
{
    return QPoint(int(RoundHalfEven((widthPx - 280) / 1.75)), int(RoundHalfEven(heightPx / 1.68)));
}

void frmRecoverInit::DrawLogo()
{
    const QString title = TitleLine();
    const QString maker = MakerLine();
    frmRecover *main = MainWindowIfMade();
    if (main && main->GetBitsPerPixel(Picture1) >= 24)
        main->AddRandomNoise(Picture1);
    Picture1.setFontSize(7);

    QImage image = CanvasImageOf(Picture1);
    if (image.isNull())
        return;
    LogoCanvas canvas(image, widget() ? widget()->font() : QFont());
    canvas.FontSize = 7;
    const QPoint at = LogoPlace(image.width(), image.height());
    quint32 colour = 0x404040;
    DrawLogoPattern(canvas, 12, at.x(), at.y(), colour);
    const double x = RoundHalfEven(canvas.CurrentX + 10);
    const double y = RoundHalfEven(canvas.CurrentY + 5);
    PrintGlowText(canvas, title, x, y - 13, 0x444444, canvas.FontSize);
    PrintGlowText(canvas, maker, x, y, 0x444444, canvas.FontSize);
    PrintTextAt(canvas, title, x, y - 13, 0x00FFFF, canvas.FontSize);
    PrintTextAt(canvas, maker, x, y, 0x00FFFF, canvas.FontSize);
    Picture1.setPicture(image);
}

void frmRecoverInit::Whiten()
{
    if (frmRecover *main = MainWindowIfMade())
        main->AddRandomNoise(Picture1);
}

frmRecoverInit *SplashFormIfMade() { return g_splash.get(); }

frmRecoverInit &SplashForm()
{
    if (!g_splash)
        g_splash = std::make_unique<frmRecoverInit>();
    return *g_splash;
}

void UnloadSplashForm()
{
    if (frmRecover *main = MainWindowIfMade())
        if (main->SplashWindow == g_splash.get())
            main->SplashWindow = nullptr;
    if (g_splash)
        g_splash->Hide();
    g_splash.reset();
}
