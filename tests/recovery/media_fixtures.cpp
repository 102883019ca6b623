#include "tests/recovery/media_fixtures.h"

#include "drive/ui/chooser.h"
#include "platform/drives.h"
#include "tests/support/fixtures.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QWidget>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace testing_support;

namespace media_test {

QByteArray sha256(const QString &native)
{
    QFile f(native);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result().toHex();
}

Card makeCard(int fatBits, qint64 sizeKiB, int sectorsPerCluster, const QString &serial, const QString &label)
{
    Card c;
    c.dir = makeTempDir("mediacard");
    c.jpeg = imageMagickPicture(c.dir, "photo.jpg", {"-size", "320x240", "-seed", "7", "plasma:fractal", "-quality", "90"});
    c.png = imageMagickPicture(c.dir, "pic.png", {"-size", "96x64", "-seed", "8", "plasma:fractal"});
    FatImageSpec spec;
    spec.fatBits = fatBits;
    spec.sizeKiB = sizeKiB;
    spec.sectorsPerCluster = sectorsPerCluster;
    spec.serial = serial;
    spec.label = label;
    const QString image = makeFatImage(c.dir, "card.img", spec);
    if (image.isEmpty() || c.jpeg.isEmpty() || c.png.isEmpty())
        return c;
    if (!mcopyData(image, "/NOTES.TXT", "a note\r\n") || !mcopyData(image, "/PHOTO.JPG", c.jpeg)
        || !mcopyData(image, "/PIC.PNG", c.png) || !mdel(image, "/PHOTO.JPG") || !mdel(image, "/PIC.PNG"))
        return c;
    c.image = image;
    return c;
}

const Card &sharedCard()
{
    static const Card c = makeCard();
    return c;
}

bool attachCard(QChar letter, const QString &image, const QList<QPair<qint64, qint64>> &bad, const QString &files)
{
    plat::VirtualDriveOptions o;
    o.typeCode = plat::DriveTypeRemovable;
    o.badSectors = bad;
    o.files = files;
    return plat::DriveTable::instance().attachImage(letter, image, o);
}

ChooserAnswers::ChooserAnswers(const QString &captionPart, int times) : caption_(captionPart), left_(times)
{
    timer_.setInterval(2);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (!top->isVisible() || !top->windowTitle().contains(caption_))
                continue;
            offered << ChooserStartPath;
            if (left_ <= 0) {
                ADD_FAILURE() << "unexpected folder chooser";
                top->close();
                return;
            }
            --left_;
            for (QPushButton *b : top->findChildren<QPushButton *>())
                if (b->text().remove('&') == QLatin1String("OK")) {
                    b->click();
                    return;
                }
            ADD_FAILURE() << "the chooser has no OK button";
            top->close();
            return;
        }
    });
    timer_.start();
}

ChooserAnswers::~ChooserAnswers()
{
    timer_.stop();
    EXPECT_EQ(left_, 0) << "chooser answers left";
}

QList<QPair<QString, QByteArray>> folderFiles(const QString &native)
{
    QList<QPair<QString, QByteArray>> out;
    const QStringList names = QDir(native).entryList(QDir::Files, QDir::Name);
    for (const QString &n : names)
        out.append({n, readFileBytes(native + '/' + n)});
    return out;
}

bool loopDevicesUsable()
{
    static const bool usable = ::geteuid() == 0 && QFile::exists("/dev/loop-control") && haveTool("losetup");
    return usable;
}

std::optional<LoopDevice> LoopDevice::attach(const QString &image, bool readOnly)
{
    if (!loopDevicesUsable())
        return std::nullopt;
    QByteArray out;
    QStringList args{"-f", "--show"};
    if (readOnly)
        args << "-r";
    args << image;
    if (runTool("losetup", args, &out) != 0)
        return std::nullopt;
    LoopDevice d;
    d.device = QString::fromLocal8Bit(out).trimmed();
    if (!d.device.startsWith("/dev/loop"))
        return std::nullopt;
    return d;
}

LoopDevice::LoopDevice(LoopDevice &&other) noexcept : device(std::move(other.device)) { other.device.clear(); }

LoopDevice::~LoopDevice()
{
    if (!device.isEmpty())
        runTool("losetup", {"-d", device});
}

} // namespace media_test
