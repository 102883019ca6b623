// Pictures for the viewer's tests, made by real tools (ImageMagick, cjpeg,
// exiftool) or written byte by byte (TIFF blocks, hostile EXIF, a DNG that
// dcraw decodes).
#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QtGlobal>
#include <QStringList>
#include <cstdint>
#include <ostream>
#include <vector>

// Texts printed as text in test failures.
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }

namespace viewer_samples {

// A TIFF structure in either byte order: IFDs with entries, data blobs and
// offsets to them. Entries are written sorted by tag; values of up to four
// bytes stay in the value field.
class TiffBuilder {
public:
    explicit TiffBuilder(bool bigEndian) : be_(bigEndian) {}

    int addIfd();
    // An entry whose value bytes are given in file order (see the encoders).
    void add(int ifd, uint16_t tag, uint16_t type, uint32_t count, const QByteArray &value);
    // An entry whose value field is exactly the given four bytes (hostile offsets).
    void addRaw(int ifd, uint16_t tag, uint16_t type, uint32_t count, uint32_t valueField);
    // A LONG entry holding the offset of a child IFD or of a blob.
    void addIfdPointer(int ifd, uint16_t tag, int childIfd);
    int addBlob(const QByteArray &bytes);
    void addBlobOffset(int ifd, uint16_t tag, int blob);
    void setNext(int ifd, int nextIfd);

    QByteArray ascii(const QByteArray &text) const;   // with its NUL
    QByteArray shorts(std::initializer_list<uint32_t> v) const;
    QByteArray longs(std::initializer_list<uint32_t> v) const;
    QByteArray rationals(std::initializer_list<std::pair<int64_t, int64_t>> v) const;
    QByteArray u16(uint32_t v) const;
    QByteArray u32(uint32_t v) const;

    QByteArray build() const;
    bool bigEndian() const { return be_; }

private:
    struct Entry {
        uint16_t tag, type;
        uint32_t count;
        QByteArray value;
        int64_t raw = -1;        // exact value field
        int childIfd = -1;       // offset of this IFD
        int blob = -1;           // offset of this blob
    };
    struct Ifd {
        std::vector<Entry> entries;
        int next = -1;
    };
    bool be_;
    std::vector<Ifd> ifds_;
    std::vector<QByteArray> blobs_;
};

// "Exif\0\0" + the TIFF block as an APP1 segment right after the JPEG's SOI.
QByteArray jpegWithExif(const QByteArray &jpeg, const QByteArray &tiff);

// A picture with a marked corner: white, a red block in the top-left corner
// and a blue one in the top-right, so that every turn and mirror shows.
QImage asymmetricPicture(int width, int height);
// That picture as a JPEG made by ImageMagick (via PPM) and cjpeg.
QByteArray asymmetricJpeg(const QString &dir, int width, int height, int quality = 92);

// Runs exiftool with the arguments on the file (-overwrite_original added).
bool exiftool(const QString &file, const QStringList &args);

// The camera tags of the end-to-end tests.
QStringList cameraTags(const QString &byteOrder);

// A DNG that dcraw decodes: a 64 x 48 RGB thumbnail in the first IFD and a
// 128 x 96 16-bit CFA picture in a sub-IFD.
QByteArray syntheticDng();
// A linear DNG (demosaiced: three 16-bit samples a pixel, no CFA pattern):
// a 64 x 48 thumbnail in the first IFD and a 96 x 64 picture in a sub-IFD,
// without a time, an exposure or an aperture. dcraw never halves it.
QByteArray linearDng();

// A one-colour picture whose header states width x height pixels: a 1-bit
// PNG compressed by zlib and a TIFF of PackBits runs (both whole and valid),
// or a GIF whose logical screen has that size around a single 1 x 1 frame.
// `format` is "png", "tif" or "gif".
QByteArray pictureClaiming(const QByteArray &format, int width, int height);

// A shell script at path that sleeps (a hung converter) or writes text.
bool writeScript(const QString &path, const QByteArray &body);

// Colour of a pixel, with tolerance for JPEG.
bool near(QColor a, QColor b, int tolerance = 60);

// The asymmetric picture as a JPEG tagged by exiftool with the arguments.
QByteArray taggedJpeg(const QString &dir, int width, int height, const QStringList &tags);

// An environment variable set for a scope and put back (or unset) after it.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value) : name_(name), had_(qEnvironmentVariableIsSet(name))
    {
        old_ = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *name_;
    bool had_;
    QByteArray old_;
};

} // namespace viewer_samples

// A test that needs a tool skips without it.
#define REQUIRE(cond, what)                                                                                  \
    if (!(cond))                                                                                             \
    GTEST_SKIP() << what " missing"
