// Picture operations of the viewer: the size of a picture file, drawing a
// picture file the right way up (EXIF orientation) and fitted into a box,
// writing a found file's grid thumbnail on the way, turning a picture by an
// orientation and saving a picture as JPEG.
//
// Pictures are read by content (a TIFF named ".rpc" or a PPM named ".thc"
// loads), decoded at the size they are shown where the format allows (big
// camera pictures stay cheap), and only within a budget checked against the
// header before anything is allocated (a crafted header cannot make the
// program allocate without bound). Paths may be internal or native.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <memory>

// The allocation limit of one decoded picture, in MB.
constexpr int kPictureAllocationLimitMB = 1024;

// How much one decode may take. The preview and the grid decode at most
// 100 megapixels and 400 MB of one picture; the full picture window and the
// saves up to the allocation limit.
enum class DecodeBudget { Preview, Full };
constexpr qint64 kPreviewDecodePixels = 100'000'000;
constexpr qint64 kPreviewDecodeMB = 400;

// What a decode of a picture would take, from its header alone.
struct DecodePlan {
    QSize header;       // the picture's own size; invalid when the header does not say
    QSize scaledTo;     // valid when the reader scales while it decodes (JPEG)
    qint64 pixels = 0;  // decoded pixels
    qint64 bytes = 0;   // memory of the decoded picture, with a true-colour copy
    bool withinBudget = true;
};
// The plan of a picture file (native path) fitted into `fitInto` (invalid:
// at its own size). GIF counts its logical screen, which the reader fills.
DecodePlan PlanPictureDecode(const QString &nativePath, QSize fitInto, DecodeBudget budget);

// Reads a picture file by its content. A valid `fitInto` decodes at the
// smallest size that still covers it (keeping the aspect), where the format
// can; `fullSize` receives the picture's own size. A picture over the
// budget is not decoded (`overBudget` tells; `fullSize` still receives its
// size). A null image on failure.
QImage LoadPicture(const QString &path, QSize fitInto = QSize(), QSize *fullSize = nullptr,
                   DecodeBudget budget = DecodeBudget::Full, bool *overBudget = nullptr);

// Width and height of a picture file in pixels; nothing is set when the file
// does not load.
void GetImageSize(const QString &file, int &width, int &height);

// The EXIF orientation codes (1-8, and 101-108 set by the user) as the turn
// they ask for. The table follows the EXIF standard for all eight values.
enum class RotateFlip { None, Rotate90, Rotate180, Rotate270, FlipX, Rotate90FlipX, Rotate180FlipX, Rotate270FlipX };
RotateFlip RotateFlipOfOrientation(int orientation);
QImage ApplyRotateFlip(const QImage &picture, RotateFlip turn);
// The picture turned by an orientation 2 to 8; any other value leaves it as
// it is.
QImage RotatePictureByOrientation(const QImage &picture, int orientation);

// Saves a picture as JPEG of the quality (0-100). The name's extension is
// forced: a last extension other than ".jpg" (any case) becomes ".jpg", a
// name without one gets ".jpg"; only the file name counts, never a dot in a
// folder. The path written; empty on failure.
QString SavePictureAsJpeg(const QImage &picture, const QString &fileName, int quality);
bool SaveImageJpegQuality(const QImage &picture, const QString &fileName, int quality);
// Writes a picture (an internal path) in the format ("JPG", "BMP" ...), under
// its temporary name beside the file until it is whole; an existing file of
// the name is then replaced (the caller asked first). False when nothing
// was written.
bool SaveImageFile(const QImage &picture, const QString &fileName, const char *format, int quality = -1);

// The picture fitted into a cell of the given size as DrawThumbnail fits it
// (at most 1.2 times, centred, one pixel in and six smaller), on `back`.
QImage LetterboxedCell(const QImage &picture, int cellWidth, int cellHeight, const QColor &back = Qt::white);
// Where DrawThumbnail draws a picture of that size into a box (twips); an
// empty rectangle when it would be 6 pixels or less.
QRect FitRect(QSize picture, double boxWidth, double boxHeight);

// The grid cell and the preview are told apart by the caller.
enum class DrawTarget { Preview, GridCell };

class ImageProperties;

// The decoding half of DrawThumbnail: what it needs of the file, and nothing
// of the program, so that it may run on a worker thread.
struct PictureDecodeRequest {
    QString file;               // native path (a worker never resolves a drive letter)
    qint64 fileSize = -1;       // with the time, the file's identity: a changed
    qint64 modifiedMs = 0;      // file is decoded anew
    double boxWidth = 0;        // twips
    double boxHeight = 0;
    DrawTarget target = DrawTarget::Preview;
    int thumbWidth = 0;
    bool thumbWanted = false;   // a grid thumbnail is to be written
    int orientation = 0;        // 0: the file's own
    DecodeBudget budget = DecodeBudget::Preview;
    bool operator==(const PictureDecodeRequest &) const = default;
};

// A decoded picture file: its properties and its picture, unturned, at
// least as large as the box and the thumbnail need it.
struct DecodedPicture {
    std::shared_ptr<const ImageProperties> props;
    QImage image;
    QSize full;                 // the picture's own size, unturned
    int orientation = 0;        // the request's, or the file's when that was 0
    bool overBudget = false;    // not decoded: over the budget
};

// Reads the properties and decodes the picture; touches nothing shared.
DecodedPicture DecodePicture(const PictureDecodeRequest &request);

// What DrawThumbnail is asked to do and gives back.
struct DrawThumbnailCall {
    QImage *canvas = nullptr;      // the box's image; nullptr: nothing is drawn
    double boxWidth = 0;           // twips
    double boxHeight = 0;          // twips
    DrawTarget target = DrawTarget::Preview;
    QString file;                  // the picture file
    bool exifListing = false;      // in: list the properties into lines; out: false when nothing drew
    QStringList *lines = nullptr;  // ExifLines: made 0..4 empty, then filled
    QString thumbFolder;           // the grid thumbnail to write (empty name: none)
    QString thumbName;
    int thumbWidth = 0;            // RenderedThumbWidth; the thumbnail is that by 2/3 of it
    int *orientation = nullptr;    // PictureOrientation: 0 is filled from the file
    DecodeBudget budget = DecodeBudget::Preview;
    const DecodedPicture *decoded = nullptr;   // decoded already (DecodePicture of DecodeRequestOf)
    double sizeEstimate = 0;       // out: w x h x 6 / 1000 kB, 0 for RAW and TIFF types
    QSize pictureSize;             // out: width and height after the turn (also of a picture over the budget)
    bool overBudget = false;       // out: not drawn, the picture is over the budget
};

// Draws the picture file into the canvas the right way up, fitted into the
// box (at most 1.2 times its size, centred, one pixel in and six smaller);
// a grid cell draws only a turned picture and writes the thumbnail from the
// cell. Writes the grid thumbnail once (quality 98; an existing one stays).
// True when the picture loaded and has a size.
bool DrawThumbnail(DrawThumbnailCall &call);
// The decoding a draw call asks for (its file resolved and looked at now).
PictureDecodeRequest DecodeRequestOf(const DrawThumbnailCall &call);

// A JPEG file ends with its end-of-picture marker (trailing zero bytes
// allowed): not cut short.
bool JpegEndsWhole(const QString &file);
// The picture's own stored thumbnail when it covers `need` (the picture's
// unturned orientation) and the file is whole: cut to the main picture's
// proportions (a camera's bars removed); fullSize is then the main picture's
// size. A null image otherwise.
QImage EmbeddedThumbnailFor(const ImageProperties &props, const QString &file, QSize need, QSize *fullSize);

// The extension of a file name: the text after its first dot (not of the
// folders); empty without a dot.
QString FileNameExtension(const QString &path);
// The file-name part of a path ("\" or "/" separated).
QString FileNamePart(const QString &path);
