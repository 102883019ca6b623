// A developer's tool, not part of the program: shows the main window in one
// of its views, with a colour scheme and in a window state, on whatever
// display Qt uses, and saves a picture of the screen (or of the window on
// the offscreen platform). For looking at the layout at several screen sizes:
//
//   Xvfb :57 -screen 0 1366x768x24 &  DISPLAY=:57 openbox &
//   DISPLAY=:57 window_views --view thumbs --scheme 1 --state max --out x.png
//
// Views: list, thumbs, undelete, types, getstarted. Schemes: 1 dark, 2 light,
// 3 desktop colours. States: normal (the window's own width), min (the
// narrowest), max. --lang 9, 1031 or 1043. --specs checks CheckSpecs.
#include "app/frmrecover.h"

#include "drive/strings.h"
#include "drive/ui/fileopui.h"
#include "platform/paths.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>
#include <cstdio>

namespace {

QString arg(const QStringList &args, const QString &name, const QString &fallback)
{
    const int i = int(args.indexOf(name));
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
}

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

QImage samplePicture(int n)
{
    QImage img(160, 107, QImage::Format_RGB32);
    img.fill(QColor::fromHsv((n * 47) % 360, 120, 200));
    QPainter p(&img);
    p.setPen(Qt::black);
    p.drawText(img.rect(), Qt::AlignCenter, QStringLiteral("IMG %1").arg(n));
    return img;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/quilvane-views-XXXXXX"));
    if (qEnvironmentVariableIsEmpty("QUILVANE_HOME"))
        qputenv("QUILVANE_HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    InstallFileOperationUi();
    const QStringList args = app.arguments();
    const QString view = arg(args, QStringLiteral("--view"), QStringLiteral("list"));
    const int scheme = arg(args, QStringLiteral("--scheme"), QStringLiteral("2")).toInt();
    const QString state = arg(args, QStringLiteral("--state"), QStringLiteral("normal"));
    const QString out = arg(args, QStringLiteral("--out"), QStringLiteral("window.png"));
    SetCurrentLanguageId(arg(args, QStringLiteral("--lang"), QStringLiteral("9")).toInt());

    frmRecover &w = MainWindow();
    w.LayoutCommandBar(270);
    w.SetUpTypeList();
    w.ReadRegistryEntries();
    if (args.contains(QStringLiteral("--specs"))) {
        w.CheckSpecs.setVisible(true);
        w.CheckSpecs.setValue(1);
    }
    QString noSelection;
    w.FillTypeList(noSelection);

    // A cache with found files (none for the Get Started panel).
    const QString cacheNative = home.path() + QStringLiteral("/cache/RIVozud");
    QDir().mkpath(cacheNative);
    w.CacheRoot = plat::toInternal(cacheNative) + QLatin1Char('\\');
    w.MakeDirNames();
    w.CreateCacheFolders();
    w.ShownFolder = w.CacheRoot;
    if (view != QLatin1String("getstarted")) {
        for (int i = 1; i <= 40; ++i) {
            QFile f(cacheNative + QStringLiteral("/R#%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
            if (f.open(QIODevice::WriteOnly))
                samplePicture(i).save(&f, "JPG");
        }
    }
    w.FoundFilePaths = QStringList{QString()};
    w.RefillFoundFileList();
    w.Drive1.Refresh();
    w.SourceName = w.Drive1.Drive().left(2);
    w.UpdateDriveInfoLabel();
    w.EnableButtons();
    w.SetToolTips();
    w.ListColors.setListIndex(scheme);
    w.Show();
    settle(300);

    w.Picture1.setPicture(samplePicture(7).scaled(plat::twipsToPixels(w.Picture1.Width()),
                                                   plat::twipsToPixels(w.Picture1.Height())));
    w.txtExif.setText(QStringLiteral("\r\nR#0007.jpg\r\nCanon EOS 5D\r\n1/125 s  f/5.6\r\n2024-05-01 12:00"));
    w.txtExif.setVisible(true);
    if (view == QLatin1String("getstarted")) {
        w.ShowGetStarted();
    } else if (view == QLatin1String("thumbs")) {
        w.ImageList1.setImageWidth(w.ThumbWidth);
        w.ImageList1.setImageHeight(w.ThumbHeight);
        w.LvwFiles.Clear();
        for (int i = 1; i < w.FoundFilePaths.size() + 1 && i <= 40; ++i)
            w.LvwFiles.AddItem(w.FoundFilePaths.value(i - 1), w.ImageList1.Add(samplePicture(i)));
        w.LvwFiles.setIcons(&w.ImageList1);
        w.LvwFiles.setVisible(true);
        w.List3.setVisible(false);
        w.LvwFiles.ZOrder(0);
        w.ResultViewState = 1;
    } else if (view == QLatin1String("undelete")) {
        w.List1.Clear();
        w.List2.Clear();
        w.List1.AddItem(QStringLiteral("Existing entries"));
        for (int i = 1; i <= 30; ++i)
            w.List1.AddItem(QStringLiteral("%1 IMG_%2.JPG").arg(i).arg(i, 4, 10, QLatin1Char('0')));
        w.List2.AddItem(QStringLiteral("Deleted entries"));
        for (int i = 1; i <= 60; ++i)
            w.List2.AddItem(QStringLiteral("%1 ?MG_%2.JPG  probable").arg(i + 30).arg(i, 4, 10, QLatin1Char('0')));
        w.List1.setVisible(true);
        w.List2.setVisible(true);
        w.List3.setVisible(false);
        w.Picture1.setVisible(false);
        w.List1.ZOrder(0);
        w.List2.ZOrder(0);
    } else if (view == QLatin1String("types")) {
        w.CmdShowScanTypes_Click();
    }
    if (state == QLatin1String("min"))
        w.setWidth(0);
    else if (state == QLatin1String("max"))
        w.setWindowState(2);
    w.Form_Resize();
    settle(1200);
    // What the EXIF summary shows when the gap beside the picture view has room.
    w.txtExif.setVisible(w.txtExif.Left() > w.Picture1.Left() + w.Picture1.Width());
    w.Form_Resize();
    settle(300);

    QImage shot;
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        shot = w.widget()->grab().toImage();
    else
        shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const bool saved = shot.save(out);
    std::printf("%s: window %dx%d px, %s\n", qPrintable(out), w.widget()->frameGeometry().width(),
                w.widget()->frameGeometry().height(), saved ? "saved" : "NOT saved");
    DestroyMainWindow();
    return saved ? 0 : 1;
}
