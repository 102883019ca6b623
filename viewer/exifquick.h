// The quick EXIF reader: camera make and model, date taken, colour space,
// picture size and orientation found by scanning raw bytes for the TIFF tag
// patterns, without a picture library. The scan reads every found picture
// with it (buffer mode); the viewer can read a file.
//
// The bytes are untrusted: every offset, count and length is bounded by the
// window; an entry or a value that would lie past the window counts as not
// found.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

struct ExifQuickResult {
    QString make;
    QString model;
    QString dateTaken;      // "yyyy?MM?dd HH:mm:ss", ? being the date separator
    QString colorSpace;     // "sRGB", "Adobe RGB", "unspecified" or the number
    int32_t width = 0;
    int32_t height = 0;
    float orientation = 0;  // the EXIF orientation number; 0 when none was read
};

// The largest window read from a file or taken from a buffer.
constexpr size_t kExifQuickWindow = 65536;

// File mode: the first min(size - 8, 65536) bytes of the file (internal or
// native path); files under 520 bytes give false without a read.
// The result is true when width x height is not 0; the outputs hold what was
// read so far either way.
bool ReadExifQuick(const QString &path, ExifQuickResult &out, const QString &dateSeparator);

// Buffer mode ("BUF"): the bytes themselves, at most the first 65536 of them.
bool ReadExifQuick(const unsigned char *bytes, size_t size, ExifQuickResult &out,
                   const QString &dateSeparator);
