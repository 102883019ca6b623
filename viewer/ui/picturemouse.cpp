// The preview's mouse: a right press opens the popup of rotations, filters,
// file information and saving; a left press shows a picture larger than the
// preview in the full picture window; a double click opens the found file
// with its program (never runs one).
#include "app/frmrecover.h"

#include "drive/chooserpath.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "drive/ui/filedialog.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/msgbox.h"
#include "recovery/cacheguard.h"
#include "recovery/cachenames.h"
#include "viewer/exiftext.h"
#include "viewer/filters.h"
#include "viewer/foundnames.h"
#include "viewer/pictureops.h"
#include "viewer/rawconv.h"
#include "viewer/ui/fullpicture.h"
#include "viewer/ui/runandwait.h"

#include <QDir>
#include <QFileInfo>
#include <QListWidget>

namespace {

// The rows of the popup ListFilters.
enum FilterRow {
    kHideMe = 0,
    kFileInfo = 1,
    kRotateCw = 2,
    kRotateCcw = 3,
    kRotate180 = 4,
    kResetRotation = 5,
    kFirstFilter = 6,
    kLastFilter = 9,
    kResetFilter = 10,
    kSaveRow = 11,
};

int64_t fileLength(const QString &path)
{
    const QString native = plat::toNative(path);
    const QFileInfo info(native);
    return native.isEmpty() || !info.isFile() ? 0 : info.size();
}

bool fileExists(const QString &path) { return fileLength(path) > 0; }

// The number after the last blank of a line ("ImageWidth: 4000" gives 4000).
int numberAfterLastBlank(const QString &line)
{
    return int(VbVal(line.mid(line.lastIndexOf(' ') + 1)));
}

// The last four characters of a name name a camera RAW type.
bool rawByLastFour(const QString &name)
{
    const QString last = name.right(4);
    return InRawList(last.startsWith('.') ? last.mid(1) : last);
}

// A name in the folder that no file has: base + extension, else base_2,
// base_3, ...
QString freeName(const QString &folder, const QString &base, const QString &extension)
{
    QString name = base + extension;
    for (int n = 2; FileExists(folder + name) && n < 100000; ++n)
        name = base + '_' + QString::number(n) + extension;
    return name;
}

constexpr int kPointerDefault = 0;
constexpr int kPointerHourglass = 11;

// While the full picture window's picture is decoded: the busy mark (the
// previous one restored), the choice it was asked for, and the hourglass.
class FullPictureWait {
public:
    FullPictureWait(frmRecover &w, const QString &choice)
        : w_(w), busy_(w.OperationBusy), pointer_(plat::screenMousePointer())
    {
        w_.OperationBusy = true;
        w_.FullPictureChoice = choice;
        plat::setScreenMousePointer(kPointerHourglass);
    }
    ~FullPictureWait()
    {
        w_.OperationBusy = busy_;
        w_.FullPictureChoice.clear();
        plat::setScreenMousePointer(pointer_ == kPointerHourglass ? kPointerDefault : pointer_);
    }
    FullPictureWait(const FullPictureWait &) = delete;
    FullPictureWait &operator=(const FullPictureWait &) = delete;

private:
    frmRecover &w_;
    bool busy_;
    int pointer_;
};

} // namespace

void frmRecover::wireViewerEvents()
{
    TimerCleanThumbnail.Tick = [this] { TimerCleanThumbnail_Timer(); };
    TxtWidth.LostFocus = [this] { TxtWidth_LostFocus(); };
    Picture1.DblClick = [this] { Picture1_DblClick(); };
    ListFilters.Click = [this] { ListFilters_Click(); };
}

void frmRecover::Picture1_MouseDown(int button, int shift, double x, double y)
{
    Q_UNUSED(shift);
    if (button == plat::vbRightButton) {
        if (OperationRunning || !(List3.Visible() || LvwFiles.Visible()))
            return;
        // The popup also keeps a copy of the shown picture (its last row).
        const QString save = GetString(399, QStringLiteral("Save")) + QStringLiteral("...");
        if (ListFilters.ListCount() == kSaveRow)
            ListFilters.AddItem(save);
        else if (ListFilters.ListCount() > kSaveRow)
            ListFilters.setList(kSaveRow, save);
        // (items + 1) x 190 twips, or what the rows take in the font shown.
        double height = (ListFilters.ListCount() + 1) * 190.0;
        if (auto *list = qobject_cast<QListWidget *>(ListFilters.widget()); list && list->count() > 0)
            height = std::max(height, double(plat::pixelsToTwips(list->count() * list->sizeHintForRow(0)
                                                                 + 2 * list->frameWidth() + 2)));
        ListFilters.setHeight(height);
        // x and y are twips: the popup stands 1300 twips left of the pointer
        // and 150 above it, never beyond the window's top-left corner.
        ListFilters.Move(std::max(0.0, x - 1300), std::max(0.0, y - 150));
        const int index = List3.ListIndex();
        int o = index >= 0 && index < int(ItemOrientations.size()) ? int(ItemOrientations[size_t(index)]) : 0;
        if (o > 99)
            o -= 100;
        // The rows that tell the present state, chosen without acting on them.
        listFiltersPreselecting_ = true;
        ListFilters.setListIndex(-1);
        if (FilterActive && o < 2)
            for (int i = 0; i < ListFilters.ListCount(); ++i)
                if (ListFilters.List(i) == FilterName)
                    ListFilters.setListIndex(i);
        if (o == 6)
            ListFilters.setListIndex(kRotateCw);
        else if (o == 8)
            ListFilters.setListIndex(kRotateCcw);
        else if (o == 3)
            ListFilters.setListIndex(kRotate180);
        else if (!FilterActive)
            ListFilters.setListIndex(kResetRotation);
        listFiltersPreselecting_ = false;
        ListFilters.setVisible(true);
        ListFilters.ZOrder(0);
        return;
    }
    if (button != plat::vbLeftButton || OperationRunning || OperationBusy)
        return;

    // 1. - 2. The file the preview shows: a deleted entry's extracted copy,
    // or the found file with its orientation.
    ListFilters.setVisible(false);
    QString file;
    int orientation = 0;
    const bool entryShown = List2.Visible() && List2.ListCount() > 0 && !List3.Visible();
    if (entryShown) {
        file = LastConvertedFile;   // the entry's extracted copy the preview shows
    } else {
        const int index = List3.ListIndex();
        const QString name = index >= 0 ? FoundFilePaths.value(index) : QString();
        if (name.isEmpty())
            return;
        file = ShownFolder + name;
        orientation = index < int(ItemOrientations.size()) ? int(ItemOrientations[size_t(index)]) : 0;
        if (fileLength(file) == 0)
            return;
    }
    const QString name = FileNamePart(file);

    // 3. A picture larger than the preview, or a camera RAW file, in the
    // full picture window.
    bool opened = false;
    if (!name.isEmpty() && ExifLines.size() > 1 && (InPictureList(name.right(4)) || rawByLastFour(name))) {
        int width = 0, height = 0;
        GetImageSize(file, width, height);
        if (width == 0 && ExifLines.size() > 3) {
            width = numberAfterLastBlank(ExifLines[2]);
            height = numberAfterLastBlank(ExifLines[3]);
        }
        const bool larger = width * 15.0 > Picture1.Width() || height * 15.0 > Picture1.Height();
        const bool raw = rawByLastFour(name);
        if (larger || raw) {
            QString drawn = file;
            if (raw && !entryShown) {
                // The converter's picture of the file: the preview's, else made now.
                drawn = ConvFolder + ConverterOutputName(name, ConvertKind::HalfSize);
                if (!fileExists(drawn)) {
                    const QString thumb = ConvFolder + ConverterOutputName(name, ConvertKind::EmbeddedThumb);
                    if (fileExists(thumb)) {
                        drawn = thumb;
                    } else {
                        QDir().mkpath(plat::toNative(ConvFolder));
                        ConverterCommand command;
                        command.kind = ConvertKind::HalfSize;
                        command.input = file;
                        command.output = drawn;
                        RunAndWait(command, kConverterLimitMs);
                    }
                }
            }
            opened = openFullPicture(drawn, orientation, name);
        }
    }
    // 4. Otherwise the file opens as a double click opens it.
    const QString ext = name.mid(name.lastIndexOf('.') + 1);
    if (!List2.Visible() && !opened && name.contains('.') && InPreviewList(ext) && popupDepth_ == 0)
        List3_DblClick();
}

bool frmRecover::openFullPicture(const QString &file, int orientation, const QString &shownName)
{
    // Decoded on a worker at the size the window shows it; a huge picture
    // takes seconds. The window's events run meanwhile under the busy
    // pointer, and its commands refuse: a click made now is not handled
    // after the picture shows, in front of it.
    const PictureDecodeRequest request = FullPictureWindow().DecodeRequestFor(file, orientation);
    const QString chosen = ChosenItemKey();
    DecodedPicture decoded;
    {
        const FullPictureWait wait(*this, chosen);
        decoded = PictureDecoder().take(request, [] { plat::pumpEvents(); });
    }
    // Another item was chosen meanwhile (a press that got "Still busy" still
    // moves a list's selection; so do keys): the picture is not shown over
    // that choice, whose preview follows once the user is idle (Timer1).
    if (ChosenItemKey() != chosen) {
        ListClickPending = true;
        return true;
    }
    // The window as it is now: the filter popup may have unloaded it meanwhile.
    FrmFullPicture &full = FullPictureWindow();
    full.ShownFileName = shownName;
    full.FilterOnFocus = FilterActive;
    if (!full.DrawPicture(file, orientation, &decoded))
        return false;
    full.Show();
    full.Picture1.SetFocus();
    full.Picture1_GotFocus();   // also where the window system gives no focus
    plat::pumpEventsNow();
    return true;
}

QString frmRecover::ChosenItemKey() const
{
    const int index = List3.ListIndex();
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(List1.ListIndex())
        .arg(List2.ListIndex())
        .arg(index)
        .arg(LvwFiles.Visible() ? LvwFiles.SelectedItem() : 0)
        .arg(ShownFolder + FoundFilePaths.value(index));
}

void frmRecover::Picture1_DblClick()
{
    // While the preview or the full picture window decodes (the press of
    // this double click may have started it), the double click does nothing,
    // as a press does.
    if (!List2.Visible() && !OperationBusy)
        List3_DblClick();
}

void frmRecover::ListFilters_Click()
{
    if (listFiltersPreselecting_)
        return;
    const int row = ListFilters.ListIndex();
    ListFilters.setVisible(false);
    if (row < 0)
        return;
    const QString text = ListFilters.List(row);
    // 2.
    if (text.contains(GetString(399, QStringLiteral("Save")))) {
        SaveShownPicture();
        return;
    }
    const int index = List3.ListIndex();
    bool forgetShown = false;
    if (row == kHideMe) {
        forgetShown = true;
    } else if (row == kFileInfo) {
        const QString name = index >= 0 ? FoundFilePaths.value(index) : QString();
        if (!name.isEmpty())
            ShowFileProperties(ShownFolder + name);
        forgetShown = true;
    } else if (row >= kRotateCw && row <= kResetRotation) {
        static const int codes[] = {6, 8, 3, 0};
        const int code = codes[row - kRotateCw];
        if (index >= 0 && index < int(ItemOrientations.size()) && int(ItemOrientations[size_t(index)]) != code) {
            const std::vector<float> before = ItemOrientations;
            ItemOrientations[size_t(index)] = float(code);
            ThumbFlag = true;
            ApplyToSelectedItems();
            // The grid shows the turned pictures too.
            std::vector<int> turned;
            for (size_t i = 0; i < ItemOrientations.size() && i < before.size(); ++i)
                if (ItemOrientations[i] != before[i] || int(i) == index)
                    turned.push_back(int(i));
            refreshGridCells(turned);
            return;
        }
        forgetShown = true;
    } else if (row == kResetFilter) {
        if (FilterActive) {
            FilterActive = false;
            List3_Click();
        }
        forgetShown = true;
    } else if (row >= kFirstFilter && row <= kLastFilter) {
        FilterActive = true;
        if (text != FilterName) {
            UnloadFullPicture();
            FilterName = text;
            List3_Click();
            FilterActive = true;
        }
    }
    if (forgetShown)
        if (FrmFullPicture *full = FullPictureIfLoaded())
            full->ShownFileName.clear();
}

void frmRecover::SaveShownPicture()
{
    const QImage picture = Picture1Canvas.image;
    if (picture.isNull())
        return;
    // A free name in the save folder, after the shown file.
    const int index = List3.ListIndex();
    QString base = index >= 0 ? FoundFilePaths.value(index) : QString();
    base.remove(QStringLiteral("R#"));
    if (base.contains('.'))
        base = base.left(base.lastIndexOf('.'));
    if (base.isEmpty())
        base = QStringLiteral("picture");
    QString folder = ChooserStartPath;
    if (!folder.isEmpty() && !folder.endsWith('\\'))
        folder += '\\';
    const QString title = GetString(2654, QStringLiteral("Save the shown picture"));
    // Always a JPEG: the name's own extension becomes ".jpg".
    const QString target = AskPictureTarget(hWnd(), title, folder, freeName(folder, base, QStringLiteral(".jpg")),
                                            GetString(2655, QStringLiteral("JPEG picture")), QStringLiteral("jpg"),
                                            plat::ofn::PathMustExist | plat::ofn::HideReadOnly);
    if (target.isEmpty())
        return;
    if (!ConfirmPictureTarget(hWnd(), target, title))
        return;
    if (SavePictureAsJpeg(picture, target, 100).isEmpty())
        MsgBoxPositioned(hWnd(), FormatString(GetString(1516, QStringLiteral("Cannot open %0 ")), {target}),
                         plat::mb::IconExclamation, title);
}

bool frmRecover::SavePicture1(const QString &path)
{
    return SaveImageFile(Picture1Canvas.image, path, "BMP");
}

void frmRecover::List3_DblClick()
{
    const int index = List3.ListIndex();
    const QString name = index >= 0 ? FoundFilePaths.value(index) : QString();
    if (name.isEmpty())
        return;
    QString path = ShownFolder + name;
    if (fileLength(path) == 0) {
        MsgBoxTimed(QString::number(hWnd()), GetString(686, QStringLiteral("File has no file length.")), 0,
                    ProgramTitle);
        return;
    }
    QString message;
    const QString program = OpenWithAssociatedProgram(path, message);
    const bool picture = InPictureList(name.right(4));
    if (!program.isEmpty() || !picture) {
        OpenRecoveredFile(path);
        return;
    }
    // A picture without a program of its own: larger than the preview, it is
    // shown in the full picture window (width and height against the
    // preview's sides).
    const int width = ExifLines.size() > 2 ? numberAfterLastBlank(ExifLines[2]) : 0;
    const int height = ExifLines.size() > 3 ? numberAfterLastBlank(ExifLines[3]) : 0;
    if (width * 15.0 > Picture1.Width() || height * 15.0 > Picture1.Height()) {
        ++popupDepth_;
        Picture1_MouseDown(plat::vbLeftButton, 0, 0, 0);
        --popupDepth_;
        return;
    }
    OpenRecoveredFile(path);
}
