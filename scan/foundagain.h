// Files found again. A staged recovery scans a medium part of which the
// cache holds already (the files of the scan that was ended from outside, or
// of an earlier stage); a later find is the same file as an earlier one when
// the bytes of one of them are the start of the other's.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

enum class FoundAgain {
    Other,     // another file
    Drop,      // the later find holds nothing the earlier file lacks
    Replace,   // it holds more of an earlier file that was cut short: its bytes take that file's place
};

// The later find against an earlier file (native paths). They are the same
// file when their bytes agree as far as both reach, but for sectors one of
// them holds as zeros (sectors that could not be read there). An earlier
// file that is the start of a longer find is the same file: when it was cut
// short (listed so, or a picture whose structure stops inside it) the find
// holds more of it; when it is whole the find ran on past its end. A find
// that holds all the earlier file holds and more takes its place; one that
// holds each what the other lacks is another file, and so is one file under
// two names.
FoundAgain CompareFoundAgain(const QString &earlierNative, bool earlierCutShort, const QString &laterNative);

// Found files by their first bytes: the earlier files a find is to be
// compared with.
class FoundFileHeads {
public:
    void add(int64_t index, const QString &native);
    // The earlier files whose first bytes could be the find's, in the order added.
    std::vector<int64_t> candidates(const QString &native) const;
    bool isEmpty() const { return short_.isEmpty(); }

private:
    struct Head {
        qint64 size = 0;
        size_t shortKey = 0, longKey = 0;
    };
    static bool readHead(const QString &native, Head &head);
    QMultiHash<size_t, int64_t> short_;   // every file, by its first bytes
    QMultiHash<size_t, int64_t> long_;    // files of a few KB or more, by more of them
    QHash<int64_t, qint64> sizes_;
};

// A found-file list line marked as holding less than the whole file: its
// first word ends in "!" ("007! JPEG File", "0003.jpg!").
bool FoundLineMarked(const QString &line);

// The finds of a list (names in list order, in one folder) that are earlier
// ones found again: each with the earlier file it repeats and what becomes
// of it. A find is compared only with files before it that are not finds
// again themselves.
struct FoundAgainMatch {
    int later = -1;
    int earlier = -1;
    FoundAgain verdict = FoundAgain::Other;
};
std::vector<FoundAgainMatch> FindFoundAgain(const QString &folderNative, const QStringList &names,
                                            const std::vector<bool> &cutShort);
