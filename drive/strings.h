// Localized strings: every caption, message and list text of the program has a
// number in the program's string tables (resources/strings), and every use of
// it passes that number together with the English text as a default.
//
// The texts are looked up in the language of CurrentLanguageId: 9 English,
// 1031 German, 1043 Dutch. A number that the language's table lacks, or whose
// text is empty, gives the caller's English default. 0 (no language chosen yet)
// and any language without a table read as English.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The text of a number in the current language, else englishDefault.
QString GetString(int number, const QString &englishDefault);

// Replaces, for i from 0 to the last item in rising order, every "%" followed
// by the decimal digits of i with item i (exact, case-sensitive). "%1" is thus
// replaced before "%10": with eleven items, "%10" has become item 1 followed
// by "0" by the time item 10's turn comes.
QString FormatString(const QString &text, const QStringList &items);

// Trims blanks only, as the run time's Trim does (tabs and other white
// space stay).
QString TrimBlanks(const QString &text);

// The languages of the user interface, in this order: 9, 1043, 1031.
QList<int> SupportedLanguages();

// Hands the string tables to the language service, once per run; later calls
// do nothing. GetString does this itself when it comes first.
void InitLanguage();

// True when the English table can be read: the start-up test that keeps the
// program from starting without its texts.
bool LanguageComponentAvailable();

// How often the string tables were handed to the language service in this run
// (0 before the first InitLanguage or GetString, 1 after). For diagnostics.
int LanguageModuleHandOvers();

// The language chosen for this run; 0 until start-up has chosen one. Setting
// it also sets the language of the toolkit's own texts (standard buttons,
// file dialogs).
int CurrentLanguageId();
void SetCurrentLanguageId(int languageId);

// The name of the current language in that language, trimmed (text 1529):
// "English", "Deutsch" or "Nederlands". Names the folder of the manual.
QString LanguageName();

// Replaces a locale id by the supported language it belongs to: 1043, 1122 and
// 2067 give 1043; 1031, 2055, 3079, 4103 and 5127 give 1031; any other gives 9.
void MapLcid(int &lcid);

// The system's default locale id, taken from the locale environment (the
// first entry of LANGUAGE, then LC_ALL, LC_MESSAGES, LANG): "de_CH.UTF-8" gives 2055, "nl_BE" 2067. "C",
// "POSIX", an unset environment and an unknown language give 1033.
int SystemDefaultLanguageId();

// The English name of a locale's language as Windows words it, such as
// "German (Switzerland)". A locale id of 0 is first replaced by
// SystemDefaultLanguageId() and the replacement is written back. An unknown
// id gives the name of its primary language ("German"), else an empty text.
QString LocaleLanguageName(int &lcid);
