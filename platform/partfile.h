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

// A folder held open, so that files are made in it by name: its path is
// looked up once, not again for every file (a save of thousands of small
// files). What is made in it follows the folder itself.
class Folder {
public:
    // None when the folder (a native path) cannot be opened.
    static std::shared_ptr<const Folder> open(const QString &native);
    ~Folder();
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;
    int fd() const { return fd_; }
    // Its native path, without a closing "/".
    QString path() const { return path_; }

private:
    Folder(int fd, QString path) : fd_(fd), path_(std::move(path)) {}
    int fd_;
    QString path_;
};

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
    // The same in a folder held open (it stays open while the file is made).
    bool open(std::shared_ptr<const Folder> folder, const QString &name, Leftover leftover = Leftover::Replace);
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // The native path of its folder (without a closing "/"), of the
    // temporary file, and of the file once committed.
    QString folder() const { return folder_; }
    QString path() const { return path_; }
    QString finalPath() const { return finalPath_; }
    // A QFile on the descriptor (the descriptor stays this object's).
    QFile &file();

    // The written bytes to the disk (fsync).
    bool sync();
    // Cuts the file to the size, its QFile's buffer written first.
    bool resize(qint64 size);
    // Sets its last-write and last-access times (milliseconds since 1970,
    // UTC), its QFile's buffer written first.
    bool setTimes(qint64 msecsSinceEpoch);

    // Renames the complete file to NAME in its folder. Replace: an existing
    // file of that name is replaced; Refuse: a name taken makes it fail with
    // errno EEXIST, the temporary file staying (closed) for another name.
    // The file is written out and closed first; with sync, it reaches the
    // disk before it takes the name. False on any failure (the file is then
    // still temporary, or gone when it could not be written out).
    enum class Existing { Replace, Refuse };
    bool commit(const QString &finalName, Existing existing, bool sync = false);

    // Closes and removes the temporary file.
    void discard();

private:
    bool create(std::shared_ptr<const Folder> dir, const QString &folder, const QString &name, Leftover leftover);
    int dirFd() const;   // the folder held open, else the working folder (whole paths)

    int fd_ = -1;
    std::shared_ptr<const Folder> dir_;
    QString folder_;
    QString path_;
    QByteArray pathBytes_;   // path_ as the system takes it (only the name in a folder held open)
    QString finalPath_;
    std::unique_ptr<QFile> file_;
};

} // namespace plat
