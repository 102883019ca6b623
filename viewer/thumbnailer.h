// Thumbnails made by the desktop's thumbnailers (the freedesktop
// ".thumbnailer" files): the thumbnailer for a file's type runs as a limited
// child process without a shell, writes a PNG into the program's private
// temporary folder, and the picture comes back in an off-screen surface,
// fitted into the size asked for. Found files are untrusted, so a thumbnailer
// that hangs is ended at its time limit (or when its caller releases it).
#pragma once

#include "viewer/memdc.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Flags of a thumbnail request.
namespace ieiflag {
constexpr int Aspect = 0x4;       // keep the picture's proportions
constexpr int Offline = 0x8;
constexpr int Screen = 0x20;
constexpr int OrigSize = 0x40;    // never enlarge a smaller thumbnail
constexpr int Quality = 0x200;
} // namespace ieiflag

class cThumbnailGenerator {
public:
    // Width and height 92, flags Aspect | Offline | OrigSize | Quality.
    cThumbnailGenerator();
    cThumbnailGenerator(const cThumbnailGenerator &) = delete;
    cThumbnailGenerator &operator=(const cThumbnailGenerator &) = delete;

    void SetFlags(int flags) { flags_ = flags; }
    int GetFlags() const { return flags_; }
    int GetWidth() const { return width_; }
    void SetWidth(int width) { width_ = width; }
    int GetHeight() const { return height_; }
    void SetHeight(int height) { height_ = height; }
    QString GetFileName() const { return fileName_; }
    void SetFileName(const QString &fileName) { fileName_ = fileName; }

    // The path up to and including its last "\" (or "/"); empty without one.
    static QString GetFolderPart(const QString &path);

    // The thumbnail of FileName (internal or native path) at most Width x
    // Height (620 x 420 when Width is above 620); success tells whether one
    // was made. A path without a folder part, a folder that does not exist, a
    // file that is not there by exactly that name, a type without a
    // thumbnailer, a thumbnailer that fails, hangs or writes no picture: no
    // thumbnail.
    std::optional<pcMemDC> GetThumbnail(bool &success);
    // Releases what a running request holds: the thumbnailer still at work
    // is ended (its picture is then not taken). Safe to call at any time.
    void FreeItemIds();
    // Whether a thumbnailer is at work for this generator.
    bool Busy() const { return busy_; }

    // The longest a thumbnailer may run, in ms.
    int TimeLimitMs = 10000;
    // Runs about every 20 ms while a thumbnailer works (the window's events).
    std::function<void()> WhileWaiting;

private:
    int width_ = 92;
    int height_ = 92;
    int flags_ = ieiflag::Aspect | ieiflag::Offline | ieiflag::OrigSize | ieiflag::Quality;
    QString fileName_;
    bool busy_ = false;
    bool released_ = false;
};

// The argument vector of a thumbnailer's Exec line: split as a desktop entry
// splits it (blanks separate, double quotes group, a backslash inside quotes
// escapes the next character), then the field codes replaced: %i the input
// path, %u its file URI, %o the output path, %s the size, %% a percent sign;
// other field codes are dropped. The first element is the program.
QStringList ThumbnailerArguments(const QString &exec, const QString &inputNative, const QString &outputNative,
                                 int size);
