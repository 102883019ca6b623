// MPEG program streams (the system streams of MPEG-1, the program streams of
// MPEG-2 that DVD camcorders write): where one starts and where it ends, by
// its packs and packets.
//
// Plain C++ without Qt or windows; the bytes are untrusted.
#pragma once

#include "scan/formatwalk.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Whether bytes begin with a pack header: the pack start code 00 00 01 BA,
// then an MPEG-1 pack (first byte 0010xxxx) or an MPEG-2 pack (01xxxxxx),
// their marker bits set.
bool IsProgramStreamPack(const unsigned char *p, size_t n);

// The walk of a program stream from its first pack: pack headers, the system
// header and the PES packets by their lengths. It ends after the program end
// code (00 00 01 B9), or after the last pack or packet whose header is
// consistent: a pack of the stream's own MPEG version whose clock goes on,
// a packet whose first header byte fits that version. Inside a packet, and
// at a pack that goes on the stream, the bytes are the stream's.
std::unique_ptr<FormatWalk> MakeProgramStreamWalk();
