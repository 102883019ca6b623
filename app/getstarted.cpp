// The Get Started panel: short instructions printed on Picture7 in place of
// the found files while the cache is empty.
#include "app/getstarted.h"

#include "app/frmrecover.h"
#include "drive/files.h"
#include "drive/strings.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kFontSize = 7.5;
constexpr double kMinFontSize = 6;
constexpr double kPanelLeft = 75;
constexpr double kPanelWidth = 6325;
constexpr double kRightMargin = 75;   // between the panel and the found-file list's right edge
constexpr int kTitleWidth = 78;

QString line(int number, const char *english, int lead = 1)
{
    return QString(lead, QLatin1Char(' ')) + GetString(number, QString::fromUtf8(english));
}

} // namespace

QStringList GetStartedLines()
{
    const QString title = GetString(1454, QStringLiteral("Get Started"));
    const QString help = GetString(873, QStringLiteral("Press Help for the manual."));
    const int blanks = std::max(1, kTitleWidth - int(title.size()) - int(help.size()));
    return {
        QLatin1Char(' ') + title + QString(blanks, QLatin1Char(' ')) + help,
        QString(),
        line(1455, "Connect your media to the computer."),
        line(1456, "Quilvane will detect your removable medium automatically."),
        line(1457, "Choose another drive if the desired drive is another one."),
        QString(),
        line(1458, "There are two choices for recovering with different results:"),
        line(1459, "'Quick Undelete' searches directories for deleted files.", 3),
        line(1460, "'Scan' performs a thorough scan of the whole medium.", 3),
        QString(),
        line(1461, "The 'SearchTypes' are used for file types to be recovered."),
        line(1462, "Press the \u2018SearchTypes\u2019 button and check the wanted and uncheck the"),
        line(1463, "unwanted file types with a mouse click in the check boxes."),
        QString(),
        line(1464, "Check 'Deepscan' if the medium is reformatted with another format."),
        line(1465, "Press \u2018Scan\u2019 and Quilvane starts scanning the whole medium."),
        line(1466, "At the bottom of the screen, you will see the results while scanning."),
        QString(),
        line(1467, "When scanning is finished, press \u2018Save All\u2019 for saving all recovered"),
        line(1468, "files to a folder of your choice.              Press Help for troubleshooting."),
    };
}

void frmRecover::ShowGetStarted()
{
    if (!Picture7.Visible()) {
        if (CountFolderFiles(CacheRoot) > 0) {
            Picture7.setVisible(false);
            return;
        }
        FoundFilePaths = QStringList{QString()};
        ItemOrientations.assign(1, 0.0f);
        List3.Clear();
        ClearFileView();

        DrawGetStartedPanel();
        Picture7.setVisible(true);
        Picture7.ZOrder(0);
    }
    if (Picture7.Visible()) {
        LvwTypes.setVisible(false);
        CmbTypeSelect.setVisible(false);
        List1.setVisible(false);
        List2.setVisible(false);
        Picture1.setVisible(true);
        UpdateDriveInfoLabel();
    }
}

void frmRecover::DrawGetStartedPanel()
{
    // The lines at 7.5 points on a panel as wide as the found-file list; a
    // translation too wide for it gets a smaller font.
    const QStringList lines = GetStartedLines();
    Picture7.setFontSize(kFontSize);
    QFont font = Picture7.widget() ? Picture7.widget()->font() : QFont();
    font.setPointSizeF(kFontSize);
    QImage probe(1, 1, QImage::Format_RGB32);   // text is measured as it is drawn
    auto widestOf = [&](const QFont &f) {   // twips, with a small margin
        double widest = 0;
        for (const QString &l : lines)
            widest = std::max(widest, QFontMetricsF(f, &probe).horizontalAdvance(l) * plat::kTwipsPerPixel + 120);
        return widest;
    };
    const double width = std::max(kPanelWidth, List3.Width() - kPanelLeft - kRightMargin);
    while (widestOf(font) > width && font.pointSizeF() > kMinFontSize)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    Picture7.setFontSize(font.pointSizeF());
    Picture7.Cls();
    Picture7.setLeft(kPanelLeft);
    Picture7.setWidth(width);

    const QFontMetricsF metrics(font, &probe);
    const int lineHeight = int(std::ceil(metrics.lineSpacing()));
    const int textHeight = lineHeight * int(lines.size()) + 4;
    QImage image(std::max(1, plat::twipsToPixels(width)),
                 std::max(textHeight, plat::twipsToPixels(Picture7.Height())), QImage::Format_RGB32);
    image.fill(plat::colorFromVb(Picture7.BackColor()));
    Picture7.setBackColor(Picture7.BackColor());   // the panel's own colour below the text too
    {
        QPainter p(&image);
        p.setFont(font);
        p.setPen(plat::colorFromVb(Picture7.ForeColor()));
        double y = metrics.ascent();
        for (const QString &l : lines) {
            p.drawText(QPointF(2, y), l);
            y += lineHeight;
        }
    }
    Picture7.setPicture(image);
}
