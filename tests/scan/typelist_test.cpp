// The scan-type list on the main window: filling it from the built-in table
// and learned-type files, ticks across refills, the exclusions and linked
// types, keys and removal, the presets and size limits, the scan table from
// the ticks, and showing the list.
#include "app/frmrecover.h"

#include "drive/ui/chooser.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "scan/learnedtypes.h"
#include "scan/scantable.h"
#include "scan/signatures.h"
#include "scan/ui/typelist.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSet>
#include <QStandardItem>
#include <QStandardItemModel>
#include <gtest/gtest.h>

#include <deque>
#include <set>

using testing_support::makeTempDir;
using testing_support::MessageScript;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

QString workNative(const QString &name = {})
{
    return plat::toNative(LearnedTypesFolder()) + (name.isEmpty() ? QString() : QStringLiteral("/") + name);
}

LearnedTypeRecord learned(const QByteArray &ext, const QByteArray &desc)
{
    LearnedTypeRecord r;
    r.Ext = ext;
    r.Desc = FixedDescription(desc);
    return r;
}

void setVariant(LearnedTypeRecord &r, int k, const QByteArray &sig1, int matches, int analysed)
{
    r.Sig1[size_t(k)] = sig1;
    r.Matches[size_t(k)] = matches;
    r.Analysed[size_t(k)] = analysed;
}

// xyz: variants 0, 2 and 5 listed, 1 too few matches; written enciphered.
LearnedTypeRecord xyzType()
{
    LearnedTypeRecord r = learned(".xyz", "XYZ data");
    setVariant(r, 0, "XYZ1", 6, 9);
    r.Sig2[0] = "ab";
    r.TailPrefix[0] = "c";
    r.TailRun[0] = QByteArray(16, '\0');
    setVariant(r, 1, "XY", 4, 9);
    setVariant(r, 2, "XYZ2long", 5, 100);
    setVariant(r, 5, "XYZ5", 5, 80);
    return r;
}

class TypeList : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        QDir(workNative()).removeRecursively();
        QDir().mkpath(workNative());
        w = &CreateMainWindow();
    }
    void TearDown() override
    {
        SetInputBoxResponder({});
        DestroyMainWindow();
        QDir(workNative()).removeRecursively();
        plat::DriveTable::instance().resetVirtual();
        SetMsgBoxPlainMode(false);
    }

    // The learned files of most tests: xyz, a learned jpg, pdf and jpe.
    void writeLearnedTypes()
    {
        LearnedTypeRecord xyz = xyzType();
        ASSERT_TRUE(ToggleLearnedTypeCipher(xyz, LearnedTypeKey()));
        ASSERT_TRUE(WriteLearnedTypeRecord(LearnedTypeFileName("xyz"), xyz));
        LearnedTypeRecord jpg = learned(".jpg", "JPG");
        setVariant(jpg, 0, "\xFF\xD8\xFF\xE1", 5, 5);
        setVariant(jpg, 1, "\xFF\xD8\xFF\xE0", 9, 10);
        ASSERT_TRUE(WriteLearnedTypeRecord(LearnedTypeFileName("jpg"), jpg));
        LearnedTypeRecord pdf = learned(".pdf", "PDF");
        setVariant(pdf, 0, "%PDF-1.4", 7, 8);
        ASSERT_TRUE(WriteLearnedTypeRecord(LearnedTypeFileName("pdf"), pdf));
        // The built-in table has no JPE: a learned one stands for it.
        LearnedTypeRecord jpe = learned(".jpe", "JPE");
        setVariant(jpe, 0, "\xFF\xD8\xFF\xDB", 5, 6);
        ASSERT_TRUE(WriteLearnedTypeRecord(LearnedTypeFileName("jpe"), jpe));
    }

    std::vector<int> rowsNamed(const QString &name, const QString &origin = {}) const
    {
        std::vector<int> found;
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            if (w->LvwTypes.ItemText(i) == name && (origin.isEmpty() || w->LvwTypes.SubItem(i, 2) == origin))
                found.push_back(i);
        return found;
    }
    bool allTicked(const std::vector<int> &rows, bool ticked) const
    {
        for (int i : rows)
            if (w->LvwTypes.ItemChecked(i) != ticked)
                return false;
        return !rows.empty();
    }
    std::set<QString> tickedNames() const
    {
        std::set<QString> names;
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            if (w->LvwTypes.ItemChecked(i))
                names.insert(w->LvwTypes.ItemText(i));
        return names;
    }
    // A tick as the user gives it: through the list's own item.
    void userTick(int index, bool ticked)
    {
        QStandardItemModel *model = TypeListModel(w->LvwTypes);
        ASSERT_NE(model, nullptr);
        model->item(index - 1, 0)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
    int distinctBuiltInTypes() const
    {
        SignatureRows all;
        BuildSignatureTable("all", all);
        QSet<QByteArray> ids;
        for (const SignatureRecord &r : all)
            ids.insert(r.Ext + r.Desc);
        return int(ids.size());
    }
    int entryIndex(const QString &text) const
    {
        for (int i = 0; i < w->CmbTypeSelect.ListCount(); ++i)
            if (w->CmbTypeSelect.List(i) == text)
                return i;
        return -1;
    }

    frmRecover *w = nullptr;
};

// Answers input boxes in order and records them.
struct InputScript {
    explicit InputScript(std::deque<QString> answers) : answers_(std::move(answers))
    {
        SetInputBoxResponder([this](const InputBoxRequest &r) {
            requests.push_back(r);
            if (answers_.empty()) {
                ADD_FAILURE() << "an input box nobody expected";
                return QString();
            }
            QString a = answers_.front();
            answers_.pop_front();
            return a;
        });
    }
    ~InputScript()
    {
        SetInputBoxResponder({});
        EXPECT_TRUE(answers_.empty()) << "input boxes that never came";
    }
    std::vector<InputBoxRequest> requests;

private:
    std::deque<QString> answers_;
};

// A home of the test's own, with its own trash.
struct PrivateHome {
    PrivateHome() : oldHome(qgetenv("HOME")), oldData(qgetenv("XDG_DATA_HOME")), home(makeTempDir("home"))
    {
        qputenv("HOME", home.toLocal8Bit());
        qputenv("XDG_DATA_HOME", (home + "/.local/share").toLocal8Bit());
        QDir().mkpath(home + "/.local/share");
    }
    ~PrivateHome()
    {
        qputenv("HOME", oldHome);
        if (oldData.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", oldData);
    }
    QByteArray oldHome, oldData;
    QString home;
};

} // namespace

TEST(TypeListTexts, ReliabilityFactorAndSizeAnswers)
{
    EXPECT_EQ(TypeReliabilityText(7, 8), "87.5%");
    EXPECT_EQ(TypeReliabilityText(5, 100), "05.0%");
    EXPECT_EQ(TypeReliabilityText(5, 5), "100.0%");
    EXPECT_EQ(TypeReliabilityText(6, 9), "66.7%");
    EXPECT_EQ(TypeReliabilityText(5, 15), "33.3%");
    EXPECT_EQ(TypeReliabilityText(1, 16), "06.3%") << "halves away from zero";
    EXPECT_EQ(TypeReliabilityText(5, 0), "") << "nothing analysed: no division";

    EXPECT_EQ(TypesColumnFactor(10300), 1);
    EXPECT_EQ(TypesColumnFactor(5000), 1);
    EXPECT_DOUBLE_EQ(TypesColumnFactor(12875), 1.25);
    EXPECT_DOUBLE_EQ(TypesColumnFactor(20600), 1.365);

    double lo = -1, hi = -1;
    EXPECT_EQ(ParseSizeLimitAnswer("1,5-25", lo, hi), SizeAnswer::Accepted);
    EXPECT_EQ(lo, 1.5);
    EXPECT_EQ(hi, 25);
    EXPECT_EQ(ParseSizeLimitAnswer(" 2 - 3 ", lo, hi), SizeAnswer::Accepted);
    EXPECT_EQ(lo, 2);
    EXPECT_EQ(hi, 3);
    EXPECT_EQ(ParseSizeLimitAnswer("0", lo, hi), SizeAnswer::Accepted);
    EXPECT_EQ(lo + hi, 0);
    EXPECT_EQ(ParseSizeLimitAnswer("5-0", lo, hi), SizeAnswer::Accepted) << "a minimum without a maximum";
    EXPECT_EQ(lo, 5);
    EXPECT_EQ(hi, 0);
    lo = hi = 7;
    EXPECT_EQ(ParseSizeLimitAnswer("", lo, hi), SizeAnswer::Cancelled);
    EXPECT_EQ(ParseSizeLimitAnswer("25", lo, hi), SizeAnswer::AskAgain);
    EXPECT_EQ(ParseSizeLimitAnswer("-5", lo, hi), SizeAnswer::AskAgain) << "negative limit";
    EXPECT_EQ(ParseSizeLimitAnswer("30-5", lo, hi), SizeAnswer::AskAgain) << "min above max";
    EXPECT_EQ(lo, 7) << "a refused answer changes nothing";

    EXPECT_EQ(SizeStateText(1.5, 25), "Limited: file size 1.5-25 MB");
    EXPECT_EQ(SizeStateText(0, 0), "File sizes: unlimited");
    EXPECT_EQ(SizeDefaultAnswer(0, 0), "0");
    EXPECT_EQ(SizeDefaultAnswer(10, 0), "10-0");
    const QLocale old;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(SizeStateText(1.5, 25000), "Limited: file size 1,5-25000 MB");
    QLocale::setDefault(old);
}

TEST_F(TypeList, FillsBuiltInAndUsableLearnedRows)
{
    w->FillTypeList();
    const int builtIn = distinctBuiltInTypes();
    EXPECT_LT(builtIn, 84) << "rows with the same Ext + Desc are one row";
    ASSERT_EQ(w->LvwTypes.ItemCount(), builtIn);
    EXPECT_FALSE(w->LvwTypes.Visible());
    EXPECT_FALSE(w->CmbTypeSelect.Visible());
    EXPECT_EQ(w->CmbTypeSelect.ListCount(), 24);

    writeLearnedTypes();
    const QByteArray xyzBytes = readFileBytes(workNative("ZT_xyz.dat"));
    LearnedTypeRecord few = learned(".few", "FEW");
    setVariant(few, 0, "FEW!", 3, 4);   // learned unattended: not listed yet
    ASSERT_TRUE(WriteLearnedTypeRecord(LearnedTypeFileName("few"), few));
    ASSERT_TRUE(WriteLearnedTypeRecord(LearnedTypeFileName("non"), learned(".non", "NONE")));
    ASSERT_TRUE(writeFileBytes(workNative("ZT_bad.dat"), QByteArray("\x40\x00garbage", 9)));
    ASSERT_TRUE(writeFileBytes(workNative("ZTAnalyze_jpg.dat"), "ring"));

    w->FillTypeList();
    ASSERT_EQ(w->LvwTypes.ItemCount(), builtIn + 3 + 2 + 1 + 1);

    // Sorted once by name.
    for (int i = 2; i <= w->LvwTypes.ItemCount(); ++i)
        EXPECT_LE(QString::compare(w->LvwTypes.ItemText(i - 1), w->LvwTypes.ItemText(i), Qt::CaseInsensitive), 0);

    const std::vector<int> xyz = rowsNamed("XYZ");
    ASSERT_EQ(xyz.size(), 3u);
    const char *keys[] = {"xyz 0", "xyz 2", "xyz 5"};
    const char *reliable[] = {"66.7%", "05.0%", "06.3%"};
    const char *header[] = {"4", "8", "4"};
    const char *variant[] = {"0", "2", "5"};
    QStandardItemModel *model = TypeListModel(w->LvwTypes);
    ASSERT_NE(model, nullptr);
    for (size_t n = 0; n < 3; ++n) {
        const int i = xyz[n];
        EXPECT_EQ(w->LvwTypes.ItemTag(i), keys[n]);
        EXPECT_EQ(w->LvwTypes.SubItem(i, 1), "XYZ data  ");
        EXPECT_EQ(w->LvwTypes.SubItem(i, 2), "Adaptive");
        EXPECT_EQ(w->LvwTypes.SubItem(i, 3), reliable[n]);
        EXPECT_EQ(w->LvwTypes.SubItem(i, 4), header[n]) << "deciphered lengths";
        EXPECT_EQ(w->LvwTypes.SubItem(i, 9), variant[n]);
        EXPECT_EQ(model->item(i - 1, 0)->foreground().color(), QColor(Qt::blue));
        EXPECT_EQ(model->item(i - 1, 2)->foreground().color(), QColor(Qt::blue));
    }
    EXPECT_EQ(w->LvwTypes.SubItem(xyz[0], 5), "2");
    EXPECT_EQ(w->LvwTypes.SubItem(xyz[0], 6), "1");
    EXPECT_EQ(w->LvwTypes.SubItem(xyz[0], 7), "16");
    EXPECT_EQ(w->LvwTypes.SubItem(xyz[0], 8), "9");
    EXPECT_EQ(readFileBytes(workNative("ZT_xyz.dat")), xyzBytes) << "the file stays enciphered";

    const std::vector<int> pdf = rowsNamed("PDF", "Adaptive");
    ASSERT_EQ(pdf.size(), 1u);
    EXPECT_EQ(w->LvwTypes.SubItem(pdf[0], 3), "87.5%");
    EXPECT_EQ(rowsNamed("JPG", "Adaptive").size(), 2u);
    EXPECT_EQ(w->LvwTypes.SubItem(rowsNamed("JPG", "Adaptive")[0], 3), "100.0%");

    const std::vector<int> jpgBuiltIn = rowsNamed("JPG", "Program");
    EXPECT_EQ(jpgBuiltIn.size(), 2u) << "JPEG File and JFIF File";
    EXPECT_TRUE(w->LvwTypes.ItemTag(jpgBuiltIn[0]).startsWith(".jpg "));
    EXPECT_NE(model->item(jpgBuiltIn[0] - 1, 0)->foreground().color(), QColor(Qt::blue));
    EXPECT_TRUE(w->LvwTypes.SubItem(jpgBuiltIn[0], 3).isEmpty());

    // No signature at all: removed. Too few matches yet, or unreadable: kept.
    EXPECT_FALSE(QFile::exists(workNative("ZT_non.dat")));
    EXPECT_TRUE(QFile::exists(workNative("ZT_few.dat")));
    EXPECT_TRUE(QFile::exists(workNative("ZT_bad.dat")));
    EXPECT_TRUE(QFile::exists(workNative("ZTAnalyze_jpg.dat")));
    EXPECT_TRUE(rowsNamed("FEW").empty());
    EXPECT_TRUE(rowsNamed("BAD").empty());
}

TEST_F(TypeList, TicksSurviveARefillAndTheSelectionAddsTicks)
{
    writeLearnedTypes();
    w->FillTypeList();
    w->LvwTypes.setItemChecked(rowsNamed("JPG", "Program")[0], true);
    w->LvwTypes.setItemChecked(rowsNamed("TIF")[0], true);

    QString selection = "nef";
    w->FillTypeList(selection);
    EXPECT_TRUE(selection.startsWith("NEF")) << selection.toStdString();
    EXPECT_TRUE(selection.contains("JPG|"));
    EXPECT_TRUE(allTicked(rowsNamed("JPG"), true)) << "by name: every JPG row";
    EXPECT_TRUE(allTicked(rowsNamed("TIF"), true));
    EXPECT_TRUE(allTicked(rowsNamed("NEF"), true));
    EXPECT_EQ(tickedNames(), (std::set<QString>{"JPG", "TIF", "NEF"}));

    selection = "x";
    w->FillTypeList(selection);
    EXPECT_EQ(tickedNames(), (std::set<QString>{"JPG", "TIF", "NEF"})) << "one character names nothing";
}

TEST_F(TypeList, TicksApplyExclusionsAndLinkedTypes)
{
    writeLearnedTypes();
    w->FillTypeList();
    const auto cr2 = rowsNamed("CR2"), tif = rowsNamed("TIF"), nef = rowsNamed("NEF"), pef = rowsNamed("PEF");
    ASSERT_FALSE(cr2.empty() || tif.empty() || nef.empty() || pef.empty());

    w->CmbTypeSelect.setListIndex(entryIndex("Sony"));
    w->TypeSelectionChanged = false;
    userTick(cr2[0], true);
    EXPECT_TRUE(allTicked(cr2, true));
    EXPECT_EQ(w->CmbTypeSelect.ListIndex(), -1);
    EXPECT_EQ(w->CmbTypeSelect.Text(), "Select File Types");
    EXPECT_TRUE(w->TypeSelectionChanged);

    userTick(tif[0], true);
    EXPECT_TRUE(allTicked(tif, true)) << "all built-in rows of one name";
    EXPECT_TRUE(allTicked(cr2, false)) << "TIF unticks CR2";
    userTick(cr2[0], true);
    EXPECT_TRUE(allTicked(tif, false)) << "CR2 unticks TIF";

    userTick(pef[0], true);
    userTick(nef[0], true);
    EXPECT_TRUE(allTicked(pef, true)) << "NEF leaves PEF";
    userTick(pef[0], false);
    userTick(pef[0], true);
    EXPECT_TRUE(allTicked(nef, false)) << "PEF unticks NEF";

    // The JPEG family, learned rows included.
    const auto thm = rowsNamed("THM"), jpe = rowsNamed("JPE"), jpg = rowsNamed("JPG");
    ASSERT_FALSE(thm.empty() || jpe.empty());
    userTick(thm[0], true);
    EXPECT_TRUE(allTicked(jpg, true));
    EXPECT_TRUE(allTicked(jpe, true));
    EXPECT_TRUE(allTicked(rowsNamed("JPG", "Adaptive"), true));
    const int firstJpg = rowsNamed("JPG", "Program")[0];
    userTick(firstJpg, false);
    EXPECT_FALSE(w->LvwTypes.ItemChecked(firstJpg));
    EXPECT_TRUE(allTicked(rowsNamed("JPG", "Adaptive"), true)) << "unticking touches only that row";
    EXPECT_TRUE(allTicked(jpe, true));
    EXPECT_TRUE(allTicked(thm, true));

    // Variants of a learned type go together, apart from built-in rows of the name.
    const auto xyz = rowsNamed("XYZ");
    userTick(xyz[1], true);
    EXPECT_TRUE(allTicked(xyz, true));
    userTick(rowsNamed("PDF", "Adaptive")[0], true);
    EXPECT_TRUE(allTicked(rowsNamed("PDF", "Program"), false));
    userTick(rowsNamed("PDF", "Program")[0], true);
    userTick(rowsNamed("PDF", "Adaptive")[0], false);
    EXPECT_TRUE(allTicked(rowsNamed("PDF", "Program"), true));

    // A refill raises no tick events.
    w->TypeSelectionChanged = false;
    w->FillTypeList();
    EXPECT_FALSE(w->TypeSelectionChanged);
}

TEST_F(TypeList, KeysMouseAndRemovalOfLearnedTypes)
{
    PrivateHome privateHome;
    const QString home = privateHome.home;

    writeLearnedTypes();
    w->FillTypeList();
    BuildSignatureTable("all");
    {
        MessageScript none;
        w->LvwTypes_KeyUp(65, plat::vbCtrlMask);
    }
    for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
        EXPECT_TRUE(w->LvwTypes.ItemSelected(i));
    EXPECT_TRUE(HasSignatureRows(SignatureTable)) << "Ctrl+A keeps the table";

    // Everything selected: three learned types named, kept on No.
    {
        MessageScript script;
        script.expect(plat::id::No, "the Adaptive type(s): JPE JPG PDF XYZ?");
        w->LvwTypes_MouseDown(plat::vbRightButton, 0, 0, 0);
        ASSERT_EQ(script.boxes().size(), 1u);
        EXPECT_EQ(script.boxes()[0].style & plat::mb::ButtonMask, plat::mb::YesNo);
        EXPECT_EQ(script.boxes()[0].title, "Quilvane");
    }
    EXPECT_FALSE(HasSignatureRows(SignatureTable));
    EXPECT_TRUE(QFile::exists(workNative("ZT_xyz.dat")));

    // Only built-in rows selected: nothing to ask.
    BuildSignatureTable("all");
    for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
        w->LvwTypes.setItemSelected(i, w->LvwTypes.SubItem(i, 2) == "Program");
    {
        MessageScript none;
        w->LvwTypes_KeyUp(46, 0);
    }
    EXPECT_FALSE(HasSignatureRows(SignatureTable));
    BuildSignatureTable("all");
    w->LvwTypes_KeyUp(65, 0);
    EXPECT_FALSE(HasSignatureRows(SignatureTable)) << "any other key drops the table";

    // One type: no "(s)"; its file goes to the trash and the list is refilled.
    w->LvwTypes.setView(plat::ListView::lvwSmallIcon);
    w->LvwTypes.setItemChecked(rowsNamed("PDF", "Adaptive")[0], true);
    for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
        w->LvwTypes.setItemSelected(i, w->LvwTypes.ItemText(i) == "XYZ" || w->LvwTypes.ItemText(i) == "JPG");
    const int rowsBefore = w->LvwTypes.ItemCount();
    w->LvwTypes.setItemSelected(rowsNamed("JPG", "Adaptive")[0], false);
    w->LvwTypes.setItemSelected(rowsNamed("JPG", "Adaptive")[1], false);
    {
        MessageScript script;
        script.expect(plat::id::Yes);
        w->LvwTypes_KeyUp(46, 0);
        ASSERT_EQ(script.boxes().size(), 1u);
        EXPECT_EQ(script.boxes()[0].text,
                  "Remove from the scan list to the recycle bin  \r\nthe Adaptive type: XYZ?");
    }
    EXPECT_FALSE(QFile::exists(workNative("ZT_xyz.dat")));
    EXPECT_TRUE(QFile::exists(home + "/.local/share/Trash/files/ZT_xyz.dat"));
    EXPECT_TRUE(QFile::exists(home + "/.local/share/Trash/info/ZT_xyz.dat.trashinfo"));
    EXPECT_TRUE(QFile::exists(workNative("ZT_jpg.dat"))) << "a selected built-in JPG row has no file";
    EXPECT_EQ(w->LvwTypes.ItemCount(), rowsBefore - 3);
    EXPECT_TRUE(rowsNamed("XYZ").empty());
    EXPECT_TRUE(allTicked(rowsNamed("PDF", "Adaptive"), true)) << "ticks survive the refill";
    EXPECT_EQ(w->LvwTypes.View(), plat::ListView::lvwSmallIcon);
    EXPECT_TRUE(w->LvwTypes.Visible());
    EXPECT_TRUE(w->CmbTypeSelect.Visible());

}

TEST_F(TypeList, PresetsTickTheirTypes)
{
    writeLearnedTypes();
    w->FillTypeList();
    ASSERT_EQ(w->CmbTypeSelect.ListCount(), 24);
    EXPECT_EQ(w->CmbTypeSelect.List(0), "Limited file size: 0-0 MB");
    EXPECT_EQ(w->CmbTypeSelect.List(23), "Deselect");
    EXPECT_EQ(w->CmbTypeSelect.ListIndex(), -1);
    EXPECT_EQ(w->CmbTypeSelect.Text(), "Pre Select Types for Scan");

    auto choose = [&](const QString &entry) {
        const int index = entryIndex(entry);
        ASSERT_GE(index, 0) << entry.toStdString();
        BuildSignatureTable("all");
        w->TypeSelectionChanged = false;
        w->CmbTypeSelect.setListIndex(index);
        EXPECT_TRUE(w->TypeSelectionChanged);
        EXPECT_EQ(w->TypeSelectIndex, index);
        EXPECT_FALSE(HasSignatureRows(SignatureTable));
    };

    w->LvwTypes.setItemChecked(rowsNamed("PDF")[0], true);
    choose("Nikon");
    EXPECT_EQ(tickedNames(), (std::set<QString>{"NEF", "JPG", "TIF"}));
    EXPECT_TRUE(allTicked(rowsNamed("JPG"), true)) << "all origins";
    choose("Minolta");
    EXPECT_TRUE(allTicked(rowsNamed("JPE"), true));
    EXPECT_TRUE(allTicked(rowsNamed("THM"), true));
    EXPECT_TRUE(allTicked(rowsNamed("JPG"), true));
    EXPECT_FALSE(tickedNames().count("NEF"));
    choose("Canon");
    EXPECT_TRUE(allTicked(rowsNamed("TIF"), true));
    EXPECT_TRUE(allTicked(rowsNamed("CR2"), true)) << "presets bypass the exclusions";
    choose("All sound types");
    EXPECT_EQ(tickedNames(), (std::set<QString>{"MP3", "WAV"}));
    choose("All raw types");
    EXPECT_TRUE(tickedNames().count("NEF") && tickedNames().count("CR2") && !tickedNames().count("JPG"));
    choose("All camera's");
    EXPECT_TRUE(tickedNames().count("THM") && tickedNames().count("NEF") && tickedNames().count("JPG"));
    choose("All types possible");
    for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
        EXPECT_TRUE(w->LvwTypes.ItemChecked(i)) << w->LvwTypes.ItemText(i).toStdString();
    choose("Deselect");
    EXPECT_TRUE(tickedNames().empty());
}

TEST_F(TypeList, SizeEntrySetsTheLimits)
{
    w->FillTypeList();
    w->CmbTypeSelect.setVisible(true);
    w->lblStatus.setCaption("File sizes: unlimited");
    w->LvwTypes.setItemChecked(rowsNamed("NEF")[0], true);
    w->TypeSelectionChanged = false;
    BuildSignatureTable("all");
    {
        InputScript input({"25", "-5", "1,5-25"});
        MessageScript notice;
        notice.expect(plat::id::OK, "Limited: file size 1.5-25 MB");
        w->CmbTypeSelect.setListIndex(0);
        ASSERT_EQ(input.requests.size(), 3u) << "asked again after 25 and -5";
        EXPECT_EQ(input.requests[0].title, "Quilvane Scan");
        EXPECT_EQ(input.requests[0].defaultText, "0");
        EXPECT_TRUE(input.requests[0].prompt.startsWith("Scan for files with .. to .. MB file length only.\r\n\r\n"));
        EXPECT_TRUE(input.requests[0].prompt.endsWith("\r\n   or enter: 0 or 0-0 for unlimited."));
        ASSERT_EQ(notice.boxes().size(), 1u);
        EXPECT_EQ(notice.boxes()[0].title, "Quilvane Scan");
    }
    EXPECT_EQ(w->SizeLimitMin, 1.5);
    EXPECT_EQ(w->SizeLimitMax, 25);
    EXPECT_EQ(w->lblStatus.Caption(), "Limited: file size 1.5-25 MB");
    EXPECT_EQ(w->CmbTypeSelect.List(0), "Limited: file size 1.5-25 MB");
    EXPECT_FALSE(w->TypeSelectionChanged);
    EXPECT_TRUE(HasSignatureRows(SignatureTable)) << "the size entry leaves the table";
    EXPECT_EQ(tickedNames(), (std::set<QString>{"NEF"}));

    // The same limits again: no notice. Cancel: nothing changes.
    {
        InputScript input({"1.5-25", ""});
        MessageScript none;
        w->lblStatus_Click();
        EXPECT_EQ(input.requests[0].defaultText, "1.5-25");
        w->CmbTypeSelect.setListIndex(0);
    }
    EXPECT_EQ(w->SizeLimitMax, 25);

    // German numbers; then back to no limit.
    const QLocale old;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        InputScript input({"2,5-30"});
        MessageScript notice;
        notice.expect(plat::id::OK, "Limited: file size 2,5-30 MB");
        w->CmbTypeSelect.setListIndex(0);
        EXPECT_EQ(input.requests[0].defaultText, "1,5-25");
    }
    QLocale::setDefault(old);
    EXPECT_EQ(w->SizeLimitMin, 2.5);
    {
        InputScript input({"0"});
        MessageScript notice;
        notice.expect(plat::id::OK, "File sizes: unlimited");
        w->CmbTypeSelect.setListIndex(0);
    }
    EXPECT_EQ(w->SizeLimitMin + w->SizeLimitMax, 0);
    EXPECT_EQ(w->lblStatus.Caption(), "File sizes: unlimited");

    // A status line that shows no size state, or a hidden combo box: no box.
    {
        InputScript input({});
        MessageScript none;
        w->lblStatus.setCaption("Scanning...");
        w->lblStatus_Click();
        w->lblStatus.setCaption("File sizes: unlimited");
        w->CmbTypeSelect.setVisible(false);
        w->lblStatus_Click();
    }
}

TEST_F(TypeList, ScanTableFromTheTicksHasLearnedRowsFirst)
{
    writeLearnedTypes();
    w->FillTypeList();
    w->LvwTypes.setItemChecked(rowsNamed("XYZ")[0], true);
    w->LvwTypes.setItemChecked(rowsNamed("XYZ")[2], true);
    for (int i : rowsNamed("JPG", "Program"))
        w->LvwTypes.setItemChecked(i, true);

    const TypeListRows rows = w->TypeRows();
    ASSERT_EQ(int(rows.size()), w->LvwTypes.ItemCount());
    const auto xyz = std::find_if(rows.begin(), rows.end(), [](const TypeListRow &r) { return r.Text == "XYZ"; });
    ASSERT_NE(xyz, rows.end());
    EXPECT_EQ(xyz->Desc, QByteArray("XYZ data  "));
    EXPECT_EQ(xyz->Origin, "Adaptive");
    EXPECT_EQ(xyz->Variant, 0);
    EXPECT_EQ((xyz + 2)->Variant, 5);

    BuildScanFilter(rows);
    ASSERT_EQ(SignatureTable.size(), 2u + 18u) << "two learned rows, seventeen JPEG and one JFIF row";
    EXPECT_EQ(SignatureTable[0].Ext, ".xyz");
    EXPECT_EQ(SignatureTable[0].Sig1, "XYZ1");
    EXPECT_EQ(SignatureTable[1].Sig1, "XYZ5");
    for (size_t i = 2; i < SignatureTable.size(); ++i)
        EXPECT_EQ(SignatureTable[i].Ext, ".jpg");
    EXPECT_EQ(MakeScanFilter(rows), QByteArray(".xyzXYZ data  .xyzXYZ data  |.jpgJPEG File .jpgJFIF File |"));
}

TEST_F(TypeList, ButtonShowsSwitchesAndHidesTheList)
{
    w->LvwTypes.setWidth(20600);
    w->OperationRunning = true;
    {
        MessageScript busy;
        busy.expect(plat::id::OK, "Still busy");
        w->CmdShowScanTypes_Click();
    }
    EXPECT_EQ(w->LvwTypes.ItemCount(), 0);
    EXPECT_FALSE(w->LvwTypes.Visible());
    w->OperationRunning = false;

    w->List1.setVisible(true);
    w->CmdShowScanTypes_Click();
    EXPECT_GT(w->LvwTypes.ItemCount(), 0);
    EXPECT_EQ(w->LvwTypes.View(), plat::ListView::lvwReport);
    EXPECT_TRUE(w->LvwTypes.Visible());
    EXPECT_TRUE(w->CmbTypeSelect.Visible());
    EXPECT_FALSE(w->List1.Visible());
    EXPECT_TRUE(w->List3.Visible());
    EXPECT_TRUE(w->Picture1.Visible());
    EXPECT_DOUBLE_EQ(w->LvwTypes.ColumnWidth(1), 1300 * 1.365);
    EXPECT_DOUBLE_EQ(w->LvwTypes.ColumnWidth(9), 1200 * 1.365);
    EXPECT_EQ(w->LvwTypes.ColumnText(1), "Scan for type:");
    EXPECT_EQ(w->LvwTypes.ColumnText(3), "Origin");

    w->CmdShowScanTypes_Click();
    EXPECT_EQ(w->LvwTypes.View(), plat::ListView::lvwSmallIcon);
    EXPECT_TRUE(w->LvwTypes.Visible()) << "without the Get Started panel it only switches";

    // Over the Get Started panel: small icons, report, then hidden.
    w->Picture7.setVisible(true);
    w->CmdShowScanTypes_Click();
    EXPECT_FALSE(w->LvwTypes.Visible());
    EXPECT_FALSE(w->CmbTypeSelect.Visible());
    EXPECT_EQ(w->LvwTypes.View(), plat::ListView::lvwSmallIcon);
    w->CmdShowScanTypes_Click();
    EXPECT_TRUE(w->LvwTypes.Visible());
    EXPECT_EQ(w->LvwTypes.View(), plat::ListView::lvwReport);
    w->CmdShowScanTypes_Click();
    EXPECT_TRUE(w->LvwTypes.Visible());
    EXPECT_EQ(w->LvwTypes.View(), plat::ListView::lvwSmallIcon);
    w->CmdShowScanTypes_Click();
    EXPECT_FALSE(w->LvwTypes.Visible());

    // The button's focus shows the list; losing the focus over the panel
    // without the combo box hides it.
    w->CmdShowScanTypes_GotFocus();
    EXPECT_TRUE(w->LvwTypes.Visible());
    w->LvwTypes_FocusChanged();
    EXPECT_FALSE(w->LvwTypes.Visible());
}
