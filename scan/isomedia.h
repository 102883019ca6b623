// ISO base media files (QuickTime MOV, MP4, 3GP and the like): where a movie
// starts and where it ends, by its top-level boxes.
//
// Plain C++ without Qt or windows; the bytes are untrusted.
#pragma once

#include "scan/formatwalk.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Whether bytes begin a movie: a box header (32-bit big-endian size of at
// least 8, or 1 with a 64-bit size after the type) of type ftyp whose brands
// name no still picture or RAW format (heic, heix, mif1, msf1, avif, crx),
// or of type moov, mdat, wide, free, skip or pnot followed by a consistent
// box header. p[0, n): the bytes at hand from the start; mediumLeft: the
// bytes from there to the medium's end (negative: not known), which every
// size must fit.
bool IsIsoMovieStart(const unsigned char *p, size_t n, int64_t mediumLeft);

// Whether bytes begin with the header of a box that may open a movie (the
// types above, without the tests of what follows): the box walk applies.
bool IsIsoBoxStart(const unsigned char *p, size_t n);

// The walk of a movie's top-level boxes by their sizes, each within the room
// the walk is given. Once moov and mdat were seen the movie may end after
// any box, and it ends at the first position that holds no plausible box
// header; before that, such a position breaks it. A box of size 0 runs to
// the end of the data: the walk gives up there. Inside a box, and at the
// next box while moov or mdat is still to come, the bytes are the movie's.
std::unique_ptr<FormatWalk> MakeIsoBoxWalk();
