// A picture's metadata properties as text lines, read through exiv2 in the
// kind of names the viewer's line rules work on ("EquipMake", "ExifDTOrig",
// "ExifFNumber", ...), and the picture date they give.
//
// exiv2 reads untrusted files inside a catch-all: any failure means "no
// properties".
#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <vector>

// The picture's date as the last DrawThumbnail or property listing read it,
// the date's first two ":" replaced by "/" ("2009/03/12 13:45:10"); empty
// when none.
extern QString ExifDateText;

// True when the text is a date of the form "yyyy/MM/dd HH:mm:ss".
bool IsValidExifDate(const QString &text);

// One property: its name, the TIFF type (1 byte, 2 ASCII, 3 16-bit, 4 32-bit,
// 5 rational, 7 undefined, 9 signed 32-bit, 10 signed rational, others as
// read) and its value bytes in little-endian order.
struct PropertyItem {
    uint16_t tag = 0;
    QString name;
    int type = 0;
    int64_t count = 0;      // values (bytes for types 1, 2, 7)
    QByteArray bytes;
    bool primary = false;   // of the main picture (first IFD) or its Exif IFD

    QString text() const;                 // type 2: up to the first NUL
    uint32_t value(int64_t i) const;      // types 3, 4, 9: value i (0-based)
    std::pair<int64_t, int64_t> rational(int64_t i) const;   // types 5, 10
};

// The picture properties of a file: what the listing asks of an image-file
// component (load, width, height, count, items).
class ImageProperties {
public:
    // Reads the file's properties (internal or native path). False when the
    // file cannot be read or holds nothing readable; width and height come
    // from the picture's header and are set when it has one.
    bool load(const QString &path);
    int width() const { return size_.width() > 0 ? size_.width() : 0; }
    int height() const { return size_.height() > 0 ? size_.height() : 0; }
    // The size of the main picture as the metadata states it (a RAW file's
    // sensor picture rather than the preview its first IFD holds); invalid
    // when it states none.
    QSize primarySize() const { return primarySize_; }
    int count() const { return int(items_.size()); }
    const PropertyItem &item(int index) const { return items_[size_t(index)]; }
    // The first property of the main picture with the tag id; nullptr when none.
    const PropertyItem *find(uint16_t tag) const;
    // The JPEG thumbnail stored with the properties (a camera's small
    // picture); empty when there is none.
    const QByteArray &thumbnail() const { return thumbnail_; }

private:
    QSize size_;
    QSize primarySize_;
    std::vector<PropertyItem> items_;
    QByteArray thumbnail_;
};

// One property's value: type 1 the bytes, type 2 the text (up to the first
// NUL, at most count - 1 characters), type 3 the first 16-bit value, types
// 4, 5, 9, 10 a list of 32-bit integers (a rational as numerator and
// denominator); anything else, or a missing property: an empty value.
QVariant GetPropertyValue(const ImageProperties &image, uint16_t tagId);

// Appends one line a property to propertyLines: name, a blank, the value
// text; lines holding "Thumb" are left out. The first "ExifDTOrig" line sets
// ExifDateText when that does not hold a valid date yet.
void ListExifProperties(const ImageProperties &image, QStringList &propertyLines);

// Lines 2 and 3 := "ImageWidth " / "ImageHeight " and the size, lines 5 on :=
// the properties of the file. Lines already there from 5 on are replaced.
// Nothing changes when the file cannot be read.
void FillExifList(const QString &file, QStringList &lines);
// The same with properties that were read already.
void FillExifList(const ImageProperties &image, QStringList &lines);

// lines := 0..4 empty, ExifDateText cleared, then FillExifList.
void ShowExifList(const QString &file, QStringList &lines);
