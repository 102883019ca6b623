// Byte texts: the program's one-character-per-byte formats keep bytes; where
// a text must be converted, Windows-1252 ("ANSI") is used, and FAT names and
// labels are in code page 850 ("OEM"). And the language of the toolkit's
// own texts.
#pragma once

#include <QByteArray>
#include <QString>

namespace plat {

QByteArray toAnsi(const QString &text);           // "?" for what 1252 cannot hold
QString fromAnsi(const QByteArray &bytes);
QByteArray toOem(const QString &text);            // code page 850
QString fromOem(const QByteArray &bytes);

// The widget toolkit's own texts (standard buttons, file dialogs) in a
// language: "de", "nl"; empty, or a language whose translations are not
// installed, gives English. True when translations were loaded.
bool setToolkitLanguage(const QString &language);

} // namespace plat
