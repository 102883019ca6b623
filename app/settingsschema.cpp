// The settings schema: every value of the program key written in its fixed
// order, the earlier layout's key removed, the scan-type rows rebuilt; and
// the reading rules, each value checked before it is used.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/files.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "recovery/cacheguard.h"
#include "recovery/cachenames.h"
#include "recovery/scanlist.h"

#include <QVariant>
#include <algorithm>
#include <cmath>

const QString frmRecover::BaseKey = QStringLiteral("Software\\Zentarix");
const QString frmRecover::ProgramKey = QStringLiteral("Software\\Zentarix\\Quilvane Pro");
const QString frmRecover::OldProgramKey = QStringLiteral("Software\\Zentarix\\Quilvane");

namespace {

const QString kLvw = QStringLiteral("LVW");
constexpr int kMaxTypeRows = 100000;
constexpr int kMaxListIndex = 32759;
constexpr int kMinWindowWidth = 8510;
constexpr int kDefaultWindowWidth = 10335;
constexpr int kMaxThumbWidth = 1024;
constexpr double kMaxSizeLimitMB = 1.0e9;

const QString kDefaultTypeList = QStringLiteral(
    "CR2,CRW,DCR,DNG,JBF,ARW,MRW,NEF,ORF,PCX,PEF,PIXAR,PIX,PSP,RAF,X3F,SRF,RW2,JPE,JPG,JPEG,THM,ICO,WMF,BMP,"
    "CUR,PNG,GIF,TIF,TIFF,KDC,JFIF,3FR,RDC,RAW,KDC,SR2,MEF,CDR,");

QString textOf(const QVariant &v)
{
    if (!v.isValid())
        return {};
    if (v.typeId() == QMetaType::Int)
        return QString::number(v.toInt());
    return v.toString();
}

// A stored number: a 32-bit number as it is, a text by its leading number.
double numberOf(const QVariant &v)
{
    if (!v.isValid())
        return 0;
    if (v.typeId() == QMetaType::Int)
        return v.toInt();
    return RecordNumberValue(v.toString());
}

int32_t int32Of(const QVariant &v)
{
    const double d = numberOf(v);
    if (!(d > -2147483648.5 && d < 2147483647.5))
        return 0;
    return int32_t(RoundHalfEven(d));
}

// A stored folder: drive form, no "." or ".." component, canonical when its
// drive has files, ending in "\"; anything else reads as empty.
QString folderOf(const QVariant &v)
{
    QString p = textOf(v).trimmed();
    if (p.size() < 2 || !p[0].isLetter() || p[1] != QLatin1Char(':') || HasDotComponent(p))
        return {};
    if (!plat::toNative(p).isEmpty())
        p = plat::canonicalInternal(p);
    if (!p.endsWith(QLatin1Char('\\')))
        p += QLatin1Char('\\');
    return p;
}

double sizeLimitOf(const QVariant &v)
{
    QString t = textOf(v);
    t.remove(QLatin1Char('#'));
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    const double d = RecordNumberValue(t);
    return std::isfinite(d) && d >= 0 && d <= kMaxSizeLimitMB ? d : 0;
}

QString sizeLimitText(double mb) { return QString::number(mb, 'g', 15) + QLatin1Char('#'); }

int64_t twipsOf(double value) { return RoundHalfEven(value); }

QString rowName(int i) { return QString::number(i).rightJustified(3, QLatin1Char('0')); }

} // namespace

void frmRecover::CreateRegistryEntries()
{
    if (CacheRoot.isEmpty())
        return;
    RememberListIndex();
    MakeLongPath();
    // Every value in one write of the settings file.
    plat::SettingsBatch batch;

    const int32_t h = RegistryHive;
    RegCreateKeyIfMissing(h, BaseKey);
    RegDeleteSubkey(h, OldProgramKey, kLvw);
    RegDeleteSubkey(h, BaseKey, QStringLiteral("Quilvane"));
    RegCreateKeyIfMissing(h, ProgramKey);

    auto set = [&](const char *name, const QVariant &value) {
        RegSetValue(h, ProgramKey, QString::fromLatin1(name), value);
    };
    set("HomePath", StripTrailingBackslash(plat::programFolder()));
    set("BRD", ShownFolder);
    set("LBR", BrowseStartFolder);
    set("LUD", ChooserStartPath);
    set("BUD", BackupFolder);
    set("TCache", CacheRoot);
    set("OCache", PrevCacheRoot);
    set("O2Cache", OlderCacheRoot);
    set("MT", qint64(twipsOf(Top())));
    set("ML", qint64(twipsOf(Left())));
    set("MW", qint64(twipsOf(Width())));
    set("MH", qint64(twipsOf(Height())));
    set("CL", ListColors.ListIndex());
    set("TW", QString::number(RenderedThumbWidth));
    set("SD", SourceDrive);
    set("SDVS", QString::number(SourceVolumeSerial));
    set("DRVe", Drive1.Drive().left(2));
    set("THnr", ThumbCounter);
    set("LSB", BrowseListIndex);
    set("CHKSpec", CheckSpecs.Value() ^ 1);
    // The index as it stands (-1: the prompt, 0: the size entry).
    set("TypeSel", CmbTypeSelect.ListIndex());
    set("LMaxMB", sizeLimitText(SizeLimitMax));
    set("LMinMB", sizeLimitText(SizeLimitMin));

    const QString lvwKey = ProgramKey + QLatin1Char('\\') + kLvw;
    RegDeleteSubkey(h, ProgramKey, kLvw);
    RegCreateKeyIfMissing(h, lvwKey);
    const int rows = LvwTypes.ItemCount();
    RegSetValue(h, lvwKey, QStringLiteral("LVWC"), rows);
    for (int i = 1; i <= rows; ++i) {
        RegSetValue(h, lvwKey, rowName(i),
                    LvwTypes.ItemText(i) + (LvwTypes.ItemChecked(i) ? QStringLiteral(",True") : QStringLiteral(",False")));
    }

    SaveSetting(QStringLiteral("ZTVers"), QStringLiteral("Startup"), QStringLiteral("ST"),
                QString::number(ResultViewState));
}

void frmRecover::ReadRegistryEntries()
{
    const int32_t h = RegistryHive;
    auto get = [&](const char *name) { return RegGetValue(h, ProgramKey, QString::fromLatin1(name)); };

    ShownFolder = folderOf(get("BRD"));
    BrowseStartFolder = folderOf(get("LBR"));
    ChooserStartPath = folderOf(get("LUD"));
    BackupFolder = folderOf(get("BUD"));

    // Thumbnail width: a width out of its range counts as none.
    int tw = int32Of(get("TW"));
    if (tw < 0 || tw > kMaxThumbWidth)
        tw = 0;
    TxtWidth.setText(QString::number(tw));
    RenderedThumbWidth = tw;
    if (tw == 0)
        TxtWidth.setText(QStringLiteral("72"));

    const QString sd = textOf(get("SD")).trimmed();
    SourceDrive = sd.size() == 2 && sd[0].isLetter() && sd[1] == QLatin1Char(':') ? sd : QString();
    SourceVolumeSerial = int32Of(get("SDVS"));

    const QString st = GetSetting(QStringLiteral("ZTVers"), QStringLiteral("Startup"), QStringLiteral("ST"),
                                  QStringLiteral("0"))
                           .trimmed();
    StoredViewState = st == QLatin1String("1") ? st : QStringLiteral("0");
    ResultViewState = StoredViewState.toInt();

    CacheRoot = folderOf(get("TCache"));
    PrevCacheRoot = folderOf(get("OCache"));
    OlderCacheRoot = folderOf(get("O2Cache"));

    BrowseListIndex = int32Of(get("LSB"));
    if (BrowseListIndex < 0 || BrowseListIndex > kMaxListIndex)
        BrowseListIndex = 0;

    // TypeSel is shown once the ticks are restored (RestoreScanTypeRows).

    SizeLimitMax = sizeLimitOf(get("LMaxMB"));
    SizeLimitMin = sizeLimitOf(get("LMinMB"));

    // Window place: a width of 0 (or missing) is the default; a place off
    // the screen puts the window at the top-left corner.
    double top = int32Of(get("MT"));
    double left = int32Of(get("ML"));
    double width = int32Of(get("MW"));
    const double screenW = plat::screenWidthTwips(), screenH = plat::screenHeightTwips();
    if (width == 0)
        width = kDefaultWindowWidth;
    width = std::clamp(width, double(kMinWindowWidth), std::max(double(kDefaultWindowWidth), screenW));
    if (left < 0 || left > screenW || top < 0 || top > screenH)
        left = top = 0;
    Move(left, top, width);

    int32_t cl = int32Of(get("CL"));
    if (cl < 1 || cl >= ListColors.ListCount())
        cl = 2;
    ListColors.setListIndex(cl);

    if (plat::screenWidthTwips() < 15360) {
        CheckSpecs.setVisible(true);
        const QVariant v = get("CHKSpec");
        const int32_t stored = v.isValid() ? int32Of(v) : 0;
        CheckSpecs.setValue(stored == 0 || stored == 1 ? (stored ^ 1) : 1);
    }

    // The thumbnail size follows the box.
    int boxWidth = int32Of(TxtWidth.Text());
    if (boxWidth <= 0 || boxWidth > kMaxThumbWidth)
        boxWidth = 72;
    ThumbWidth = boxWidth;
    ThumbHeight = ThumbWidth * 2 / 3;
}

void frmRecover::RestoreScanTypeRows()
{
    const int32_t h = RegistryHive;
    const QString lvwKey = ProgramKey + QLatin1Char('\\') + kLvw;
    int32_t n = int32Of(RegGetValue(h, lvwKey, QStringLiteral("LVWC")));
    if (n < 0 || n > kMaxTypeRows)
        n = 0;
    const int rows = LvwTypes.ItemCount();
    QString keyList;
    for (int i = 1; i <= n; ++i) {
        const QString value = textOf(RegGetValue(h, lvwKey, rowName(i)));
        if (!value.contains(QLatin1String("True")))
            continue;
        if (n == rows) {
            LvwTypes.setItemChecked(i, true);
        } else {
            const int comma = int(value.indexOf(QLatin1Char(',')));
            keyList += comma >= 0 ? value.left(comma + 1) : value;
        }
    }
    if (n != rows) {
        if (keyList.trimmed().isEmpty())
            keyList = kDefaultTypeList;
        for (int i = 1; i <= rows; ++i) {
            const QString text = LvwTypes.ItemText(i);
            if (!text.isEmpty() && keyList.contains(text, Qt::CaseInsensitive)) {
                LvwTypes.setItemChecked(i, true);
                LvwTypes.setItemSelected(i, true);
            }
        }
    }
    ShowTypeSelectInForce(int32Of(RegGetValue(h, ProgramKey, QStringLiteral("TypeSel"))));
}
