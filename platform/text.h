// Byte texts: the program's one-character-per-byte formats keep bytes; where
// a text must be converted, Windows-1252 ("ANSI") is used, and FAT names and
// labels are in code page 850 ("OEM").
#pragma once

#include <QByteArray>
#include <QString>

namespace plat {

QByteArray toAnsi(const QString &text);           // "?" for what 1252 cannot hold
QString fromAnsi(const QByteArray &bytes);
QByteArray toOem(const QString &text);            // code page 850
QString fromOem(const QByteArray &bytes);

} // namespace plat
