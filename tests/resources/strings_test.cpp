// The string tables in the three languages and the language service on top
// of them.
#include "drive/strings.h"
#include "resources/stringtables.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace {

const int kEnglish = 9;
const int kGerman = 1031;
const int kDutch = 1043;

QHash<int, QString> table(int languageId)
{
    return ParseStringTable(StringTableData(languageId));
}

QSet<QString> placeholders(const QString &text)
{
    QSet<QString> found;
    static const QRegularExpression re(QStringLiteral("%\\d"));
    for (auto it = re.globalMatch(text); it.hasNext();)
        found.insert(it.next().captured());
    return found;
}

// Switches the user-interface language for one test and back afterwards.
class LanguageTest : public ::testing::Test {
protected:
    void TearDown() override { SetCurrentLanguageId(saved_); }
    int saved_ = CurrentLanguageId();
};

// Sets locale variables for one test; the earlier values come back afterwards.
class LocaleEnvironment {
public:
    LocaleEnvironment(std::optional<QByteArray> lcAll, std::optional<QByteArray> lcMessages,
                      std::optional<QByteArray> lang, std::optional<QByteArray> language = std::nullopt)
    {
        set("LANGUAGE", language);
        set("LC_ALL", lcAll);
        set("LC_MESSAGES", lcMessages);
        set("LANG", lang);
    }
    ~LocaleEnvironment()
    {
        for (const auto &[name, value] : saved_) {
            if (value)
                qputenv(name.c_str(), *value);
            else
                qunsetenv(name.c_str());
        }
    }

private:
    void set(const char *name, const std::optional<QByteArray> &value)
    {
        saved_[name] = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    std::map<std::string, std::optional<QByteArray>> saved_;
};

} // namespace

TEST(StringTableFormat, ParsesEscapesCommentsAndLineEnds)
{
    const QByteArray data =
        "# comment\r\n"
        "\n"
        "1\tplain text\r\n"
        "2\t\\sleading and trailing\\s\\s\n"
        "3\ttwo\\nlines\\tand a tab\n"
        "4\tends in a backslash\\\\\n"
        "5\t\\\\ Type: \\q stays\n"
        "6\ttab\tinside the text\n"
        "x\tnot a number\n"
        "0\tnot a text number\n"
        "\tno number\n"
        "7 without a tab\n"
        "8\tfirst\n"
        "8\tsecond\n"
        "9\tno line end at the end";
    const QHash<int, QString> t = ParseStringTable(data);
    EXPECT_EQ(t.size(), 8);
    EXPECT_EQ(t.value(1), QStringLiteral("plain text"));
    EXPECT_EQ(t.value(2), QStringLiteral(" leading and trailing  "));
    EXPECT_EQ(t.value(3), QStringLiteral("two\r\nlines\tand a tab"));
    EXPECT_EQ(t.value(4), QStringLiteral("ends in a backslash\\"));
    EXPECT_EQ(t.value(5), QStringLiteral("\\ Type: \\q stays"));
    EXPECT_EQ(t.value(6), QStringLiteral("tab\tinside the text"));
    EXPECT_EQ(t.value(8), QStringLiteral("second"));
    EXPECT_EQ(t.value(9), QStringLiteral("no line end at the end"));
    EXPECT_FALSE(t.contains(0));
    EXPECT_FALSE(t.contains(7));
    EXPECT_TRUE(ParseStringTable(QByteArray()).isEmpty());
    EXPECT_TRUE(StringTableData(1036).isEmpty());
}

TEST(StringTables, AllLanguagesHoldTheSameNumbers)
{
    const QHash<int, QString> en = table(kEnglish);
    ASSERT_GT(en.size(), 400);
    QList<int> numbers = en.keys();
    std::sort(numbers.begin(), numbers.end());
    EXPECT_GE(numbers.first(), 1);
    // The program's own texts run to 1724; texts added since take numbers
    // from 2000 on.
    for (int n : numbers)
        EXPECT_TRUE(n <= 1724 || n >= 2000) << n;
    for (int id : {kGerman, kDutch}) {
        QList<int> other = table(id).keys();
        std::sort(other.begin(), other.end());
        EXPECT_EQ(other, numbers) << "language " << id;
    }
}

TEST(StringTables, TranslationsKeepThePlaceholdersAndHaveText)
{
    const QHash<int, QString> en = table(kEnglish);
    for (int id : {kEnglish, kGerman, kDutch}) {
        const QHash<int, QString> t = table(id);
        for (auto it = en.cbegin(); it != en.cend(); ++it) {
            const QString text = t.value(it.key());
            EXPECT_FALSE(text.trimmed().isEmpty()) << "language " << id << " text " << it.key();
            EXPECT_EQ(placeholders(text), placeholders(it.value()))
                << "language " << id << " text " << it.key() << ": " << text.toStdString();
        }
    }
}

TEST(StringTables, EnglishTextsKeepTheirExactForm)
{
    const QHash<int, QString> en = table(kEnglish);
    EXPECT_EQ(en.value(19), QStringLiteral(" Quilvane        Select a folder......"));
    EXPECT_EQ(en.value(135), QStringLiteral("Do you want to include the program data?   "));
    EXPECT_EQ(en.value(1407), QStringLiteral("Backup %0\\"));
    EXPECT_EQ(en.value(1426), QStringLiteral("\\ Type:"));
    EXPECT_EQ(en.value(1452), QStringLiteral("close  and restart Quilvane."));
    EXPECT_EQ(en.value(1468), QStringLiteral("files to a folder of your choice.") + QString(14, u' ')
                                  + QStringLiteral("Press Help for troubleshooting."));
    EXPECT_EQ(en.value(1462), QString::fromUtf8("Press the \u2018SearchTypes\u2019 button and check the wanted and uncheck the"));
    EXPECT_EQ(en.value(1492), QStringLiteral("Elapsed: %0 && to go: %1 seconds %2 MB/s"));
    EXPECT_EQ(en.value(1716), QStringLiteral(" deleted files found."));
    EXPECT_EQ(en.value(434), QStringLiteral("Select File Types"));
    EXPECT_EQ(en.value(1529), QStringLiteral("English"));
    EXPECT_EQ(table(kGerman).value(1529), QStringLiteral("Deutsch"));
    EXPECT_EQ(table(kDutch).value(1529), QStringLiteral("Nederlands"));
}

// The program recognises entries and captions by comparing them with other
// texts of the same language; these relations must hold in every table.
TEST(StringTables, TextsThatTheProgramComparesAgreeInEveryLanguage)
{
    for (int id : {kEnglish, kGerman, kDutch}) {
        SCOPED_TRACE(id);
        const QHash<int, QString> t = table(id);
        // Colour schemes: "Hide", else "Dark", else "Light" in the entry's text.
        EXPECT_TRUE(t[1495].contains(t[420]));
        EXPECT_FALSE(t[1498].contains(t[420]));
        EXPECT_TRUE(t[1498].contains(t[421]));
        EXPECT_FALSE(t[1499].contains(t[420]) || t[1499].contains(t[421]));
        EXPECT_TRUE(t[1499].contains(t[422]));
        EXPECT_FALSE(t[1707].contains(t[420]) || t[1707].contains(t[421]) || t[1707].contains(t[422]));
        // Verdicts are reworded by replacing parts of them.
        EXPECT_TRUE(t[650].contains(t[680]));
        EXPECT_TRUE(t[1424].startsWith(t[650]));
        EXPECT_TRUE(t[650].startsWith(t[1421] + u' '));
        // The drive information is recognised by the word for drive.
        EXPECT_TRUE(t[655].contains(t[722]));
        EXPECT_TRUE(t[1415].contains(t[722]));
        // Preset entries are filled under one number and recognised under another.
        for (auto [shown, compared] : {std::pair{1631, 1532}, {1630, 223}, {1629, 224}, {1632, 221},
                                       {1533, 222}, {1534, 1628}}) {
            EXPECT_EQ(t[shown], t[compared]) << shown << " " << compared;
        }
        // Captions set under one number and tested under another.
        EXPECT_EQ(t[38], t[1652]);
        EXPECT_EQ(t[334], t[391]);
        EXPECT_EQ(t[261], t[265]);
        EXPECT_EQ(t[45], t[1717]);
        EXPECT_NE(t[36], t[1635]);
        // A filter-menu item containing the word for "Save" saves the picture.
        for (int item : {1495, 1501, 1502, 1503, 1504, 1409, 1328, 428, 1329, 1330, 1408})
            EXPECT_FALSE(t[item].contains(t[399])) << item;
        // The Get Started title line holds both texts in 79 characters.
        EXPECT_LE(t[1454].size() + t[873].size(), 77);
    }
}

TEST(StringTables, TypeDescriptionsFitTheirTenCharacters)
{
    const QList<int> descriptions = {449, 450, 452, 453, 454, 455, 456, 457, 458, 459, 460,
                                     461, 464, 467, 470, 479, 483, 487, 491, 495, 498, 501,
                                     507, 510, 513, 516, 519, 522, 524, 528, 542};
    for (int id : {kEnglish, kGerman, kDutch}) {
        const QHash<int, QString> t = table(id);
        QSet<QString> seen;
        for (int n : descriptions) {
            EXPECT_LE(t[n].size(), 10) << id << " " << n;
            seen.insert(t[n]);
        }
        // A filter tells types apart by extension and description together;
        // distinct descriptions keep the rows of one extension apart as well.
        EXPECT_EQ(seen.size(), descriptions.size()) << id;
    }
    EXPECT_EQ(table(kGerman).value(449), QStringLiteral("JPEG Datei"));
}

TEST(SourceTree, EveryNumberPassedToGetStringHasATextInEveryLanguage)
{
    const QHash<int, QString> en = table(kEnglish);
    const QHash<int, QString> de = table(kGerman);
    const QHash<int, QString> nl = table(kDutch);
    const QDir root(QStringLiteral(QUILVANE_SOURCE_DIR));
    ASSERT_TRUE(root.exists(QStringLiteral("drive/strings.h")));
    static const QRegularExpression call(QStringLiteral("\\bGetString\\s*\\(\\s*(\\d+)"));

    int calls = 0;
    QDirIterator it(root.path(), {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = root.relativeFilePath(path);
        if (rel.startsWith(QLatin1String("tests/")) || rel.startsWith(QLatin1String("build"))
            || rel.startsWith(u'.'))
            continue;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << rel.toStdString();
        const QString source = QString::fromUtf8(file.readAll());
        for (auto m = call.globalMatch(source); m.hasNext();) {
            const int number = m.next().captured(1).toInt();
            ++calls;
            EXPECT_TRUE(en.contains(number)) << rel.toStdString() << ": English lacks " << number;
            EXPECT_TRUE(de.contains(number)) << rel.toStdString() << ": German lacks " << number;
            EXPECT_TRUE(nl.contains(number)) << rel.toStdString() << ": Dutch lacks " << number;
        }
    }
    RecordProperty("GetStringCalls", calls);
}

TEST_F(LanguageTest, GetStringLooksUpTheCurrentLanguage)
{
    ASSERT_TRUE(LanguageComponentAvailable());
    SetCurrentLanguageId(kEnglish);
    EXPECT_EQ(GetString(655, QStringLiteral("Drive")), QStringLiteral("Drive"));
    SetCurrentLanguageId(kGerman);
    EXPECT_EQ(GetString(655, QStringLiteral("Drive")), table(kGerman).value(655));
    EXPECT_EQ(GetString(655, QStringLiteral("Drive")), QStringLiteral("Laufwerk"));
    SetCurrentLanguageId(kDutch);
    EXPECT_EQ(GetString(655, QStringLiteral("Drive")), QStringLiteral("Station"));
    EXPECT_EQ(GetString(1407, {}), QStringLiteral("Back-up %0\\"));
}

TEST_F(LanguageTest, MissingTextsGiveTheCallersDefault)
{
    for (int id : {kEnglish, kGerman, kDutch}) {
        SetCurrentLanguageId(id);
        EXPECT_EQ(GetString(1723, QStringLiteral("Default")), QStringLiteral("Default"));
        EXPECT_EQ(GetString(-5, QStringLiteral("Default")), QStringLiteral("Default"));
        EXPECT_EQ(GetString(1723, QString()), QString());
    }
    // Not chosen yet, and a language without a table: English.
    SetCurrentLanguageId(0);
    EXPECT_EQ(GetString(24, QStringLiteral("x")), QStringLiteral("Cancel"));
    EXPECT_EQ(LanguageName(), QStringLiteral("English"));
    SetCurrentLanguageId(1036);
    EXPECT_EQ(GetString(24, QStringLiteral("Cancel")), QStringLiteral("Cancel"));
}

TEST_F(LanguageTest, LanguageNameIsTheLanguagesOwnName)
{
    SetCurrentLanguageId(kEnglish);
    EXPECT_EQ(LanguageName(), QStringLiteral("English"));
    SetCurrentLanguageId(kGerman);
    EXPECT_EQ(LanguageName(), QStringLiteral("Deutsch"));
    SetCurrentLanguageId(kDutch);
    EXPECT_EQ(LanguageName(), QStringLiteral("Nederlands"));
}

TEST(LanguageService, InitLanguageHandsTheTablesOverOnce)
{
    InitLanguage();
    EXPECT_EQ(LanguageModuleHandOvers(), 1);
    InitLanguage();
    GetString(655, QStringLiteral("Drive"));
    EXPECT_EQ(LanguageModuleHandOvers(), 1);
}

TEST(LanguageService, SupportedLanguagesInOrder)
{
    EXPECT_EQ(SupportedLanguages(), (QList<int>{9, 1043, 1031}));
}

TEST(FormatString, FillsNumberedPlaceholders)
{
    EXPECT_EQ(FormatString(QStringLiteral("Folder %0 is empty."), {QStringLiteral("E:\\DCIM\\")}),
              QStringLiteral("Folder E:\\DCIM\\ is empty."));
    EXPECT_EQ(FormatString(QStringLiteral("%1 of %0, again %1"), {QStringLiteral("a"), QStringLiteral("b")}),
              QStringLiteral("b of a, again b"));
    EXPECT_EQ(FormatString(QStringLiteral("No placeholder"), {QStringLiteral("a"), QStringLiteral("b")}),
              QStringLiteral("No placeholder"));
    EXPECT_EQ(FormatString(QStringLiteral("Only %0"), {QStringLiteral("x"), QStringLiteral("unused")}),
              QStringLiteral("Only x"));
    EXPECT_EQ(FormatString(QStringLiteral("Kept %0 %1"), {}), QStringLiteral("Kept %0 %1"));
    // An item's own "%1" is filled by the later rounds.
    EXPECT_EQ(FormatString(QStringLiteral("%0"), {QStringLiteral("%1"), QStringLiteral("z")}),
              QStringLiteral("z"));
}

TEST(FormatString, OneDigitPlaceholdersGoBeforeTwoDigitOnes)
{
    QStringList items;
    for (int i = 0; i <= 10; ++i)
        items << QStringLiteral("item%1-").arg(i);
    EXPECT_EQ(FormatString(QStringLiteral("[%1][%10]"), items),
              QStringLiteral("[item1-][item1-0]"));
}

TEST(Locales, MapLcidGroupsLocalesByLanguage)
{
    const std::map<int, int> expected = {
        {1043, 1043}, {1122, 1043}, {2067, 1043},
        {1031, 1031}, {2055, 1031}, {3079, 1031}, {4103, 1031}, {5127, 1031},
        {1033, 9}, {1036, 9}, {2057, 9}, {9, 9}, {0, 9}, {7, 9}, {19, 9}};
    for (const auto &[lcid, result] : expected) {
        int value = lcid;
        MapLcid(value);
        EXPECT_EQ(value, result) << lcid;
    }
}

TEST(Locales, SystemLanguageComesFromTheLocaleEnvironment)
{
    struct Case { std::optional<QByteArray> all, messages, lang; int lcid; };
    const Case cases[] = {
        {std::nullopt, std::nullopt, QByteArray("de_CH.UTF-8"), 2055},
        {std::nullopt, std::nullopt, QByteArray("nl_BE"), 2067},
        {std::nullopt, std::nullopt, QByteArray("en_US.UTF-8"), 1033},
        {std::nullopt, std::nullopt, QByteArray("fr_FR@euro"), 1036},
        {std::nullopt, std::nullopt, QByteArray("de_AT.ISO-8859-1@euro"), 3079},
        {std::nullopt, std::nullopt, QByteArray("nl"), 1043},
        {std::nullopt, std::nullopt, QByteArray("de_BE.UTF-8"), 1031},
        {std::nullopt, std::nullopt, QByteArray("C"), 1033},
        {std::nullopt, std::nullopt, QByteArray("POSIX"), 1033},
        {std::nullopt, std::nullopt, QByteArray("C.UTF-8"), 1033},
        {std::nullopt, std::nullopt, std::nullopt, 1033},
        {std::nullopt, std::nullopt, QByteArray("xx_YY"), 1033},
        {QByteArray("nl_NL.UTF-8"), QByteArray("de_DE"), QByteArray("fr_FR"), 1043},
        {QByteArray(""), QByteArray("de_DE"), QByteArray("fr_FR"), 1031},
        {std::nullopt, std::nullopt, QByteArray("fy_NL"), 1122},
    };
    for (const Case &c : cases) {
        LocaleEnvironment env(c.all, c.messages, c.lang);
        EXPECT_EQ(SystemDefaultLanguageId(), c.lcid) << (c.lang ? c.lang->constData() : "(unset)");
    }
    // GNU's LANGUAGE list comes first, its first entry counting; empty, it is passed over.
    {
        LocaleEnvironment env(QByteArray("en_US.UTF-8"), std::nullopt, QByteArray("fr_FR"), QByteArray("nl_BE:de"));
        EXPECT_EQ(SystemDefaultLanguageId(), 2067);
    }
    {
        LocaleEnvironment env(std::nullopt, std::nullopt, QByteArray("de_DE"), QByteArray(""));
        EXPECT_EQ(SystemDefaultLanguageId(), 1031);
    }
}

TEST(Locales, LocaleLanguageNameNamesTheLanguageInEnglish)
{
    const std::pair<int, const char *> names[] = {
        {2055, "German (Switzerland)"}, {2067, "Dutch (Belgium)"}, {1033, "English (United States)"},
        {1036, "French (France)"}, {1031, "German (Germany)"}, {1043, "Dutch (Netherlands)"},
        {1122, "Frisian (Netherlands)"}, {3079, "German (Austria)"}};
    for (const auto &[lcid, name] : names) {
        int value = lcid;
        EXPECT_EQ(LocaleLanguageName(value), QString::fromLatin1(name));
        EXPECT_EQ(value, lcid);
    }
    // An unlisted territory of a known language, and an unknown language.
    int swissDutchLike = 0x0813 + 0x1000;
    EXPECT_EQ(LocaleLanguageName(swissDutchLike), QStringLiteral("Dutch"));
    int unknown = 0x3FE;
    EXPECT_EQ(LocaleLanguageName(unknown), QString());
}

TEST(Locales, LocaleIdZeroIsReplacedByTheSystemLanguage)
{
    LocaleEnvironment env(std::nullopt, std::nullopt, QByteArray("de_CH.UTF-8"));
    int lcid = 0;
    EXPECT_EQ(LocaleLanguageName(lcid), QStringLiteral("German (Switzerland)"));
    EXPECT_EQ(lcid, 2055);
    MapLcid(lcid);
    EXPECT_EQ(lcid, 1031);
    EXPECT_TRUE(SupportedLanguages().contains(lcid));
}
