// Units inside an open found file whose first bytes match a row of the scan
// table and begin as that row's type begins, appended to that file: where
// its structure places them, or only where a length it states covers them.
// Each may be another file's start. This unit decides which of them stay
// the file's own, which start found files of their own and where the open
// file ends, and hands that to the scan as a plan; the notes still open
// are kept with a resume point, so that a stopped scan goes on with them.
//
// Plain C++ without Qt or windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct InnerStart {
    int64_t offset = 0;   // in the open file
    int64_t medium = 0;   // the unit's byte offset on the medium
    int row = -1;
    bool placed = false;  // the structure places it; else a length only covers it

    bool operator==(const InnerStart &) const = default;
};

// What the scan does when the open file ends with units inside it.
struct GiveBackPlan {
    // Each starts a found file of its own, read back from the open file from
    // its offset up to the next one's (or the file's end), unless the file
    // given back before it places it in its own structure.
    std::vector<InnerStart> starts;
    // The open file ends here, cut short; -1: it keeps its bytes whole.
    int64_t cutAt = -1;
};

class InnerStarts {
public:
    // A file holds at most this many notes; a unit beyond it is only the
    // file's data, as any other unit it takes.
    static constexpr size_t kMost = 16384;

    bool empty() const { return starts_.empty(); }
    bool full() const { return starts_.size() >= kMost; }
    void clear()
    {
        starts_.clear();
        settled_ = -1;
    }
    // In the order of their offsets.
    void add(const InnerStart &s) { starts_.push_back(s); }

    // The structure bore its lengths out before `confirmed`: the units it
    // placed there are its own.
    void settle(int64_t confirmed);

    // Whether a structure that broke off must give units back: one lies
    // where no length was borne out.
    bool owed(int64_t confirmed) const { return !starts_.empty() && starts_.back().offset >= confirmed; }

    // The plan once the open file ends (whole: its structure is complete and
    // not cut): a whole file keeps what its structure placed and gives back
    // the units its lengths only covered; otherwise every unit from the
    // first one where no length was borne out starts its own file, and the
    // file ends there. The notes are cleared.
    GiveBackPlan plan(bool whole, int64_t confirmed);

    // The notes as they stand, for the resume point.
    const std::vector<InnerStart> &held() const { return starts_; }
    // The open file went back to `length` bytes (a write failed): the notes
    // from there on are noted again when its units are read again.
    void dropFrom(int64_t length);
    // Takes the notes of a resume point for the reopened file (of
    // fileBytes bytes, its units ending at mediumEnd on the medium). False,
    // taking nothing, when they cannot be its own: out of order, outside
    // the file or the medium.
    bool restore(const std::vector<InnerStart> &notes, int64_t fileBytes, int64_t mediumEnd);

private:
    std::vector<InnerStart> starts_;
    int64_t settled_ = -1;   // what settle() last dropped below
};

// The notes of a resume point as a line of text and back, for the list file
// of the cache: "offset medium row p|c" per note, separated by ";". Decoding
// takes at most kMost notes and fails (empty result, false) on anything
// else.
std::string EncodeInnerStarts(const std::vector<InnerStart> &notes);
bool DecodeInnerStarts(std::string_view text, std::vector<InnerStart> &notes);
