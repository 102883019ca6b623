#include "scan/innerstarts.h"

#include <algorithm>
#include <charconv>
#include <climits>

void InnerStarts::settle(int64_t confirmed)
{
    if (confirmed <= settled_)
        return;   // nothing more was borne out
    settled_ = confirmed;
    starts_.erase(std::remove_if(starts_.begin(), starts_.end(),
                                 [confirmed](const InnerStart &s) { return s.placed && s.offset < confirmed; }),
                  starts_.end());
}

GiveBackPlan InnerStarts::plan(bool whole, int64_t confirmed)
{
    if (whole)
        confirmed = INT64_MAX;
    settle(confirmed);
    GiveBackPlan p;
    for (const InnerStart &s : starts_)
        if (s.offset >= confirmed) {
            p.cutAt = s.offset;
            break;
        }
    p.starts.swap(starts_);
    clear();
    return p;
}

void InnerStarts::dropFrom(int64_t length)
{
    starts_.erase(std::find_if(starts_.begin(), starts_.end(), [length](const InnerStart &s) { return s.offset >= length; }),
                  starts_.end());
}

bool InnerStarts::restore(const std::vector<InnerStart> &notes, int64_t fileBytes, int64_t mediumEnd)
{
    if (notes.size() > kMost)
        return false;
    for (size_t k = 0; k < notes.size(); ++k) {
        const InnerStart &s = notes[k];
        if (s.offset <= 0 || s.offset >= fileBytes || s.medium < 0 || s.medium >= mediumEnd || s.row < 0)
            return false;
        if (k > 0 && (s.offset <= notes[k - 1].offset || s.medium <= notes[k - 1].medium))
            return false;
    }
    starts_ = notes;
    settled_ = -1;
    return true;
}

std::string EncodeInnerStarts(const std::vector<InnerStart> &notes)
{
    std::string out;
    for (const InnerStart &s : notes) {
        if (!out.empty())
            out += ';';
        out += std::to_string(s.offset) + ' ' + std::to_string(s.medium) + ' ' + std::to_string(s.row) + ' '
               + (s.placed ? 'p' : 'c');
    }
    return out;
}

namespace {

// A whole number at the front of `t`, followed by one blank.
bool takeNumber(std::string_view &t, int64_t &v)
{
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || end == t.data() || end == t.data() + t.size() || *end != ' ')
        return false;
    t.remove_prefix(size_t(end - t.data()) + 1);
    return true;
}

} // namespace

bool DecodeInnerStarts(std::string_view text, std::vector<InnerStart> &notes)
{
    notes.clear();
    while (!text.empty()) {
        const size_t semi = text.find(';');
        std::string_view one = text.substr(0, semi);
        text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
        InnerStart s;
        int64_t row = 0;
        if (notes.size() >= InnerStarts::kMost || !takeNumber(one, s.offset) || !takeNumber(one, s.medium)
            || !takeNumber(one, row) || row < 0 || row > INT32_MAX || one.size() != 1 || (one[0] != 'p' && one[0] != 'c')) {
            notes.clear();
            return false;
        }
        s.row = int(row);
        s.placed = one[0] == 'p';
        notes.push_back(s);
    }
    return true;
}
