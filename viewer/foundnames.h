// Names the viewer derives from a found file's name, the extension lists
// that choose how a file is previewed, and the list of names that gave no
// preview.
#pragma once

#include <QString>

// The found file's extension: the text after the first dot of its name.
QString FoundFileExtension(const QString &name);

// The preview list ("CR2,CRW,...,JPG,...,CDR,"): the extension occurs in it
// (case-insensitive).
bool InPreviewList(const QString &extension);
// The RAW list (".CRW.CR2.DNG..."): "." + extension occurs in it.
bool InRawList(const QString &extension);
// The picture list (".jpeg.jpg...thc.rpc"): the text occurs in it; pass "." +
// extension or the last four characters of a name.
bool InPictureList(const QString &text);

// (The grid thumbnail's name is recovery/cachenames.h's ThumbnailNameOf.)
// The type thumbnail: the extension, then ".jpg".
QString TypeThumbnailNameOf(const QString &extension);

// The names that gave no preview, as one text ("name/name/"; "/" never occurs
// in a file name), so that membership is exact: "1.jpg" is not taken for
// "IMG_1.jpg".
bool InNoPreviewList(const QString &list, const QString &name);
void AddToNoPreviewList(QString &list, const QString &name);
void RemoveFromNoPreviewList(QString &list, const QString &name);
