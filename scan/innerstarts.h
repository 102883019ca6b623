// Units inside an open found file whose first bytes match a row of the scan
// table, appended to that file: where its structure places them, or only
// where a length it states covers them. Each may be another file's start;
// which of them start found files of their own, and where the open file is
// cut, once its structure bears its lengths out or breaks off.
//
// Plain C++ without Qt or windows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

class InnerStarts {
public:
    struct Start {
        int64_t offset = 0;   // in the open file
        int64_t unit = 0;     // on the medium
        int row = -1;
        bool placed = false;  // the structure places it; else a length only covers it
    };

    // A file holds at most this many; a unit beyond starts a file as usual.
    static constexpr size_t kMost = 4096;

    bool empty() const { return starts_.empty(); }
    bool full() const { return starts_.size() >= kMost; }
    size_t size() const { return starts_.size(); }
    void clear()
    {
        starts_.clear();
        settled_ = -1;
    }
    // In the order of their offsets.
    void add(const Start &s) { starts_.push_back(s); }

    // The structure bore its lengths out before `confirmed`: the units it
    // placed there are its own.
    void settle(int64_t confirmed)
    {
        if (confirmed <= settled_)
            return;   // nothing more was borne out
        settled_ = confirmed;
        starts_.erase(std::remove_if(starts_.begin(), starts_.end(),
                                     [confirmed](const Start &s) { return s.placed && s.offset < confirmed; }),
                      starts_.end());
    }

    // Whether a structure that broke off must give units back: one lies
    // where no length was borne out.
    bool owed(int64_t confirmed) const { return !starts_.empty() && starts_.back().offset >= confirmed; }

    // The units that start found files of their own when the open file
    // ends, in order; cutAt receives where the open file is cut (-1: it
    // stays whole). A whole file keeps what its structure placed and gives
    // the units its lengths only covered; otherwise every unit from the
    // first one where no length was borne out starts its own file, and the
    // file ends there.
    std::vector<Start> resolve(bool whole, int64_t confirmed, int64_t &cutAt)
    {
        if (whole)
            confirmed = INT64_MAX;
        settle(confirmed);
        cutAt = -1;
        for (const Start &s : starts_)
            if (s.offset >= confirmed) {
                cutAt = s.offset;
                break;
            }
        std::vector<Start> out;
        out.swap(starts_);
        settled_ = -1;
        return out;
    }

private:
    std::vector<Start> starts_;
    int64_t settled_ = -1;   // what settle() last dropped below
};
