#include "viewer/exifprops.h"

#include "platform/paths.h"
#include "viewer/pictureops.h"

#include <QDateTime>
#include <QFile>
#include <QImageReader>
#include <QStringDecoder>
#include <exiv2/exiv2.hpp>
#include <mutex>
#include <unordered_map>

QString ExifDateText;

namespace {

// The property names by tag: the main picture's IFD, the Exif IFD and the
// GPS IFD. Tags without a name here are not listed.
struct TagName {
    uint16_t tag;
    const char *name;
};

const TagName kImageTags[] = {
    {0x00FE, "NewSubfileType"},   {0x00FF, "SubfileType"},      {0x0100, "ImageWidth"},
    {0x0101, "ImageHeight"},      {0x0102, "BitsPerSample"},    {0x0103, "Compression"},
    {0x0106, "PhotometricInterp"}, {0x0107, "ThreshHolding"},   {0x0108, "CellWidth"},
    {0x0109, "CellHeight"},       {0x010A, "FillOrder"},        {0x010D, "DocumentName"},
    {0x010E, "ImageDescription"}, {0x010F, "EquipMake"},        {0x0110, "EquipModel"},
    {0x0111, "StripOffsets"},     {0x0112, "Orientation"},      {0x0115, "SamplesPerPixel"},
    {0x0116, "RowsPerStrip"},     {0x0117, "StripBytesCount"},  {0x0118, "MinSampleValue"},
    {0x0119, "MaxSampleValue"},   {0x011A, "XResolution"},      {0x011B, "YResolution"},
    {0x011C, "PlanarConfig"},     {0x011D, "PageName"},         {0x011E, "XPosition"},
    {0x011F, "YPosition"},        {0x0120, "FreeOffset"},       {0x0121, "FreeByteCounts"},
    {0x0122, "GrayResponseUnit"}, {0x0123, "GrayResponseCurve"}, {0x0124, "T4Option"},
    {0x0125, "T6Option"},         {0x0128, "ResolutionUnit"},   {0x0129, "PageNumber"},
    {0x012D, "TransferFunction"}, {0x0131, "SoftwareUsed"},     {0x0132, "DateTime"},
    {0x013B, "Artist"},           {0x013C, "HostComputer"},     {0x013D, "Predictor"},
    {0x013E, "WhitePoint"},       {0x013F, "PrimaryChromaticities"}, {0x0140, "ColorMap"},
    {0x0141, "HalftoneHints"},    {0x0142, "TileWidth"},        {0x0143, "TileLength"},
    {0x0144, "TileOffset"},       {0x0145, "TileByteCounts"},   {0x014C, "InkSet"},
    {0x014D, "InkNames"},         {0x014E, "NumberOfInks"},     {0x0150, "DotRange"},
    {0x0151, "TargetPrinter"},    {0x0152, "ExtraSamples"},     {0x0153, "SampleFormat"},
    {0x0154, "SMinSampleValue"},  {0x0155, "SMaxSampleValue"},  {0x0156, "TransferRange"},
    {0x0200, "JPEGProc"},         {0x0201, "JPEGInterFormat"},  {0x0202, "JPEGInterLength"},
    {0x0203, "JPEGRestartInterval"}, {0x0205, "JPEGLosslessPredictors"}, {0x0206, "JPEGPointTransforms"},
    {0x0207, "JPEGQTables"},      {0x0208, "JPEGDCTables"},     {0x0209, "JPEGACTables"},
    {0x0211, "YCbCrCoefficients"}, {0x0212, "YCbCrSubsampling"}, {0x0213, "YCbCrPositioning"},
    {0x0214, "REFBlackWhite"},    {0x0301, "Gamma"},            {0x0302, "ICCProfileDescriptor"},
    {0x0303, "SRGBRenderingIntent"}, {0x0320, "ImageTitle"},    {0x5090, "LuminanceTable"},
    {0x5091, "ChrominanceTable"}, {0x8298, "Copyright"},        {0x8769, "ExifIFD"},
    {0x8773, "ICCProfile"},       {0x8825, "GpsIFD"},
};

const TagName kExifTags[] = {
    {0x829A, "ExifExposureTime"}, {0x829D, "ExifFNumber"},      {0x8822, "ExifExposureProg"},
    {0x8824, "ExifSpectralSense"}, {0x8827, "ExifISOSpeed"},    {0x8828, "ExifOECF"},
    {0x9000, "ExifVer"},          {0x9003, "ExifDTOrig"},       {0x9004, "ExifDTDigitized"},
    {0x9101, "ExifCompConfig"},   {0x9102, "ExifCompBPP"},      {0x9201, "ExifShutterSpeed"},
    {0x9202, "ExifAperture"},     {0x9203, "ExifBrightness"},   {0x9204, "ExifExposureBias"},
    {0x9205, "ExifMaxAperture"},  {0x9206, "ExifSubjectDist"},  {0x9207, "ExifMeteringMode"},
    {0x9208, "ExifLightSource"},  {0x9209, "ExifFlash"},        {0x920A, "ExifFocalLength"},
    {0x927C, "ExifMakerNote"},    {0x9286, "ExifUserComment"},  {0x9290, "ExifDTSubsec"},
    {0x9291, "ExifDTOrigSS"},     {0x9292, "ExifDTDigSS"},      {0xA000, "ExifFPXVer"},
    {0xA001, "ExifColorSpace"},   {0xA002, "ExifPixXDim"},      {0xA003, "ExifPixYDim"},
    {0xA004, "ExifRelatedWav"},   {0xA005, "ExifInterop"},      {0xA20B, "ExifFlashEnergy"},
    {0xA20C, "ExifSpatialFR"},    {0xA20E, "ExifFocalXRes"},    {0xA20F, "ExifFocalYRes"},
    {0xA210, "ExifFocalResUnit"}, {0xA214, "ExifSubjectLoc"},   {0xA215, "ExifExposureIndex"},
    {0xA217, "ExifSensingMethod"}, {0xA300, "ExifFileSource"},  {0xA301, "ExifSceneType"},
    {0xA302, "ExifCfaPattern"},
};

const TagName kGpsTags[] = {
    {0x0000, "GpsVer"},           {0x0001, "GpsLatitudeRef"},   {0x0002, "GpsLatitude"},
    {0x0003, "GpsLongitudeRef"},  {0x0004, "GpsLongitude"},     {0x0005, "GpsAltitudeRef"},
    {0x0006, "GpsAltitude"},      {0x0007, "GpsGpsTime"},       {0x0008, "GpsGpsSatellites"},
    {0x0009, "GpsGpsStatus"},     {0x000A, "GpsGpsMeasureMode"}, {0x000B, "GpsGpsDop"},
    {0x000C, "GpsSpeedRef"},      {0x000D, "GpsSpeed"},         {0x000E, "GpsTrackRef"},
    {0x000F, "GpsTrack"},         {0x0010, "GpsImgDirRef"},     {0x0011, "GpsImgDir"},
    {0x0012, "GpsMapDatum"},      {0x0013, "GpsDestLatRef"},    {0x0014, "GpsDestLat"},
    {0x0015, "GpsDestLongRef"},   {0x0016, "GpsDestLong"},      {0x0017, "GpsDestBearRef"},
    {0x0018, "GpsDestBear"},      {0x0019, "GpsDestDistRef"},   {0x001A, "GpsDestDist"},
};

template <size_t N>
const char *lookup(const TagName (&table)[N], uint16_t tag)
{
    for (const TagName &t : table)
        if (t.tag == tag)
            return t.name;
    return nullptr;
}

// Pictures' properties are read on worker threads too: exiv2's XMP parser
// is started once, with a lock, before any file is read.
void lockXmp(void *data, bool lock)
{
    auto *m = static_cast<std::mutex *>(data);
    if (lock)
        m->lock();
    else
        m->unlock();
}

// exiv2's warnings go nowhere: a damaged file is an everyday case here.
void quietExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        static std::mutex xmp;
        Exiv2::XmpParser::initialize(lockXmp, &xmp);
    });
}

QString textOfBytes(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString s = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : s;
}

// At most this many properties are kept from one file.
constexpr int kMaxProperties = 4000;
// A stored thumbnail larger than this is no camera's small picture.
constexpr long kMaxThumbnailBytes = 512 * 1024;

} // namespace

bool IsValidExifDate(const QString &text)
{
    return QDateTime::fromString(text.trimmed(), QStringLiteral("yyyy/MM/dd HH:mm:ss")).isValid();
}

QString PropertyItem::text() const
{
    QByteArray b = bytes;
    if (const qsizetype nul = b.indexOf('\0'); nul >= 0)
        b.truncate(nul);
    return textOfBytes(b);
}

uint32_t PropertyItem::value(int64_t i) const
{
    const int width = type == 3 ? 2 : 4;
    const int64_t at = i * width;
    if (i < 0 || at + width > bytes.size())
        return 0;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData()) + at;
    return width == 2 ? uint32_t(p[0] | (p[1] << 8))
                      : uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

std::pair<int64_t, int64_t> PropertyItem::rational(int64_t i) const
{
    const uint32_t n = value(2 * i), d = value(2 * i + 1);
    if (type == 10)
        return {int32_t(n), int32_t(d)};
    return {n, d};
}

bool ImageProperties::load(const QString &path)
{
    items_.clear();
    thumbnail_.clear();
    size_ = QSize();
    primarySize_ = QSize();
    const QString native = plat::toNative(path);
    if (native.isEmpty())
        return false;
    {
        QImageReader reader(native);
        reader.setDecideFormatFromContent(true);
        size_ = reader.size();
    }
    quietExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(native).toStdString());
        if (!image.get())
            return false;
        image->readMetadata();
        if (image->pixelWidth() > 0 && image->pixelHeight() > 0 && image->pixelWidth() <= 1000000
            && image->pixelHeight() <= 1000000)
            primarySize_ = QSize(int(image->pixelWidth()), int(image->pixelHeight()));
        const Exiv2::ExifData &exif = image->exifData();
        bool makerNoteListed = false;
        for (const Exiv2::Exifdatum &d : exif) {
            if (int(items_.size()) >= kMaxProperties)
                break;
            const std::string group = d.groupName();
            const uint16_t tag = d.tag();
            const char *name = nullptr;
            bool maker = false;
            if (group == "Image")
                name = lookup(kImageTags, tag);
            else if (group == "Photo")
                name = lookup(kExifTags, tag);
            else if (group == "GPSInfo")
                name = lookup(kGpsTags, tag);
            else if (group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group))
                maker = true;
            if (maker || (name && tag == 0x927C)) {
                // A decoded maker note stands as one undefined property.
                if (!makerNoteListed) {
                    PropertyItem it;
                    it.tag = 0x927C;
                    it.name = QStringLiteral("ExifMakerNote");
                    it.type = 7;
                    it.primary = true;
                    items_.push_back(it);
                    makerNoteListed = true;
                }
                continue;
            }
            if (!name)
                continue;
            PropertyItem it;
            it.tag = tag;
            it.name = QString::fromLatin1(name);
            it.type = int(d.typeId());
            it.count = d.count();
            it.primary = true;
            const long size = d.size();
            if (size > 0 && size <= 16 * 1024 * 1024) {
                it.bytes.resize(size);
                const long copied = d.copy(reinterpret_cast<Exiv2::byte *>(it.bytes.data()), Exiv2::littleEndian);
                if (copied >= 0 && copied < size)
                    it.bytes.truncate(copied);
            }
            items_.push_back(std::move(it));
        }
        const Exiv2::ExifThumbC thumb(exif);
        if (std::string(thumb.mimeType()) == "image/jpeg") {
            const Exiv2::DataBuf data = thumb.copy();
            if (data.pData_ && data.size_ > 0 && data.size_ <= kMaxThumbnailBytes)
                thumbnail_ = QByteArray(reinterpret_cast<const char *>(data.pData_), int(data.size_));
        }
    } catch (...) {
        items_.clear();
        thumbnail_.clear();
        return size_.isValid() && !size_.isEmpty();
    }
    return !items_.empty() || (size_.isValid() && !size_.isEmpty());
}

const PropertyItem *ImageProperties::find(uint16_t tag) const
{
    for (const PropertyItem &it : items_)
        if (it.primary && it.tag == tag && !it.name.startsWith(QLatin1String("Gps")))
            return &it;
    return nullptr;
}

QVariant GetPropertyValue(const ImageProperties &image, uint16_t tagId)
{
    const PropertyItem *it = image.find(tagId);
    if (!it || it->bytes.isEmpty())
        return QVariant();
    switch (it->type) {
    case 1:
        return it->bytes;
    case 2: {
        QString s = it->text();
        if (it->count > 0 && s.size() > it->count - 1)
            s.truncate(qsizetype(it->count - 1));
        return s;
    }
    case 3:
        return int(it->value(0));
    case 4:
    case 5:
    case 9:
    case 10: {
        QList<int> values;
        for (int64_t i = 0; i < it->bytes.size() / 4; ++i)
            values.append(int(it->value(i)));
        return QVariant::fromValue(values);
    }
    default:
        return QVariant();
    }
}

void ListExifProperties(const ImageProperties &image, QStringList &propertyLines)
{
    for (int i = 0; i < image.count(); ++i) {
        const PropertyItem &it = image.item(i);
        QString line = it.name + ' ';
        if (line.trimmed().isEmpty())
            continue;
        switch (it.type) {
        case 2:
            line += it.text();
            break;
        case 3:
        case 4:
        case 9: {
            const int64_t n = std::min<int64_t>(it.count, it.bytes.size() / (it.type == 3 ? 2 : 4));
            QStringList values;
            for (int64_t k = 0; k < n; ++k)
                values.append(it.type == 9 ? QString::number(int32_t(it.value(k))) : QString::number(it.value(k)));
            line += values.join(',');
            break;
        }
        case 5:
        case 10: {
            const int64_t n = std::min<int64_t>(it.count, it.bytes.size() / 8);
            QStringList values;
            for (int64_t k = 0; k < n; ++k) {
                const auto r = it.rational(k);
                values.append(QString::number(r.first) + '/' + QString::number(r.second));
            }
            line += values.join(',');
            break;
        }
        case 7: {
            const QString lower = line.toLower();
            if (lower.contains(QLatin1String("makernote")) || lower.contains(QLatin1String("usercomment")))
                break;
            // Every byte but the last, each as a blank and two hex digits.
            for (qsizetype k = 0; k + 1 < it.bytes.size(); ++k)
                line += ' ' + QStringLiteral("%1").arg(uchar(it.bytes[k]), 2, 16, QLatin1Char('0')).toUpper();
            break;
        }
        default:
            break;
        }
        if (line.trimmed().isEmpty() || line.contains(QLatin1String("Thumb")))
            continue;
        line.remove(QChar(0));
        propertyLines.append(line.trimmed());
        if (!IsValidExifDate(ExifDateText) && line.contains(QLatin1String("ExifDTOrig"))) {
            QString d = line.mid(line.indexOf(' '));
            for (int k = 0; k < 2; ++k)
                if (const qsizetype c = d.indexOf(':'); c >= 0)
                    d.replace(c, 1, QStringLiteral("/"));
            ExifDateText = d;
        }
    }
}

void FillExifList(const ImageProperties &image, QStringList &lines)
{
    while (lines.size() < 5)
        lines.append(QString());
    QStringList propertyLines(5);
    lines[2] = QStringLiteral("ImageWidth ") + QString::number(image.width());
    lines[3] = QStringLiteral("ImageHeight ") + QString::number(image.height());
    ListExifProperties(image, propertyLines);
    lines = lines.mid(0, 5);
    for (qsizetype i = 5; i < propertyLines.size(); ++i)
        lines.append(propertyLines[i]);
}

void FillExifList(const QString &file, QStringList &lines)
{
    ImageProperties image;
    if (!image.load(file))
        return;
    FillExifList(image, lines);
}

void ShowExifList(const QString &file, QStringList &lines)
{
    lines = QStringList(5);
    ExifDateText.clear();
    FillExifList(file, lines);
}
