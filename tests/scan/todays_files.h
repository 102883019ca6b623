// Files as today's tools write them, for the scan's tests: RAR archives built
// by the published formats (signature, main archive header, one stored file,
// end of archive, with their CRCs), and the committed LibreOffice samples
// that are kept xz-compressed.
#pragma once

#include <QByteArray>
#include <QString>

namespace todays_files {

// RAR 1.5 to 4 and RAR 5 archives holding `content` stored as `name`.
QByteArray rar4Archive(const QByteArray &name, const QByteArray &content);
QByteArray rar5Archive(const QByteArray &name, const QByteArray &content);

// The smallest compound file whose DIFAT sector lies behind the allocation
// sector it lists: a header naming 109 of its 110 allocation sectors (0 to
// 108) and the DIFAT at sector 110, which names sector 109; then the
// directory sector. 57,856 bytes.
QByteArray compoundFileWithDifatBehind();

// A committed sample whose name ends in ".xz" (report9.doc.xz), unpacked by
// xz into `dir`; empty when xz is missing.
QByteArray unpackedSample(const QString &dir, const QString &name);

} // namespace todays_files
