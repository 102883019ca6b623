#include "drive/strings.h"

#include "platform/text.h"
#include "resources/stringtables.h"

#include <QHash>

namespace {

// Stands in for the outside language component: it is created on first use,
// kept for the run, and reads the string tables once they are handed to it.
class LanguageComponent {
public:
    static LanguageComponent &instance()
    {
        static LanguageComponent component;
        return component;
    }

    void setModule()
    {
        ++handOvers_;
        tables_.clear();
        for (int id : StringTableLanguages())
            tables_.insert(id, ParseStringTable(StringTableData(id)));
    }

    bool working() const { return !tables_.value(9).isEmpty(); }

    // False only when the component cannot work at all; a number the table
    // does not hold gives an empty text.
    bool lookup(int number, int languageId, QString &text) const
    {
        if (!working())
            return false;
        const auto table = tables_.constFind(languageId == 0 ? 9 : languageId);
        text = table == tables_.cend() ? QString() : table->value(number);
        return true;
    }

    int handOvers() const { return handOvers_; }

private:
    LanguageComponent() = default;
    QHash<int, QHash<int, QString>> tables_;
    int handOvers_ = 0;
};

bool g_initDone = false;
int g_currentLanguageId = 0;

struct LocaleEntry {
    int lcid;
    const char *tag;    // language, or language_TERRITORY as in the locale environment
    const char *name;   // as Windows' LOCALE_SLANGUAGE gives it
};

// The first entry of a language is its primary locale, taken when the
// environment names only the language or a territory not listed here.
const LocaleEntry kLocales[] = {
    {1033, "en_US", "English (United States)"},
    {2057, "en_GB", "English (United Kingdom)"},
    {3081, "en_AU", "English (Australia)"},
    {4105, "en_CA", "English (Canada)"},
    {5129, "en_NZ", "English (New Zealand)"},
    {6153, "en_IE", "English (Ireland)"},
    {7177, "en_ZA", "English (South Africa)"},
    {16393, "en_IN", "English (India)"},
    {1031, "de_DE", "German (Germany)"},
    {2055, "de_CH", "German (Switzerland)"},
    {3079, "de_AT", "German (Austria)"},
    {4103, "de_LU", "German (Luxembourg)"},
    {5127, "de_LI", "German (Liechtenstein)"},
    {1043, "nl_NL", "Dutch (Netherlands)"},
    {2067, "nl_BE", "Dutch (Belgium)"},
    {1122, "fy_NL", "Frisian (Netherlands)"},
    {1036, "fr_FR", "French (France)"},
    {2060, "fr_BE", "French (Belgium)"},
    {3084, "fr_CA", "French (Canada)"},
    {4108, "fr_CH", "French (Switzerland)"},
    {5132, "fr_LU", "French (Luxembourg)"},
    {1040, "it_IT", "Italian (Italy)"},
    {2064, "it_CH", "Italian (Switzerland)"},
    {3082, "es_ES", "Spanish (Spain, International Sort)"},
    {2058, "es_MX", "Spanish (Mexico)"},
    {11274, "es_AR", "Spanish (Argentina)"},
    {1046, "pt_BR", "Portuguese (Brazil)"},
    {2070, "pt_PT", "Portuguese (Portugal)"},
    {1030, "da_DK", "Danish (Denmark)"},
    {1053, "sv_SE", "Swedish (Sweden)"},
    {2077, "sv_FI", "Swedish (Finland)"},
    {1044, "nb_NO", "Norwegian, Bokm\xc3\xa5l (Norway)"},
    {1044, "no_NO", "Norwegian, Bokm\xc3\xa5l (Norway)"},
    {2068, "nn_NO", "Norwegian, Nynorsk (Norway)"},
    {1035, "fi_FI", "Finnish (Finland)"},
    {1039, "is_IS", "Icelandic (Iceland)"},
    {1045, "pl_PL", "Polish (Poland)"},
    {1029, "cs_CZ", "Czech (Czech Republic)"},
    {1051, "sk_SK", "Slovak (Slovakia)"},
    {1060, "sl_SI", "Slovenian (Slovenia)"},
    {1050, "hr_HR", "Croatian (Croatia)"},
    {1038, "hu_HU", "Hungarian (Hungary)"},
    {1048, "ro_RO", "Romanian (Romania)"},
    {1026, "bg_BG", "Bulgarian (Bulgaria)"},
    {1032, "el_GR", "Greek (Greece)"},
    {1055, "tr_TR", "Turkish (Turkey)"},
    {1049, "ru_RU", "Russian (Russia)"},
    {1058, "uk_UA", "Ukrainian (Ukraine)"},
    {1061, "et_EE", "Estonian (Estonia)"},
    {1062, "lv_LV", "Latvian (Latvia)"},
    {1063, "lt_LT", "Lithuanian (Lithuania)"},
    {1027, "ca_ES", "Catalan (Catalan)"},
    {1025, "ar_SA", "Arabic (Saudi Arabia)"},
    {1037, "he_IL", "Hebrew (Israel)"},
    {1081, "hi_IN", "Hindi (India)"},
    {1054, "th_TH", "Thai (Thailand)"},
    {1066, "vi_VN", "Vietnamese (Vietnam)"},
    {1057, "id_ID", "Indonesian (Indonesia)"},
    {1041, "ja_JP", "Japanese (Japan)"},
    {1042, "ko_KR", "Korean (Korea)"},
    {2052, "zh_CN", "Chinese (Simplified, PRC)"},
    {1028, "zh_TW", "Chinese (Traditional, Taiwan)"},
    {3076, "zh_HK", "Chinese (Traditional, Hong Kong S.A.R.)"},
};

// The language name alone, for ids of a known primary language but an
// unlisted territory: the name of the language's first entry up to " (".
QString primaryLanguageName(int lcid)
{
    const int primary = lcid & 0x3FF;
    for (const LocaleEntry &e : kLocales) {
        if ((e.lcid & 0x3FF) == primary) {
            const QString name = QString::fromUtf8(e.name);
            const qsizetype bracket = name.indexOf(QStringLiteral(" ("));
            return bracket < 0 ? name : name.left(bracket);
        }
    }
    return {};
}

} // namespace

QString GetString(int number, const QString &englishDefault)
{
    InitLanguage();
    QString text;
    // Tables that cannot be read give the caller's English text; start-up
    // tests LanguageComponentAvailable before it relies on them.
    if (!LanguageComponent::instance().lookup(number, g_currentLanguageId, text))
        return englishDefault;
    return text.isEmpty() ? englishDefault : text;
}

QString FormatString(const QString &text, const QStringList &items)
{
    QString result = text;
    for (qsizetype i = 0; i < items.size(); ++i)
        result.replace(QStringLiteral("%") + QString::number(i), items.at(i), Qt::CaseSensitive);
    return result;
}

QList<int> SupportedLanguages()
{
    return {9, 1043, 1031};
}

void InitLanguage()
{
    if (g_initDone)
        return;
    LanguageComponent::instance().setModule();
    g_initDone = true;
}

bool LanguageComponentAvailable()
{
    InitLanguage();
    return LanguageComponent::instance().working();
}

int LanguageModuleHandOvers()
{
    return LanguageComponent::instance().handOvers();
}

int CurrentLanguageId()
{
    return g_currentLanguageId;
}

void SetCurrentLanguageId(int languageId)
{
    g_currentLanguageId = languageId;
    // The toolkit's buttons and dialogs speak the window's language.
    plat::setToolkitLanguage(languageId == 1031 ? QStringLiteral("de")
                             : languageId == 1043 ? QStringLiteral("nl") : QString());
}

QString LanguageName()
{
    return GetString(1529, QStringLiteral("English")).trimmed();
}

void MapLcid(int &lcid)
{
    switch (lcid) {
    case 1043: case 1122: case 2067:
        lcid = 1043;
        break;
    case 1031: case 2055: case 3079: case 4103: case 5127:
        lcid = 1031;
        break;
    default:
        lcid = 9;
        break;
    }
}

int SystemDefaultLanguageId()
{
    // The message precedence of POSIX, with GNU's LANGUAGE first; LANGUAGE
    // is a list ("de:en") whose first entry counts.
    QByteArray value;
    for (const char *variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        value = qgetenv(variable);
        if (qstrcmp(variable, "LANGUAGE") == 0)
            value = value.split(':').value(0);
        if (!value.isEmpty())
            break;
    }
    // language[_territory][.codeset][@modifier]
    QString locale = QString::fromLatin1(value);
    for (QChar cut : {u'.', u'@'}) {
        const qsizetype at = locale.indexOf(cut);
        if (at >= 0)
            locale.truncate(at);
    }
    locale.replace(u'-', u'_');
    const QString language = locale.section(u'_', 0, 0).toLower();
    const QString territory = locale.section(u'_', 1, 1).toUpper();
    if (language.isEmpty() || language == QLatin1String("c") || language == QLatin1String("posix"))
        return 1033;

    const QString tag = language + u'_' + territory;
    int primary = 0;
    for (const LocaleEntry &e : kLocales) {
        const QString entryTag = QString::fromLatin1(e.tag);
        if (entryTag == tag)
            return e.lcid;
        if (primary == 0 && entryTag.section(u'_', 0, 0) == language)
            primary = e.lcid;
    }
    return primary != 0 ? primary : 1033;
}

QString LocaleLanguageName(int &lcid)
{
    if (lcid == 0)
        lcid = SystemDefaultLanguageId();
    for (const LocaleEntry &e : kLocales) {
        if (e.lcid == lcid)
            return QString::fromUtf8(e.name);
    }
    return primaryLanguageName(lcid);
}

QString TrimBlanks(const QString &text)
{
    qsizetype from = 0, to = text.size();
    while (from < to && text[from] == QLatin1Char(' '))
        ++from;
    while (to > from && text[to - 1] == QLatin1Char(' '))
        --to;
    return text.mid(from, to - from);
}
