#include "viewer/ui/fullpicture.h"

#include "app/frmrecover.h"
#include "drive/chooserpath.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "drive/ui/filedialog.h"
#include "drive/ui/msgbox.h"
#include "platform/paths.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/msgbox.h"
#include "recovery/cacheguard.h"
#include "viewer/filters.h"

#include <QCoreApplication>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace {

std::unique_ptr<FrmFullPicture> g_full;
int g_generation = 0;   // counts the windows made

constexpr int kEscape = 27;

} // namespace

QString AskPictureTarget(int owner, const QString &title, QString folder, QString proposedName,
                         const QString &description, const QString &extension, int flags, QString *asked)
{
    QString mode = QStringLiteral("Save");
    QString dialogTitle = title;
    QString filter = description + QStringLiteral("|*.") + extension;
    QString defaultExtension = extension;
    int filterIndex = 1;
    const QString chosen =
        FileDialog(mode, owner, proposedName, dialogTitle, folder, flags, filter, filterIndex, defaultExtension);
    if (asked)
        *asked = chosen;
    if (chosen.isEmpty())
        return QString();
    const QString name = FileNamePart(chosen);
    const qsizetype dot = name.lastIndexOf('.');
    return (dot < 0 ? chosen : chosen.left(chosen.size() - name.size() + dot)) + '.' + extension;
}

bool ConfirmPictureTarget(int owner, const QString &target, const QString &title)
{
    if (CacheComponentIndex(target) >= 0) {
        MsgBoxPositioned(owner, GetString(2652, QStringLiteral("The cache folders are emptied by the program: "
                                                                "please choose another folder.")),
                         plat::mb::IconExclamation, title);
        return false;
    }
    return !FileExists(target)
        || MsgBoxPositioned(owner, FormatString(GetString(2653, QStringLiteral("%0 already exists. Replace it?")), {target}),
                            plat::mb::YesNo + plat::mb::IconQuestion + plat::mb::DefButton2, title)
               == plat::id::Yes;
}

FrmFullPicture *FullPictureIfLoaded() { return g_full.get(); }

FrmFullPicture &FullPictureWindow()
{
    if (!g_full) {
        static bool cleanupAdded = false;
        if (!cleanupAdded) {
            // Never outlives the application object.
            qAddPostRoutine(UnloadFullPicture);
            cleanupAdded = true;
        }
        g_full = std::make_unique<FrmFullPicture>();
        ++g_generation;
        g_full->Form_Load();
    }
    return *g_full;
}

void UnloadFullPicture()
{
    if (!g_full)
        return;
    g_full->Unload();
    g_full.reset();
}

FrmFullPicture::FrmFullPicture()
{
    if (QWidget *w = widget())
        w->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    Picture1.setBorderStyle(0);
    Picture1.setBackColor(0x000000);
    if (QWidget *w = Picture1.widget())
        w->setFocusPolicy(Qt::StrongFocus);
    // The popup in the window's own colours, not the black of the picture.
    List1.setBackColor(0x80000005);
    List1.setForeColor(0x80000008);
    List1.setVisible(false);
    Picture1.GotFocus = [this] { Picture1_GotFocus(); };
    Picture1.KeyDown = [this](int &k, int s) { Picture1_KeyDown(k, s); };
    KeyDown = [this](int &k, int s) { Picture1_KeyDown(k, s); };
    Picture1.MouseDown = [this](int b, int s, double x, double y) { Picture1_MouseDown(b, s, x, y); };
    List1.MouseUp = [this](int b, int s, double x, double y) { List1_MouseUp(b, s, x, y); };
    List1.Click = [this] { List1_Click(); };
    UnloadEvent = [this](int &) { Form_Unload(); };
}

void FrmFullPicture::Form_Load()
{
    SetCaptions();
    // A 3:2 area as high as the screen, kept inside a narrower screen.
    const QRect screen = plat::screenRectPixels(widget());
    const double height = plat::pixelsToTwips(screen.height());
    const double width = std::min(height / 2 * 3, double(plat::pixelsToTwips(screen.width())));
    Move(plat::pixelsToTwips(screen.x()), plat::pixelsToTwips(screen.y()), width, height);
    Picture1.Move(0, 0, width, height);
    List1.Move(0, 0, 2200, 4 * 240);
}

void FrmFullPicture::Form_Unload()
{
    Canvas.setSize(QSize(1, 1));
    Picture1.Cls();
    // The program's reference goes with the window; a window closed by the
    // user is released once its own events are over.
    const int generation = g_generation;
    QTimer::singleShot(0, QCoreApplication::instance(), [generation] {
        if (g_full && g_generation == generation)
            g_full.reset();
    });
}

void FrmFullPicture::SetCaptions()
{
    setCaption(GetString(25, QString()));
    List1.Clear();
    List1.AddItem(GetString(1495, QString()));
    List1.AddItem(GetString(1496, QString()));
    List1.AddItem(GetString(1497, QString()));
}

DrawThumbnailCall FrmFullPicture::pictureCall(const QString &file, int *orientation) const
{
    DrawThumbnailCall call;
    call.boxWidth = Picture1.ScaleWidth();
    call.boxHeight = Picture1.ScaleHeight();
    call.file = file;
    call.orientation = orientation;
    // Larger than a preview decodes, within the allocation limit; decoded at
    // the size it is drawn where the reader can.
    call.budget = DecodeBudget::Full;
    return call;
}

PictureDecodeRequest FrmFullPicture::DecodeRequestFor(const QString &file, int orientation)
{
    return DecodeRequestOf(pictureCall(file, &orientation));
}

bool FrmFullPicture::DrawPicture(const QString &file, int orientation, const DecodedPicture *decoded)
{
    const QSize size(plat::twipsToPixels(Picture1.ScaleWidth()), plat::twipsToPixels(Picture1.ScaleHeight()));
    Canvas.backColor = plat::colorFromVb(Picture1.BackColor());
    Canvas.setSize(size);
    Canvas.Cls();
    Picture1.Cls();
    filtered_ = false;
    DrawThumbnailCall call = pictureCall(file, &orientation);
    call.canvas = &Canvas.image;
    call.decoded = decoded;
    const bool drawn = ::DrawThumbnail(call);
    Picture1.setPicture(Canvas.image);
    return drawn;
}

void FrmFullPicture::Picture1_GotFocus()
{
    // Once for each picture shown: a filter applied at every focus would
    // sharpen the picture again and again.
    if (!FilterOnFocus || filtered_)
        return;
    if (frmRecover *main = MainWindowIfMade()) {
        main->ApplyPictureFilter(Canvas, main->FilterName);
        filtered_ = true;
        Picture1.setPicture(Canvas.image);
    }
}

void FrmFullPicture::Picture1_KeyDown(int &keyCode, int)
{
    if (keyCode == kEscape)
        Hide();
}

void FrmFullPicture::Picture1_MouseDown(int button, int, double x, double y)
{
    if (button == plat::vbRightButton) {
        // 100 pixels left of the pointer and 10 above it, inside the window.
        List1.Move(std::max(0.0, x - 100.0 * plat::kTwipsPerPixel), std::max(0.0, y - 10.0 * plat::kTwipsPerPixel));
        List1.setVisible(true);
        List1.ZOrder(0);
    } else if (button == plat::vbLeftButton) {
        Hide();
    }
}

void FrmFullPicture::List1_MouseUp(int, int, double, double) { List1.setVisible(false); }

void FrmFullPicture::List1_Click()
{
    const int index = List1.ListIndex();
    if (index == 0) {
        List1.setVisible(false);
    } else if (index == 2 && !List1.List(2).isEmpty()) {
        // The screen copy as a bitmap: the shown file's name proposed.
        List1.setVisible(false);
        const QString title = GetString(2650, QStringLiteral("Quilvane Screen Copy"));
        const qsizetype dot = ShownFileName.indexOf('.');
        QString chosen;
        const QString target = AskPictureTarget(hWnd(), title, ChooserStartPath, dot < 0 ? ShownFileName : ShownFileName.left(dot),
                                                GetString(2651, QStringLiteral("Bitmap")), QStringLiteral("bmp"),
                                                plat::ofn::OverwritePrompt | plat::ofn::CreatePrompt, &chosen);
        if (target.isEmpty())
            return;
        // (A name the dialog confirmed itself was asked about there.)
        if (target == chosen ? CacheComponentIndex(target) >= 0 && !ConfirmPictureTarget(hWnd(), target, title)
                             : !ConfirmPictureTarget(hWnd(), target, title))
            return;
        SaveImageFile(Canvas.image, target, "BMP");
    } else if (index == 1) {
        Hide();
    }
}
