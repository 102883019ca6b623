// Shared test support: a private program home for every test binary, temporary
// folders, running real tools with an argument vector, and FAT images made
// with mkfs.fat and filled with mtools.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace testing_support {

// The temporary folder that QUILVANE_HOME points at for this test binary.
QString testHome();

// A fresh temporary folder (native path, no trailing slash), removed at exit.
QString makeTempDir(const QString &hint = QStringLiteral("t"));

// Runs a program (never through a shell); returns its exit code, -1 when it
// could not start. Standard output and error go to *out when given.
int runTool(const QString &program, const QStringList &args, QByteArray *out = nullptr,
            const QByteArray &input = {});
// True when the program is on the PATH.
bool haveTool(const QString &program);

QByteArray readFileBytes(const QString &nativePath, qint64 offset = 0, qint64 length = -1);
bool writeFileBytes(const QString &nativePath, const QByteArray &bytes);
// Overwrites bytes of an existing file in place (like dd conv=notrunc).
bool patchFile(const QString &nativePath, qint64 offset, const QByteArray &bytes);

struct FatImageSpec {
    int fatBits = 12;            // 12, 16 or 32
    qint64 sizeKiB = 1440;       // image size
    int sectorSize = 512;
    int sectorsPerCluster = 4;
    int reservedSectors = -1;    // -1: mkfs.fat's default
    int fats = 2;
    int rootEntries = -1;        // FAT12/16 only; -1: default
    QString serial = QStringLiteral("DEADBEEF");
    QString label = QStringLiteral("CARD");
    bool align = true;           // false: -a, the stated size is the image's own
};

// Makes an image with mkfs.fat (with --invariant); returns the native path or
// an empty text when the tool failed.
QString makeFatImage(const QString &dir, const QString &name, const FatImageSpec &spec);

// mtools on an image: mmd, mcopy (data given in memory), mdel, mtype.
bool mmd(const QString &image, const QString &dosPath);
bool mcopyData(const QString &image, const QString &dosPath, const QByteArray &data);
bool mdel(const QString &image, const QString &dosPath);
QByteArray mtype(const QString &image, const QString &dosPath);

// Copies many files at once into a folder of the image (name -> data).
bool mcopyFiles(const QString &image, const QString &dosFolder, const QList<QPair<QString, QByteArray>> &files);
// A field of `minfo -i image ::`, e.g. "sector size" gives "512 bytes".
QString minfoField(const QString &image, const QString &key);
// The bytes free that `mdir` reports.
qint64 mdirBytesFree(const QString &image);

// A card as a camera or a user leaves it, used by the tests of every
// subsystem: nested folders (DCIM/100CANON, deep A/B/C/D), long file names,
// files of several sizes, deleted files; with fullRoot, the FAT12/16 root
// folder is filled to its last slot. Returns the image path.
struct SampleCard {
    QString image;
    QList<QPair<QString, QByteArray>> files;    // DOS path -> data, still present
    QList<QPair<QString, QByteArray>> deleted;  // DOS path -> data, deleted
};
SampleCard makeSampleCard(const QString &dir, int fatBits, bool fullRoot = false);

// ImageMagick's convert (the Debian name first).
QString imageMagickProgram();
// A picture made by convert with the arguments and written to dir/name;
// its bytes, empty when convert failed.
QByteArray imageMagickPicture(const QString &dir, const QString &name, const QStringList &args);

// Bytes of a deterministic pattern, different for every seed.
QByteArray patternBytes(qint64 size, quint32 seed);

// A file the program may not read, for the object's life: its mode becomes
// 000, and when the tests run as root the calling thread gives up the
// capabilities that pass over file modes (its opens then fail with EACCES,
// as they do for a user outside the group 'disk'). Everything comes back at
// the end.
class NoReadRights {
public:
    explicit NoReadRights(const QString &nativePath);
    ~NoReadRights();
    NoReadRights(const NoReadRights &) = delete;
    NoReadRights &operator=(const NoReadRights &) = delete;
    // The open of the file is refused now.
    bool active() const;

private:
    QString path_;
    unsigned mode_ = 0;
    bool dropped_ = false;
};

// HOME and XDG_DATA_HOME in a fresh temporary folder for the object's life:
// the desktop's trash lies there, on the file system of the temporary folders.
class PrivateHome {
public:
    PrivateHome();
    ~PrivateHome();
    PrivateHome(const PrivateHome &) = delete;
    PrivateHome &operator=(const PrivateHome &) = delete;
    QString home() const { return home_; }
    QString trashFiles() const { return home_ + QStringLiteral("/.local/share/Trash/files"); }
    QString trashInfo() const { return home_ + QStringLiteral("/.local/share/Trash/info"); }

private:
    QByteArray oldHome_, oldData_;
    QString home_;
};

// Attaches an image as a removable virtual drive letter through the layer.
bool attachRemovable(QChar letter, const QString &imageNative);
void detachDrive(QChar letter);

// A small tmpfs in a fresh temporary folder, for a target or a cache that
// fills; path() is empty when this machine may not mount (mounting needs
// root). Unmounted at the end.
class SmallDisk {
public:
    explicit SmallDisk(int kib);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    QString path() const { return path_; }
    // Mounted again with room for kib KiB, its files kept.
    bool grow(int kib);

private:
    QString path_;
};

} // namespace testing_support
