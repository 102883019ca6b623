// Picture filters on 24-bit pixel data, as the picture view applies them:
// four sharpening filters the user picks by name, the softening pass behind
// printed text, random noise for the splash, and the filling of two equal
// white bands beside a picture narrower than its box.
//
// The formulas work on the bytes of a 24-bit bitmap as it is stored: blue,
// green, red per pixel, rows of WB bytes (a multiple of 4, the padding
// zeroed), bottom row first. The in-place passes read values they have
// already rewritten, so the row order and the padding take part in the
// result, as they would in such a bitmap.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <vector>

struct PictureBits {
    std::vector<uint8_t> a;   // WB x H bytes
    int width = 0;            // pixels
    int WB = 0;               // bytes per stored row
    int H = 0;                // rows
};

// The picture as stored 24-bit bits, and back (a picture without alpha).
PictureBits PictureBitsOf(const QImage &picture);
QImage PictureOfBits(const PictureBits &bits);

// Two copies of the picture's bits: the one to write and the untouched one
// to read. False, with both empty, for a picture without pixels.
bool MapPictureBits(const QImage &picture, PictureBits &destination, PictureBits &source);

// The 2-D filters: rows 2 to H - 3 and bytes 3 to WB - 4 of each row are
// computed from the untouched copy, then clamped to 0..255.
//   Focus:       (6c - 4 neighbours) / 2, rounded half to even
//   Sharpen:     (12c - 8 neighbours) / 4, rounded half to even
//   SharpenMore: 5c - 4 neighbours
void FocusFilter(PictureBits &destination, const PictureBits &source);
void SharpenFilter(PictureBits &destination, const PictureBits &source);
void SharpenMoreFilter(PictureBits &destination, const PictureBits &source);
// The in-place passes over a[WB .. WB*H - 1 - WB].
void UnsharpFilter(PictureBits &bits);
void SoftenPicture(PictureBits &bits);
// Noise: one channel offset chosen at random; at every third byte from the
// second row on, that channel of a byte below 255 gets up to 32 more
// (saturating at 255).
void AddRandomNoise(PictureBits &bits, uint32_t seed);
// Fills two equally wide white bands of the middle row, over the full
// height, with mid grey (bands from the left edge) or the bottom-left pixel's
// colour. Only whole pixels inside the row are looked at.
void FindWhiteBand(PictureBits &bits);

// The same on a picture (converted to bits and back).
void FocusFilter(QImage &picture);
void SharpenFilter(QImage &picture);
void SharpenMoreFilter(QImage &picture);
void UnsharpFilter(QImage &picture);
void SoftenPicture(QImage &picture);
void AddRandomNoise(QImage &picture);   // seeded from the time of day
void FindWhiteBand(QImage &picture);

// The filter applied last (its name as given).
extern QString LastFilterName;

// Applies the filter named by the texts of the current language: 428
// "Focus", 1328 "Unsharp", 1329 "Sharpen", 1330 "SharpenMore"; an empty name
// means LastFilterName (and is set to it); any other name applies nothing.
// The name is remembered either way. Nothing at all on a low-colour display.
void ApplyPictureFilter(QImage &picture, QString &name, bool lowColourDisplay);
