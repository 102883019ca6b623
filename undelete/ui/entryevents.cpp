// The clicks and double clicks of the two entry lists: the information of the
// selected entry, the extraction of a picture entry into the cache's Temp
// folder for the preview, and opening an entry with its program.
#include "app/frmrecover.h"

#include "drive/chooserpath.h"
#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "recovery/cacheguard.h"
#include "viewer/rawconv.h"
#include "viewer/typeicons.h"

#include <QFileInfo>
#include <QLocale>
#include <QPainter>

namespace {

constexpr int kPointerDefault = 0;
constexpr int kPointerHourglass = 11;
constexpr int kPointerArrowHourglass = 13;

const QString kCrLf = QStringLiteral("\r\n");
const QString kPictureList =
    QStringLiteral(".jpeg.jpg.jpe.thm.ico.wmf.bmp.cur.png.gif.tiff.tif.kdc.jfif.mef.nef.dng.thc.rpc");
const QString kRawList = QStringLiteral(".CRW.CR2.DNG.NEF.RAW.RAF.X3F.ORF.SRF.MRW.DCR.BAY.PEF.TIFF.TIF.SR2.ARW.RW2");
const QString kPreviewList =
    QStringLiteral("CR2,CRW,DCR,DNG,JBF,ARW,MRW,NEF,ORF,PCX,PEF,PIXAR,PIX,PSP,RAF,X3F,SRF,RW2,JPE,JPG,JPEG,THM,ICO,"
                   "WMF,BMP,CUR,PNG,GIF,TIF,TIFF,KDC,JFIF,3FR,RDC,RAW,KDC,SR2,MEF,CDR,")
    + kPictureList;

// A piece of a name matches a list when the list holds it.
bool inList(const QString &piece, const QString &list)
{
    return !piece.isEmpty() && list.contains(piece, Qt::CaseInsensitive);
}

QString kiloBytes(int64_t bytes)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::DefaultNumberOptions);
    return locale.toString(qlonglong(bytes / 1024));
}

// The ChooserStartPath lent to the extraction comes back on every path.
class LentSaveFolder {
public:
    explicit LentSaveFolder(const QString &folder) : kept_(ChooserStartPath) { ChooserStartPath = folder; }
    ~LentSaveFolder() { ChooserStartPath = kept_; }

private:
    QString kept_;
};

// The preview popup's texts 0 to 4 (the file line, the display note) empty.
void clearPopupTexts(QStringList &lines)
{
    while (lines.size() < 5)
        lines.append(QString());
    for (int i = 0; i < 5; ++i)
        lines[i].clear();
}

} // namespace

void frmRecover::List2_Click()
{
    plat::pumpEvents();
    if (OperationBusy)
        return;
    OperationBusy = true;
    const int line = List2.ListIndex();
    LentSaveFolder lent(CacheTempFolder);
    clearPopupTexts(ExifLines);

    const int index = EntryIndexOfLine(List2, line);
    bool toEnd = false;
    if (line <= 0) {
        if (line == 0)
            List2.setSelected(0, false);
        if (List2.ListCount() > 1)
            List2.setListIndex(1);
        UpdateDriveInfoLabel();
        toEnd = true;
    } else if (index <= 0 || List2.List(line).isEmpty()) {
        Picture1.setVisible(false);
        UpdateDriveInfoLabel();
        toEnd = true;
    }

    QString f;
    if (!toEnd) {
        ShowEntryInformation(index);
        plat::pumpEvents();
        f = EntrySaveName(DeletedEntries[size_t(index)].LongName);
        PreviewFileName = f;
        const DeletedEntryRecord &r = DeletedEntries[size_t(index)];
        const QString last4 = f.right(4);
        const bool picture = inList(last4, kPictureList), raw = inList(last4, kRawList);
        if ((!picture && !raw) || !f.right(5).contains(QLatin1Char('.'))) {
            DeletedEntryRecord &w = DeletedEntries[size_t(index)];
            if (w.MftIndex != 0 && w.Occupied == 0 && w.FirstCluster != 0) {
                w.Occupied = SourceClusterUse(SourceName, uint32_t(w.FirstCluster), true) == ClusterUse::Used ? -1 : 0;
                ShowEntryInformation(index);
            }
            Picture1.setVisible(false);
        } else {
            Picture1.setVisible(false);
            Picture1.Cls();
            clearPopupTexts(ExifLines);
            const QString extension = f.mid(f.lastIndexOf(QLatin1Char('.')));
            if (DriveInfo().DriveType != QLatin1String("Removable")) {
                // On a fixed disk only the current preview stays in Temp.
                f = QStringLiteral("Temp") + extension;
                const QString p = CacheTempFolder + QString::number(index) + f;
                if (!FileExists(p) && CacheDeleteAllowed(CacheTempFolder, CacheRoot))
                    DeleteFiles(CacheTempFolder + QStringLiteral("*.*"), false, false);
            }
            const bool previewable = inList(extension.mid(1), kPreviewList);
            if (r.IsDirectory() || (r.Recoverable != 0 && !previewable)) {
                Picture1.setVisible(false);
            } else {
                AskSaveName = false;
                BatchSave = true;
                PictureOrientation = 0;
                const QString name = QString::number(index) + f;
                const QString p = ChooserStartPath + name;
                if (r.Recoverable != 0 && !FileExists(p)) {
                    plat::setScreenMousePointer(kPointerArrowHourglass);
                    plat::pumpEvents();
                    // Only the clicked entry is extracted, under its preview name.
                    QString given = name;
                    SaveName = name;
                    SaveFirstCluster = r.FirstCluster;
                    SaveSize = r.Size;
                    SaveUndeleteEntry(given, index);
                    plat::setScreenMousePointer(kPointerDefault);
                }
                AskSaveName = true;
                BatchSave = false;
                const int width = int(Picture1.Width()), height = int(Picture1.Height());
                if (inList(last4, kRawList)) {
                    // The converter's half-size picture, made once.
                    const QString j = p.left(p.lastIndexOf(QLatin1Char('.')) + 1) + QStringLiteral("jpg");
                    if (FileExists(j)
                        || RunConverter({ConvertKind::HalfSize, p, j}, kConverterLimitMs, [] { plat::pumpEvents(); }))
                        Picture1.setVisible(DrawThumbnail(j, Picture1, width, height));
                }
                if (!Picture1.Visible()) {
                    if (inList(List2.List(line).right(4), kPictureList)) {
                        Picture1.setVisible(DrawThumbnail(p, Picture1, width, height));
                        if (Picture1.Visible())
                            ExifLines[4] = GetString(674, QStringLiteral("Display Full File"));
                    } else if (HasShellThumbnailHandler(f.mid(f.indexOf(QLatin1Char('.'))))) {
                        Picture1Canvas.Cls();
                        const bool drawn = DrawSystemThumbnail(Picture1Canvas, Picture1.Width(), Picture1.Height(), p);
                        if (drawn)
                            ShowPicture1Canvas();
                        Picture1.setVisible(drawn);
                        txtExif.setText(kCrLf + r.LongName + QStringLiteral(": ") + QLatin1Char(' ')
                                        + QString::number(r.Size / 1024) + QStringLiteral("kB"));
                        if (Picture1.Visible()) {
                            FindWhiteBand(Picture1Canvas);
                            ExifLines[0] = r.LongName + QLatin1Char(' ') + kiloBytes(QFileInfo(plat::toNative(p)).size())
                                + QStringLiteral("kB");
                            ExifLines[4] = GetString(678, QStringLiteral("Display System Thumb"));
                        }
                    }
                }
                QString caption = lblSpecs.Caption();
                if (Picture1.Visible()) {
                    Picture1.Refresh();
                    caption.replace(GetString(680, QStringLiteral("probable")), GetString(681, QStringLiteral("possible")));
                    LastConvertedFile = p;
                } else {
                    LastConvertedFile.clear();
                    if (r.Recoverable != 0) {
                        const QString cannot = GetString(1437, QStringLiteral("Cannot produce a picture"));
                        caption.replace(QChar(1), QStringLiteral("     ") + cannot + kCrLf);
                        const QString unlikely = GetString(1530, QStringLiteral("unlikely"));
                        if (inList(List2.List(line).right(4), kPictureList)) {
                            caption.replace(GetString(680, QStringLiteral("probable")), unlikely);
                            caption.replace(GetString(644, QStringLiteral("Might be possible")), unlikely);
                        } else {
                            caption.replace(GetString(680, QStringLiteral("probable")),
                                            GetString(1524, QStringLiteral("not sure")));
                        }
                        // The note printed where the picture would be.
                        QImage note(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32);
                        note.fill(plat::colorFromVb(Picture1.BackColor()));
                        QPainter painter(&note);
                        painter.setPen(plat::colorFromVb(Picture1.ForeColor()));
                        painter.drawText(40, 40, cannot);
                        if (r.Occupied)
                            painter.drawText(40, 52,
                                             GetString(1425, QStringLiteral("First cluster:")) + QLatin1Char(' ')
                                                 + QString::number(uint32_t(r.FirstCluster)) + QLatin1Char(' ')
                                                 + GetString(654, QStringLiteral("=occupied")));
                        painter.end();
                        Picture1.setPicture(note);
                    }
                }
                lblSpecs.setCaption(caption);
                OperationRunning = false;
                plat::setScreenMousePointer(kPointerDefault);
            }
        }
        QString caption = lblSpecs.Caption();
        caption.remove(QChar(1));
        lblSpecs.setCaption(caption);
        const int at = List2.ListCount() + 1;
        while (EntryInfoTexts.size() <= at)
            EntryInfoTexts.append(QString());
        EntryInfoTexts[at] = caption;
        const QString extracted = CacheTempFolder + QString::number(index) + f;
        if (!f.isEmpty() && FileExists(extracted))
            ExifLines[0] = f + QLatin1Char(' ') + kiloBytes(QFileInfo(plat::toNative(extracted)).size())
                + QStringLiteral(" kB");
    }

    // A right click saves the selected entry under this name.
    SaveName = PreviewFileName;
    const QString kept = lblSpecs.Caption();
    ShowExifSummary();
    lblSpecs.setCaption(kept);
    if (List1.ListCount() >= 3)
        List1.setVisible(!Picture1.Visible());
    if (!Picture1.Visible())
        txtExif.setText(lblSpecs.Caption());
    if (!List1.Visible() && !Picture1.Visible())
        Picture1.setVisible(true);
    OperationBusy = false;
    plat::pumpEvents();
}

void frmRecover::List2_DblClick()
{
    const int line = List2.ListIndex();
    const int index = EntryIndexOfLine(List2, line);
    if (OperationRunning || index <= 0 || List2.SelCount() < 1)
        return;
    const DeletedEntryRecord &r = DeletedEntries[size_t(index)];
    if (r.AttributeByte() == 16)
        return;
    LentSaveFolder lent(CacheTempFolder);
    OperationRunning = true;
    AskSaveName = false;
    BatchSave = true;
    QString name = EntrySaveName(r.LongName);
    SaveName = name;
    SaveFirstCluster = r.FirstCluster;
    SaveSize = r.Size;
    const SaveOutcome outcome = SaveUndeleteEntry(name, index);
    AskSaveName = true;
    BatchSave = false;
    if (outcome == SaveOutcome::Saved || outcome == SaveOutcome::Partial) {
        QString path = ChooserStartPath + name;
        OpenRecoveredFile(path);
    }
    OperationRunning = false;
}

void frmRecover::List1_Click()
{
    if (OperationBusy)
        return;
    clearPopupTexts(ExifLines);
    const int line = List1.ListIndex();
    const int index = EntryIndexOfLine(List1, line);
    if (line == 0 || line == 1) {
        OperationBusy = true;
        List1.setSelected(line, false);
        if (List1.ListCount() > 2)
            List1.setListIndex(2);
        OperationBusy = false;
        UpdateDriveInfoLabel();
    } else if (index < 1) {
        if (line >= 0) {
            OperationBusy = true;
            List1.setSelected(line, false);
            OperationBusy = false;
        }
    } else {
        PreviewFileName = DeletedEntries[size_t(index)].LongName;
        ShowEntryInformation(index);
        QString text = lblSpecs.Caption();
        text.remove(QChar(1));
        txtExif.setText(text);
    }
    QString caption = lblSpecs.Caption();
    caption.remove(QChar(1));
    lblSpecs.setCaption(caption);
}

void frmRecover::List1_DblClick()
{
    const int index = EntryIndexOfLine(List1, List1.ListIndex());
    if (index <= 0 || List1.SelCount() < 1)
        return;
    plat::setScreenMousePointer(kPointerHourglass);
    // The existing file by its own path on the source's tree.
    const DeletedEntryRecord &r = DeletedEntries[size_t(index)];
    QString path = SourceName.left(2) + QLatin1Char('\\') + r.Path;
    if (!r.Path.isEmpty() && FileExists(path))
        OpenRecoveredFile(path);
    plat::setScreenMousePointer(kPointerDefault);
}
