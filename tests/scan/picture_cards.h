// Pictures made by real tools (cjpeg, jpegtran, exiftool, ImageMagick,
// netpbm), TIFF-based RAW and multi-picture JPEG files built around them, and
// cards whose every byte was random before the files were copied in, so that
// what follows a picture is never zero.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>

namespace picture_cards {

struct Picture {
    QString name;       // DOS name, "BASE.JPG"
    QByteArray data;
};

// Baseline, progressive and restart-marker JPEGs (cjpeg, jpegtran), a JPEG
// with an EXIF thumbnail (exiftool), PNGs (palette, 16-bit, interlaced),
// GIFs (87a, 89a, animated), BMPs, 16- and 256-colour PCX, TIFFs (both
// byte orders, strips, tiles, two pages, JPEG strips), a multi-picture JPEG
// and TIFF-based RAW files in both byte orders, one ending in its IFD.
// Empty when a tool is missing.
QList<Picture> makePictures(const QString &dir);

// The real ImageMagick converter.
QString imageMagick();

// A TIFF-based RAW file: IFD0 with an RGB thumbnail strip, SubIFDs with a
// JPEG preview (JPEGInterchangeFormat) and 16-bit raw strips, an EXIF IFD
// with a maker note, values stored outside their entries. ifdLast: the
// data first and the IFDs behind it, IFD0 last (the file ends in its zero
// next-IFD offset).
QByteArray makeRaw(const QByteArray &preview, bool bigEndian, bool ifdLast, quint32 seed);

// A JPEG followed by a second picture that the first one's APP2 "MPF"
// index lists (as cameras store a large preview).
QByteArray makeMultiPicture(const QByteArray &first, const QByteArray &second);

// A video by ffmpeg of its test picture (and a tone), `seconds` long at
// 64 x 48, or at 320 x 240 with noise over it (frames that do not shrink);
// `codecs` ends the arguments before the output. Empty when ffmpeg fails.
QByteArray testVideo(const QString &dir, const QString &name, const QStringList &codecs, bool sound = false,
                     int seconds = 1, bool noisy = false);

// Bytes that hold no zero.
QByteArray nonZeroBytes(qsizetype n, quint32 seed);

// A FAT16 card of sizeKiB whose bytes were random before it was formatted,
// the files copied in by mcopy in order, then `change` run on the image
// (false: failed), then formatted again in place. Native path; empty on
// failure.
QString makeRandomCard(const QString &dir, const QString &name, const QList<QPair<QString, QByteArray>> &files,
                       int sectorsPerCluster, int sizeKiB = 16384, quint32 seed = 5,
                       const std::function<bool(const QString &image)> &change = {});

} // namespace picture_cards
