#include "scan/ui/typelist.h"

#include "drive/strings.h"
#include "recovery/scanlist.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace {

// Sizes beyond this are no limit anybody means (and the settings refuse them).
constexpr double kMaxSizeLimitMB = 1.0e9;

const QString kRawList = QStringLiteral(
    ".CRW.CR2.DNG.NEF.RAW.RAF.X3F.ORF.SRF.MRW.DCR.BAY.PEF.TIFF.TIF.SR2.ARW.RW2.FOVb.MEW.RAW.RDC.KDC.DCR.RDC.3FR.MEF");

QString rawTypes()
{
    QString list = kRawList;
    return list.replace(QLatin1Char('.'), QLatin1Char(','));
}

struct Preset {
    const char *name;
    const char *list;
};

// Camera makes, in the order they are compared.
const Preset kMakes[] = {
    {"Canon", "CRW,CR2,TIF,THM,JPG"},      {"Nikon", "NEF,JPG,TIF"},     {"Minolta", "MRW,JPE,THM,JPG"},
    {"Sony", "SRF,JPG,TIF,ARW,SR2"},       {"Panasonic", "RAW,RW2,JPG,TIF"}, {"Pentax", "PEF,JPG,TIF"},
    {"Sigma", "X3F,JPG,TIF"},              {"Olympus", "ORF,JPG,TIF"},   {"Fuji", "RAF,JPG,TIF"},
    {"Kodak", "KDC,DCR,JPG,TIF"},          {"Rollei", "RDC,JPG,TIF"},    {"Samsung", "DNG,JPG,TIF"},
    {"Leica", "DNG,RAW,JPG,TIF"},          {"Mamiya", "MEF"},
};

// The makes in the order of the combo box.
const char *const kMakeRows[] = {"Canon",   "Fuji",      "Kodak",  "Leica",  "Mamiya",  "Minolta", "Nikon",
                                 "Olympus", "Panasonic", "Pentax", "Rollei", "Samsung", "Sigma",   "Sony"};

enum class Group { Cameras, Unlisted, Pictures, Raw, Sound, Data, Movies, All };

struct GroupEntry {
    Group group;
    int text;
    const char *english;
};

// The groups in the order they are compared.
const GroupEntry kGroups[] = {
    {Group::Cameras, 1631, "All camera's"},       {Group::Unlisted, 220, "Unlisted camera"},
    {Group::Pictures, 1632, "All picture types"}, {Group::Raw, 225, "All raw types"},
    {Group::Sound, 1533, "All sound types"},      {Group::Data, 1630, "All data types"},
    {Group::Movies, 1629, "All movie types"},     {Group::All, 1534, "All types possible"},
};

QString groupText(int number, const char *english)
{
    return GetString(number, QString::fromLatin1(english));
}

QString groupList(Group group, const QStringList &rowNames)
{
    switch (group) {
    case Group::Cameras:
        return QStringLiteral("THM,JPG,JPE,") + rawTypes();
    case Group::Unlisted:
        return QStringLiteral("JPG,JPE,TIF");
    case Group::Pictures:
        return QStringLiteral("CR2,CRW,DCR,DNG,JBF,ARW,MRW,NEF,ORF,PCX,PEF,PIXAR,PIX,PSP,RAF,X3F,SRF,RW2,JPE,JPG,"
                              "JPEG,THM,ICO,WMF,BMP,CUR,PNG,GIF,TIF,TIFF,KDC,JFIF,3FR,RDC,RAW,KDC,SR2,MEF,CDR,");
    case Group::Raw:
        return rawTypes();
    case Group::Sound:
        return QStringLiteral("MP3,WAV");
    case Group::Data:
        return QStringLiteral("PDF,ZIP,RAR,DOC,PST,CAB,WK4,MDB,SWF");
    case Group::Movies:
        return QStringLiteral("MPG,AVI,WMV,MOV,ASF");
    case Group::All: {
        QString all;
        for (const QString &name : rowNames)
            all += name + QLatin1Char(',');
        return all;
    }
    }
    return {};
}

} // namespace

QString TypeReliabilityText(int32_t matches, int32_t analysed)
{
    if (analysed <= 0)
        return {};
    const double percent = 100.0 * double(matches) / double(analysed);
    // "#00.0": one decimal, halves away from zero, at least two digits before the mark.
    const double tenths = std::floor(std::fabs(percent) * 10.0 + 0.5) / 10.0;
    return QString::asprintf("%s%04.1f%%", percent < 0 ? "-" : "", tenths);
}

double TypesColumnFactor(double listWidthTwips)
{
    if (listWidthTwips <= 10300)
        return 1;
    return std::min(listWidthTwips / 10300, 1.365);
}

QStringList TypeSelectEntries(double sizeMin, double sizeMax)
{
    QStringList rows;
    rows << QStringLiteral("Limited file size: ") + SizeLimitNumberText(sizeMin) + QLatin1Char('-')
                + SizeLimitNumberText(sizeMax) + QStringLiteral(" MB");
    rows << groupText(1631, "All camera's") << groupText(1630, "All data types")
         << groupText(1629, "All movie types") << groupText(1632, "All picture types")
         << groupText(225, "All raw types") << groupText(1533, "All sound types")
         << groupText(1534, "All types possible");
    for (const char *make : kMakeRows)
        rows << QString::fromLatin1(make);
    rows << groupText(220, "Unlisted camera") << groupText(1708, "Deselect");
    return rows;
}

QString TypeSelectPrompt()
{
    return QStringLiteral("Pre Select Types for Scan");
}

QString TypePresetList(const QString &entryText, const QStringList &rowNames)
{
    for (const Preset &make : kMakes)
        if (entryText == QLatin1String(make.name))
            return QString::fromLatin1(make.list);
    for (const GroupEntry &g : kGroups)
        if (entryText == groupText(g.text, g.english))
            return groupList(g.group, rowNames);
    return {};
}

QString SizeLimitNumberText(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = locale.toString(value, 'g', 15);
    text.remove(QLatin1Char(' '));
    text.remove(QChar(0x00A0));
    text.remove(QChar(0x202F));
    return text;
}

QString SizeStateText(double sizeMin, double sizeMax)
{
    if (sizeMin + sizeMax == 0)
        return QStringLiteral("File sizes: unlimited");
    return QStringLiteral("Limited: file size ") + SizeLimitNumberText(sizeMin) + QLatin1Char('-')
        + SizeLimitNumberText(sizeMax) + QStringLiteral(" MB");
}

QString SizeDefaultAnswer(double sizeMin, double sizeMax)
{
    if (sizeMin == 0 && sizeMax == 0)
        return QStringLiteral("0");
    return SizeLimitNumberText(sizeMin) + QLatin1Char('-') + SizeLimitNumberText(sizeMax);
}

SizeAnswer ParseSizeLimitAnswer(const QString &answer, double &sizeMin, double &sizeMax)
{
    if (answer.isEmpty())
        return SizeAnswer::Cancelled;
    QString text = answer;
    if (text.size() == 1 && RecordNumberValue(text) == 0)
        text = QStringLiteral("0-0");
    const qsizetype dash = text.indexOf(QLatin1Char('-'));
    if (dash < 0)
        return SizeAnswer::AskAgain;
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    const double lo = RecordNumberValue(text);
    const double hi = RecordNumberValue(text.mid(dash + 1).trimmed());
    // A negative limit ("-5") or a minimum above the maximum would limit the
    // scan in a way the user did not ask for: ask again.
    if (!(lo >= 0 && hi >= 0 && lo <= kMaxSizeLimitMB && hi <= kMaxSizeLimitMB) || (hi > 0 && lo > hi))
        return SizeAnswer::AskAgain;
    sizeMin = lo;
    sizeMax = hi;
    return SizeAnswer::Accepted;
}
