// The logo and the glowing titles drawn on a picture, the splash window, the
// rounded panel, and the manual prepared in the chosen language.
#include "tests/app/startup_fixture.h"

#include "app/logo.h"
#include "drive/ui/windowshape.h"

#include <QDir>
#include <QFile>
#include <QWidget>

using namespace app_tests;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

QImage whiteCanvas(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::white);
    return image;
}

bool isColour(const QImage &image, int x, int y, int r, int g, int b)
{
    const QColor c = image.pixelColor(x, y);
    return c.red() == r && c.green() == g && c.blue() == b;
}

int countColour(const QImage &image, const QRect &area, int r, int g, int b)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (isColour(image, x, y, r, g, b))
                ++n;
    return n;
}

} // namespace

TEST(Logo, PatternPassesColoursAndTheCurrentPoint)
{
    EXPECT_EQ(frmRecoverInit::LogoPlace(600, 400), QPoint(183, 238));

    QImage image = whiteCanvas(600, 400);
    LogoCanvas canvas(image);
    const int left = 183, top = 238, n = 12;
    quint32 colour = 0x404040;
    DrawLogoPattern(canvas, n, left, top, colour);
    // The yellow pass (drawn last) starts at (left + 1, top + 5n) and goes up;
    // the sixth grey pass starts 5 pixels right of and below it.
    EXPECT_TRUE(isColour(image, left + 1, top + 5 * n, 255, 255, 0));
    EXPECT_TRUE(isColour(image, left + 1, top + 5 * n - 10, 255, 255, 0));
    EXPECT_TRUE(isColour(image, left + 6, top + 5 * n + 5, 0x40, 0x40, 0x40));
    EXPECT_TRUE(isColour(image, left + 6, top + 5 * n + 1, 0x40, 0x40, 0x40));
    // The closing bar's lines alternate yellow and &H000008 (dark red).
    const int y = top + 5 * n;
    EXPECT_TRUE(isColour(image, left + 1 + 20, y - 6 - 1 - 1, 255, 255, 0));
    EXPECT_TRUE(isColour(image, left + 1 + 20, y - 6 - 2 - 1, 8, 0, 0));
    // The point ends at the last bar line's end; the stroke colour is the
    // partner colour after the seven exchanges.
    EXPECT_EQ(canvas.CurrentX, left + 1 + 59);
    EXPECT_EQ(canvas.CurrentY, y - 14);
    EXPECT_EQ(LogoStrokeColour(), 0x000008u);
    EXPECT_EQ(colour, 0x404040u);

    // Colour 0 draws in &H777777 and comes back to the caller.
    QImage grey = whiteCanvas(600, 400);
    LogoCanvas greyCanvas(grey);
    quint32 none = 0;
    DrawLogoPattern(greyCanvas, n, left, top, none);
    EXPECT_EQ(none, 0x777777u);
    EXPECT_TRUE(isColour(grey, left + 6, top + 5 * n + 5, 0x77, 0x77, 0x77));

    // Unknown commands draw nothing and keep the point.
    LogoCanvas c(grey);
    c.CurrentX = 10;
    c.CurrentY = 10;
    LogoStep(c, "x=", 50);
    LogoStep(c, "", 50);
    EXPECT_EQ(c.CurrentX, 10);
    LogoStep(c, "e=", 5);
    EXPECT_EQ(QPointF(c.CurrentX, c.CurrentY), QPointF(15, 5));
}

TEST(Logo, GlowingTextLeavesAShadowAndKeepsTheFontSize)
{
    QImage image = whiteCanvas(200, 60);
    LogoCanvas canvas(image);
    canvas.FontSize = 10;
    PrintGlowText(canvas, "MMMM", 20, 10, 0x00FFFF, 7);
    EXPECT_EQ(canvas.FontSize, 10) << "the font size is restored";
    EXPECT_GT(countColour(image, QRect(0, 0, 200, 60), 255, 255, 0), 10) << "the text itself in yellow";
    // The first copies are the darkest, furthest down and right.
    EXPECT_GT(countColour(image, QRect(27, 17, 60, 25), 5, 5, 5), 5);
    int lighter = 0;
    for (int k = 2; k <= 9; ++k)
        lighter += countColour(image, QRect(0, 0, 200, 60), 5 * k, 5 * k, 5 * k) > 0;
    EXPECT_GE(lighter, 5) << "each copy one step lighter";
}

TEST_F(FreshHome, SplashShowsThePictureTheLogoAndTheTitle)
{
    frmRecoverInit splash;
    QImage blue(600, 400, QImage::Format_ARGB32);
    blue.fill(QColor(0, 0, 200));
    splash.Picture1.setPicture(blue);
    splash.DrawLogo();
    const QImage drawn = splash.Picture1.Picture();
    ASSERT_EQ(drawn.size(), QSize(600, 400));
    EXPECT_TRUE(isColour(drawn, 184, 238 + 60, 255, 255, 0));
    // The two yellow lines right of the pattern.
    EXPECT_GT(countColour(drawn, QRect(250, 270, 300, 30), 255, 255, 0), 50);
    EXPECT_TRUE(isColour(drawn, 5, 5, 0, 0, 200)) << "the picture stays around the logo";
    EXPECT_TRUE(frmRecoverInit::TitleLine().startsWith("Quilvane Media Recovery    loading"));
    EXPECT_TRUE(frmRecoverInit::MakerLine().endsWith(QString::number(QDate::currentDate().year())));

    // The picture the splash takes: Lastpict.bmp, else the first back.*.
    const QString work = plat::programFolder() + "ZTRecdt\\";
    QDir().mkpath(homeFile("ZTRecdt"));
    EXPECT_EQ(SplashPicturePath(work), QString());
    InstallShippedBackground(work);
    EXPECT_EQ(SplashPicturePath(work), work + "back.jpg");
    ASSERT_TRUE(writeFileBytes(homeFile("ZTRecdt/BACK.png"), "x"));
    EXPECT_EQ(SplashPicturePath(work), work + "back.jpg") << "sorted without regard to case";
    ASSERT_TRUE(writeFileBytes(homeFile("ZTRecdt/Lastpict.bmp"), "x"));
    EXPECT_EQ(SplashPicturePath(work), work + "Lastpict.bmp");
}

TEST_F(FreshHome, RoundedPanelFollowsItsSize)
{
    plat::Form form;
    plat::PictureBox box(&form);
    form.Show();
    box.Move(0, 0, 1500, 1500);   // 100 x 100 pixels
    MakeRoundWindow(box, 20);
    QWidget *wb = box.widget();
    ASSERT_TRUE(wb);
    EXPECT_FALSE(wb->mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(wb->mask().contains(QPoint(50, 50)));
    EXPECT_TRUE(wb->mask().contains(QPoint(99, 50)));
    box.Move(0, 0, 3000, 1500);
    EXPECT_TRUE(wb->mask().contains(QPoint(180, 50))) << "the shape grows with the panel";
    EXPECT_FALSE(wb->mask().contains(QPoint(199, 0)));
}

TEST_F(FreshHome, ManualIsPreparedInTheChosenLanguage)
{
    const QString manual = homeFile("Manual");
    // The pages that come with the program, in every language.
    InstallShippedManual();
    for (const char *language : {"English", "Deutsch", "Nederlands"}) {
        EXPECT_TRUE(QFile::exists(manual + "/" + language + "/Quilvane Pro - hilfe.html")) << language;
        EXPECT_TRUE(QFile::exists(manual + "/" + language + "/images/mainwindow.png")) << language;
    }
    SetCurrentLanguageId(1031);
    PrepareManual();
    const QByteArray german = readFileBytes(manual + "/Deutsch/Quilvane Pro - hilfe.html");
    EXPECT_EQ(readFileBytes(manual + "/Manual.htm"), german);
    EXPECT_TRUE(german.contains("lang=\"de\""));
    EXPECT_TRUE(QFile::exists(manual + "/images/mainwindow.png"));

    // A language folder's own pages; hidden ones stay behind; pages only the
    // previous language had stay in place.
    ASSERT_TRUE(writeFileBytes(manual + "/English/only-english.html", "en"));
    SetCurrentLanguageId(9);
    PrepareManual();
    ASSERT_TRUE(writeFileBytes(manual + "/Deutsch/a.html", "a"));
    ASSERT_TRUE(writeFileBytes(manual + "/Deutsch/.hidden", "h"));
    ASSERT_TRUE(writeFileBytes(manual + "/Deutsch/images/x.png", "x"));
    SetCurrentLanguageId(1031);
    PrepareManual();
    EXPECT_EQ(readFileBytes(manual + "/a.html"), "a");
    EXPECT_FALSE(QFile::exists(manual + "/.hidden"));
    EXPECT_EQ(readFileBytes(manual + "/images/x.png"), "x");
    EXPECT_EQ(readFileBytes(manual + "/only-english.html"), "en");
    EXPECT_EQ(readFileBytes(manual + "/Manual.htm"), german);

    // An empty Dutch folder gives the English pages.
    QDir(manual + "/Nederlands").removeRecursively();
    QDir().mkpath(manual + "/Nederlands");
    SetCurrentLanguageId(1043);
    PrepareManual();
    EXPECT_EQ(readFileBytes(manual + "/Manual.htm"), readFileBytes(manual + "/English/Quilvane Pro - hilfe.html"));

    // A language folder without its start page leaves Manual.htm as it was.
    const QByteArray before = readFileBytes(manual + "/Manual.htm");
    QFile::remove(manual + "/Deutsch/Quilvane Pro - hilfe.html");
    SetCurrentLanguageId(1031);
    PrepareManual();
    EXPECT_EQ(readFileBytes(manual + "/Manual.htm"), before);
    SetCurrentLanguageId(9);
}
