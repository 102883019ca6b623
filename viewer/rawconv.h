// The camera RAW converter (dcraw): its option sets, the names of its output
// in the cache's Conv folder, and one run of it. The converter reads
// untrusted bytes, so it runs as a limited child process without a shell;
// only that child is ever ended.
#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

// Set when a converter run ended with an exit code other than 0 or did not
// end in time.
extern bool ConverterFailed;

// The converter program: "dcraw" on the PATH unless set otherwise (tests).
QString ConverterProgram();
void SetConverterProgram(const QString &program);

enum class ConvertKind {
    EmbeddedThumb,   // -c -T -e -w: the camera's embedded thumbnail (".thc")
    HalfSize,        // -c -T -h -w: a half-size TIFF (".rpc", or ".thc" for the grid's retry)
    FullSize,        // -c -T -w: the full-size TIFF ("_" + extension + ".tif")
    Identify,        // -i -v: what the converter reads of the file (".inf", text)
};

QStringList ConverterOptions(ConvertKind kind);

// The output name of a found file's conversion: the name up to and including
// its first dot, "R#" removed, then "thc", "rpc" or "_" + extension + ".tif"
// (R#0012.cr2 gives 0012.thc, 0012.rpc, 0012_cr2.tif; 0012.inf for the
// identification). The full name is kept:
// the look-up and the conversion use the same name.
QString ConverterOutputName(const QString &foundName, ConvertKind kind);

// One converter run: the input picture and the output file (internal or
// native paths) and the options.
struct ConverterCommand {
    ConvertKind kind = ConvertKind::EmbeddedThumb;
    QString input;
    QString output;
    // The command as text, for the user (quoted; nothing runs it).
    QString displayText() const;
};

// Runs the converter with the input's picture on standard output into the
// output file and waits at most limitMs. True when it exited with 0 and wrote
// something; otherwise ConverterFailed is set and no (empty or partial)
// output is left. whileWaiting runs about every 20 ms while it works.
bool RunConverter(const ConverterCommand &command, int limitMs, const std::function<void()> &whileWaiting = {});

// The limits of one conversion: the first try and the grid's half-size retry.
constexpr int kConverterLimitMs = 15000;
constexpr int kConverterRetryLimitMs = 10000;

// The picture size in the converter's identification ("Image size: W x H");
// invalid when it states none.
QSize ConverterImageSize(const QByteArray &identification);
// Whether a converted picture is about half the RAW picture's size each way
// (the converter halved it), whichever way up it was turned.
bool IsHalfSizeConversion(QSize converted, QSize raw);
// Drops the property lines (from 5 on) whose values the converter writes
// empty when the RAW file holds none: no text, zero numbers (a time, an
// exposure, an aperture), the epoch as a date. Blank lines stay.
void DropEmptyConverterValues(QStringList &lines);
