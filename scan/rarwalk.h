// Where a RAR archive ends: block by block by the sizes each header states,
// up to the end-of-archive block. RAR 1.5 to 4 (signature "Rar!" 1A 07 00):
// each block's header size and, where its flags say so, the size of the
// data it adds; RAR 5 ("Rar!" 1A 07 01 00): each block's header size and
// data size, both variable-length numbers. Every header's CRC is checked;
// a header that does not add up breaks the walk. Archives whose headers
// are enciphered cannot be followed.
//
// Plain C++ without Qt. The walk says what to gather next; its driver
// (the structure walker) gathers those bytes and passes over the data.
// The bytes are a found file's: every size is checked before it is used,
// and no header longer than the format allows is ever asked for.
#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 (the polynomial of ZIP and RAR), going on from `crc` (0 to start).
uint32_t Crc32(const unsigned char *p, size_t n, uint32_t crc = 0);

// What the walk needs next.
struct RarStep {
    enum class Kind {
        Gather,    // pass over `skip` bytes, then gather `want` bytes
        End,       // the archive ends at `at`
        Broken,    // a header does not add up
        Unknown,   // no RAR signature, or headers that cannot be read
    };
    Kind kind = Kind::Gather;
    int64_t skip = 0;
    size_t want = 0;
    int64_t at = 0;
    int64_t held = 0;   // the blocks are whole up to here
};

class RarBlocks {
public:
    // The first step: the signature at the file's start.
    static RarStep first();
    // The bytes the last Gather asked for, which began at `at`.
    RarStep next(const unsigned char *h, size_t n, int64_t at);

private:
    enum class Stage { Signature, Rar5Signature, Head4, Rest4, Head5, Rest5 };
    RarStep headerAt(int64_t blockStart, int64_t skip) const;
    RarStep broken() const;
    RarStep block4(const unsigned char *rest, size_t n);
    RarStep block5(const unsigned char *rest, size_t n);

    Stage stage_ = Stage::Signature;
    bool rar5_ = false;
    bool mainSeen_ = false;
    int64_t blockAt_ = 0;           // where the block being read begins
    unsigned char base_[7] = {};    // its first bytes
    size_t headLength_ = 0;         // RAR 5: the CRC, the size field and the header
    size_t sizeBytes_ = 0;          // RAR 5: the size field's length
};
