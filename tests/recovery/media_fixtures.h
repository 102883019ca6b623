// What the tests of the disk images and media tools share: cards made by
// mkfs.fat and mtools with pictures made by ImageMagick, image hashes, the
// folder chooser answered, and loop devices where the machine has them.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <optional>

namespace media_test {

QByteArray sha256(const QString &native);

// A card with a note still listed and two pictures deleted (their bytes in
// free clusters): PHOTO.JPG and PIC.PNG.
struct Card {
    QString dir, image;
    QByteArray jpeg, png;
    bool ok() const { return !image.isEmpty() && !jpeg.isEmpty() && !png.isEmpty(); }
};
Card makeCard(int fatBits = 16, qint64 sizeKiB = 16384, int sectorsPerCluster = 4,
              const QString &serial = QStringLiteral("1234ABCD"), const QString &label = QStringLiteral("CARD"));

// The default card, made once for the test binary.
const Card &sharedCard();
#define REQUIRE_MEDIA_CARD()                                                                              \
    if (!media_test::sharedCard().ok())                                                                   \
    GTEST_SKIP() << "mkfs.fat, mtools or ImageMagick missing"

// A removable virtual drive over an image; bad: sectors whose reads fail.
bool attachCard(QChar letter, const QString &image, const QList<QPair<qint64, qint64>> &bad = {},
                const QString &files = {});

// Clicks OK on the folder chooser whose caption holds the text, as many
// times as asked; fails the test for a chooser left without an answer.
class ChooserAnswers {
public:
    explicit ChooserAnswers(const QString &captionPart, int times = 1);
    ~ChooserAnswers();
    QStringList offered;   // the start folder of each chooser shown

private:
    QTimer timer_;
    QString caption_;
    int left_;
};

// The files of a cache folder (names sorted) and their bytes.
QList<QPair<QString, QByteArray>> folderFiles(const QString &native);

// A loop device over an image (root and /dev/loop* needed), detached at the end.
class LoopDevice {
public:
    static std::optional<LoopDevice> attach(const QString &image, bool readOnly);
    LoopDevice(LoopDevice &&other) noexcept;
    ~LoopDevice();
    QString device;

private:
    LoopDevice() = default;
};
bool loopDevicesUsable();

} // namespace media_test
