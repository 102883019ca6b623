// The arithmetic of the thumbnail grid: how many thumbnails a width allows,
// the grid's spacing, the labels under the thumbnails, the progress text's
// numbers, and the folder paths the Browse command works with.
#pragma once

#include <QFontMetrics>
#include <QSize>
#include <QString>

// The most list entries the grid shows.
constexpr int kMaxGridItems = 32700;
// The widest thumbnail the width box accepts.
constexpr int kMaxThumbWidth = 300;
constexpr int kMinThumbWidth = 32;

// How many thumbnails a width allows: 250 x (200 / width)^2, rounded half to
// even (1929 at 72, 9766 at 32); a width of 0 or less counts as 32.
int ThumbnailLimit(int width);
// The width the width box takes for a number of files: the width, less one
// while the files are more than it allows, at least 32.
int FittingThumbWidth(int fileCount, int width);
// The grid's spacing: the width x 1.2 rounded half to even, and the
// thumbnail height + 26 (72 and 48 give 86 x 74).
QSize ThumbIconSpacing(int width, int thumbHeight);
// The label under a thumbnail: the name, less what found-file names carry
// (R#0012.jpg gives 0012.jpg, and 12.jpg where that does not fit); a name
// wider than the room (pixels, in the metrics' font) shows an ellipsis and
// the end that fits. No letter of another name is ever dropped unmarked.
QString ThumbLabel(const QString &name, const QFontMetrics &metrics, int room);
// The room for a label under thumbnails of a width: the grid's cell less
// the margins the view draws its text in.
int ThumbLabelRoom(int width);
// The found-file counter a thumbnail's name begins with (0012jpg.jpg gives
// 12); 0 when it begins with no digit.
int ThumbnailCounter(const QString &thumbnailName);
// A number as the pattern "########" shows it: rounded half away from zero,
// no grouping, nothing for 0.
QString FormatHashes(double value);

// A folder path with exactly one trailing "\" and no doubled "\".
QString NormalizeFolderPath(QString path);
// The root of the cache tree a path lies in: the path cut after its folder
// "RIVozud" (a whole component, case-sensitive) and the "\" that follows;
// empty when it holds none.
QString CacheTreeRootOf(const QString &path);
