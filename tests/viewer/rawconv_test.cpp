// The RAW converter: dcraw on a DNG written byte by byte (embedded
// thumbnail, half and full size, a file name full of shell characters), a
// file that is no RAW file, a hung converter ended at its limit with its own
// child while a process of the same name lives on, and the child's limits.
#include "tests/support/fixtures.h"
#include "tests/viewer/viewer_samples.h"
#include "viewer/pictureops.h"
#include "viewer/rawconv.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace viewer_samples;

namespace {

class Converter : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetConverterProgram(QString());
        ConverterFailed = false;
        dir = makeTempDir("raw");
    }
    void TearDown() override { SetConverterProgram(QString()); }
    QString dir;
};

// Running (a zombie waiting for a parent that does not reap it is not).
bool alive(qint64 pid)
{
    if (pid <= 0)
        return false;
    const QByteArray stat = readFileBytes(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    return close > 0 && stat.size() > close + 2 && stat[close + 2] != 'Z';
}

} // namespace

TEST_F(Converter, OptionsAndOutputNames)
{
    EXPECT_EQ(ConverterOptions(ConvertKind::EmbeddedThumb), QStringList({"-c", "-T", "-e", "-w"}));
    EXPECT_EQ(ConverterOptions(ConvertKind::HalfSize), QStringList({"-c", "-T", "-h", "-w"}));
    EXPECT_EQ(ConverterOptions(ConvertKind::FullSize), QStringList({"-c", "-T", "-w"}));
    EXPECT_EQ(ConverterOutputName("R#0012.cr2", ConvertKind::EmbeddedThumb), "0012.thc");
    EXPECT_EQ(ConverterOutputName("R#0012.cr2", ConvertKind::HalfSize), "0012.rpc");
    EXPECT_EQ(ConverterOutputName("R#0012.cr2", ConvertKind::FullSize), "0012_cr2.tif");
    // Long names are kept whole: looked up and written under one name.
    EXPECT_EQ(ConverterOutputName("Holiday at the sea 2009.nef", ConvertKind::HalfSize), "Holiday at the sea 2009.rpc");
    EXPECT_EQ(ConverterOutputName("C:\\x.y\\IMG_1.tar.dng", ConvertKind::FullSize), "IMG_1_tar.dng.tif");
}

TEST_F(Converter, DcrawConvertsASyntheticDngEveryWay)
{
    if (!haveTool("dcraw"))
        GTEST_SKIP() << "dcraw missing";
    // Shell characters in the name: no shell ever sees it.
    const QString input = dir + "/a&b;c d $(x).cr2";
    ASSERT_TRUE(writeFileBytes(input, syntheticDng()));
    const struct {
        ConvertKind kind;
        QSize size;
        QByteArray magic;
    } cases[] = {{ConvertKind::EmbeddedThumb, QSize(64, 48), "P6"},
                 {ConvertKind::HalfSize, QSize(64, 48), "II*"},
                 {ConvertKind::FullSize, QSize(128, 96), "II*"}};
    for (const auto &c : cases) {
        ConverterCommand command;
        command.kind = c.kind;
        command.input = input;
        command.output = dir + "/" + ConverterOutputName("a&b;c d $(x).cr2", c.kind);
        EXPECT_TRUE(command.displayText().contains(" >\"" + command.output + "\""));
        ASSERT_TRUE(RunConverter(command, kConverterLimitMs)) << command.displayText().toStdString();
        EXPECT_TRUE(readFileBytes(command.output).startsWith(c.magic));
        // Read by content whatever its name says.
        EXPECT_EQ(LoadPicture(command.output).size(), c.size);
    }
    EXPECT_FALSE(ConverterFailed);

    // Not a RAW file: dcraw says so with exit code 1; no empty output stays.
    const QString text = dir + "/R#0003.cr2";
    ASSERT_TRUE(writeFileBytes(text, QByteArray(4096, 'x')));
    ConverterCommand bad{ConvertKind::EmbeddedThumb, text, dir + "/0003.thc"};
    EXPECT_FALSE(RunConverter(bad, kConverterLimitMs));
    EXPECT_TRUE(ConverterFailed);
    EXPECT_FALSE(QFileInfo::exists(dir + "/0003.thc"));
}

TEST_F(Converter, AHungConverterIsEndedAloneAtItsLimit)
{
    // The stub leaves a child of its own and hangs.
    const QString stub = dir + "/dcraw";
    ASSERT_TRUE(writeScript(stub, "sleep 30 &\necho $! > \"" + (dir + "/grandchild").toUtf8() + "\"\nwait\n"));
    // An unrelated process of the same name, not started by the converter.
    const QString otherDir = makeTempDir("other");
    const QString other = otherDir + "/dcraw";
    ASSERT_TRUE(writeScript(other, "exec sleep 30\n"));
    qint64 otherPid = 0;
    QProcess starter;
    starter.setProgram(other);
    starter.setStandardOutputFile(QProcess::nullDevice());
    starter.setStandardErrorFile(QProcess::nullDevice());
    ASSERT_TRUE(starter.startDetached(&otherPid));

    SetConverterProgram(stub);
    const QString input = dir + "/R#0001.nef";
    ASSERT_TRUE(writeFileBytes(input, syntheticDng()));
    int pumped = 0;
    ConverterCommand command{ConvertKind::HalfSize, input, dir + "/0001.rpc"};
    EXPECT_FALSE(RunConverter(command, 400, [&] { ++pumped; }));
    EXPECT_TRUE(ConverterFailed);
    EXPECT_GT(pumped, 0);
    EXPECT_FALSE(QFileInfo::exists(dir + "/0001.rpc"));
    // Its own child went with it (give the kernel a moment to reap it).
    const qint64 grandchild = readFileBytes(dir + "/grandchild").trimmed().toLongLong();
    EXPECT_GT(grandchild, 0);
    for (int i = 0; i < 50 && alive(grandchild); ++i)
        QThread::msleep(20);
    EXPECT_FALSE(alive(grandchild));
    EXPECT_TRUE(alive(otherPid));
    ::kill(pid_t(otherPid), SIGKILL);
}

TEST_F(Converter, TheChildRunsUnderLimitsWithoutAShell)
{
    const QString stub = dir + "/dcraw";
    ASSERT_TRUE(writeScript(stub, "ulimit -v; ulimit -t; for a in \"$@\"; do echo \"[$a]\"; done\n"));
    SetConverterProgram(stub);
    const QString input = dir + "/x;rm -rf y.cr2";
    ASSERT_TRUE(writeFileBytes(input, "x"));
    ConverterCommand command{ConvertKind::FullSize, input, dir + "/out.tif"};
    ASSERT_TRUE(RunConverter(command, kConverterLimitMs));
    const QList<QByteArray> lines = readFileBytes(dir + "/out.tif").trimmed().split('\n');
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], "2097152");   // kB of address space
    EXPECT_EQ(lines[1], "60");        // CPU seconds
    EXPECT_EQ(lines[5], "[" + input.toUtf8() + "]");

    // A converter that is not there is no failure of the converter.
    SetConverterProgram(dir + "/none");
    EXPECT_FALSE(RunConverter(command, kConverterLimitMs));
    ConverterFailed = false;
    SetConverterProgram(QString());
    EXPECT_EQ(ConverterProgram(), "dcraw");
}
