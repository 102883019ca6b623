// Files saved for the user: each is written under a temporary name in its
// target folder, ".NAME.part" (hidden, so no listing offers it), and renamed
// to NAME only when it is complete. A process killed part-way leaves at most
// that hidden file; a final name only ever names a whole file. A failure or
// a stop removes the temporary file, and the next save of the same name
// removes what an earlier, killed save left.
#pragma once

#include <QFile>
#include <QString>
#include <memory>

namespace plat {

// ".NAME.part"; a name too long for it is cut (whole characters) so that the
// temporary name fits the 255 bytes of a file name.
QString partFileName(const QString &name);
// A name of that form.
bool isPartFileName(const QString &name);

class PartFile {
public:
    PartFile() = default;
    ~PartFile();   // a file never committed is removed
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    // What an earlier save of the same name left: removed (it is never the
    // user's file), or kept, the open then failing with EEXIST.
    enum class Leftover { Replace, Keep };
    // Creates ".NAME.part" in the folder (a native path) for writing.
    bool open(const QString &folderNative, const QString &name, Leftover leftover = Leftover::Replace);
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // The native path of the temporary file, and of the file once committed.
    QString path() const { return path_; }
    QString finalPath() const { return finalPath_; }
    // A QFile on the descriptor (the descriptor stays this object's).
    QFile &file();

    // The written bytes to the disk (fsync).
    bool sync();

    // Renames the complete file to NAME in its folder. Replace: an existing
    // file of that name is replaced; Refuse: a name taken makes it fail with
    // errno EEXIST, the temporary file staying open for another name. The
    // QFile's buffer is written first; with sync, the file reaches the disk
    // before it takes the name. False on any failure (the file is then
    // still temporary).
    enum class Existing { Replace, Refuse };
    bool commit(const QString &finalName, Existing existing, bool sync = false);

    // Closes and removes the temporary file.
    void discard();

private:
    int fd_ = -1;
    QString folder_;
    QString path_;
    QString finalPath_;
    std::unique_ptr<QFile> file_;
};

} // namespace plat
