// The scan table from the ticks of the type list: the filter text, learned
// rows in front and ordered, the built-in rows ordered among themselves, and
// DeepScan's auxiliary table.
#include "scan/scantable.h"

#include "drive/strings.h"
#include "platform/paths.h"
#include "scan/learnedtypes.h"
#include "tests/scan/scan_images.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The list's built-in rows as the type list shows them: one per distinct
// extension and description.
TypeListRows builtInRows(bool ticked)
{
    SignatureRows all;
    BuildSignatureTable("all", all);
    TypeListRows rows;
    QByteArray listed;
    for (const SignatureRecord &r : all) {
        if (listed.contains(r.Ext + r.Desc))
            continue;
        listed += r.Ext + r.Desc;
        rows.push_back({r.Ext.mid(1).toUpper(), r.Desc, ProgramOrigin(), 0, ticked});
    }
    return rows;
}

TypeListRow learnedRow(const QByteArray &type, int variant, bool ticked)
{
    return {type.toUpper(), FixedDescription(type.toUpper()), AdaptiveOrigin(), variant, ticked};
}

void tick(TypeListRows &rows, const QByteArray &text, bool on = true)
{
    for (TypeListRow &r : rows)
        if (r.Text == text && r.Origin == ProgramOrigin())
            r.Checked = on;
}

std::vector<int> caseOrder(const SignatureRows &table, size_t from = 0)
{
    std::vector<int> cases;
    for (size_t i = from; i < table.size(); ++i)
        cases.push_back(BuiltInSignatureCase(table[i]));
    return cases;
}

std::vector<int> cases(std::initializer_list<std::pair<int, int>> ranges)
{
    std::vector<int> v;
    for (auto [from, to] : ranges)
        for (int i = from; i <= to; ++i)
            v.push_back(i);
    return v;
}

class ScanTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetCurrentLanguageId(9);
        QDir(plat::toNative(LearnedTypesFolder())).removeRecursively();
    }
    void TearDown() override { QDir(plat::toNative(LearnedTypesFolder())).removeRecursively(); }

    // A learned type: variant 0 with a 4-byte Sig1, variant 1 with 3 bytes
    // (not usable), variant 2 whose Sig1 begins with variant 0's, variant 4
    // usable but not listed. Written enciphered.
    static void writeXyz()
    {
        LearnedTypeRecord r;
        r.Ext = ".xyz";
        r.Desc = "XYZ       ";
        r.Sig1[0] = "XYZ!";
        r.Sig2[0] = "body";
        r.Sig1[1] = "XY!";
        r.Sig1[2] = "XYZ!\x01\x02";
        r.SizeFieldOffset[2] = 8;
        r.SizeFieldOrder[2] = 1;
        r.Sig1[4] = "QQQQ";
        for (int v : {0, 1, 2, 4}) {
            r.Matches[size_t(v)] = 9;
            r.Analysed[size_t(v)] = 10;
        }
        ASSERT_TRUE(WriteLearnedTypeRecord(LearnedTypeFileName(".xyz"), r));
        LearnedTypeRecord out;
        ASSERT_EQ(ConvertLearnedTypeRecord(LearnedTypeFileName(".xyz"), false, out), LearnedTypeStatus::Ok);
        ASSERT_TRUE(out.isEnciphered());
    }
};

} // namespace

TEST_F(ScanTable, FilterHoldsLearnedThenBuiltInEntries)
{
    TypeListRows rows = builtInRows(false);
    rows.push_back(learnedRow("xyz", 0, true));
    rows.push_back(learnedRow("xyz", 2, true));
    rows.push_back(learnedRow("abc", 0, false));
    tick(rows, "JPG");
    tick(rows, "TIF");
    EXPECT_EQ(MakeScanFilter(rows),
              QByteArray(".xyzXYZ       .xyzXYZ       |.jpgJPEG File .tifTIFF File .jpgJFIF File |"));
    EXPECT_EQ(MakeScanFilter(builtInRows(false)), QByteArray("||"));

    // The filter from the German list names the German descriptions and the
    // German origin text.
    SetCurrentLanguageId(1031);
    TypeListRows german = builtInRows(false);
    tick(german, "PNG");
    EXPECT_EQ(german.front().Origin, QStringLiteral("Programm"));
    EXPECT_EQ(MakeScanFilter(german), QByteArray("|.pngPNG  Datei|"));
    BuildScanFilter(german);
    EXPECT_EQ(ScanTypeFilter, QByteArray(".pngPNG  Datei"));
    ASSERT_EQ(SignatureTable.size(), 1u);
    EXPECT_EQ(SignatureTable[0].Sig1, QByteArray("\x89PNG"));
    ClearSignatureTable(SignatureTable);
}

TEST_F(ScanTable, AllBuiltInRowsInScanOrder)
{
    QByteArray filter;
    SignatureRows table;
    BuildScanFilter(builtInRows(true), filter, table);
    EXPECT_FALSE(filter.contains('|'));
    ASSERT_EQ(table.size(), 84u + 11u);
    // Longer signatures before the shorter ones they begin with; a case's
    // variants show as its number.
    const std::vector<int> expected = cases({{2, 3}, {66, 66}, {79, 79}, {4, 10}, {67, 67}, {1, 1}, {10, 10},
                                             {10, 11}, {13, 16}, {73, 75}, {69, 69}, {81, 81}, {19, 19},
                                             {17, 17}, {71, 72}, {70, 70}, {18, 18}, {20, 23}, {23, 23},
                                             {23, 23}, {23, 23}, {24, 25}, {82, 82}, {26, 26}, {77, 77},
                                             {41, 41}, {80, 80}, {27, 40}, {42, 42}, {46, 46}, {76, 76},
                                             {43, 45}, {47, 52}, {52, 52}, {52, 52}, {54, 55}, {83, 83},
                                             {57, 57}, {57, 60}, {62, 65}, {68, 68}, {88, 88}, {78, 79},
                                             {79, 79}, {79, 79}, {84, 84}, {86, 87}, {12, 12}});
    EXPECT_EQ(caseOrder(table), expected);
    // No row is hidden by an earlier row whose signatures it extends.
    for (size_t i = 0; i < table.size(); ++i)
        for (size_t k = 0; k < i; ++k)
            EXPECT_FALSE(table[i].Sig1.startsWith(table[k].Sig1)
                         && (table[i].Sig1.size() > table[k].Sig1.size() || table[i].Sig2.size() > table[k].Sig2.size()))
                << BuiltInSignatureCase(table[i]) << " behind " << BuiltInSignatureCase(table[k]);
}

TEST_F(ScanTable, LearnedRowsComeFirstOrderedAndDeciphered)
{
    writeXyz();
    TypeListRows rows = builtInRows(false);
    rows.push_back(learnedRow("xyz", 0, true));
    rows.push_back(learnedRow("xyz", 1, true));
    rows.push_back(learnedRow("xyz", 2, true));
    tick(rows, "JPG");

    QByteArray filter;
    SignatureRows table;
    BuildScanFilter(rows, filter, table);
    EXPECT_EQ(filter, QByteArray(".jpgJPEG File .jpgJFIF File "));
    ASSERT_EQ(table.size(), 2u + 18u);
    // Variant 2 begins with variant 0 and is longer: it comes first.
    EXPECT_EQ(table[0].Sig1, QByteArray("XYZ!\x01\x02"));
    EXPECT_EQ(table[0].SizeFieldOffset, 8);
    EXPECT_EQ(table[0].SizeFieldOrder, 1);
    EXPECT_EQ(table[1].Sig1, QByteArray("XYZ!"));
    EXPECT_EQ(table[1].Sig2, QByteArray("body"));
    for (int i : {0, 1}) {
        EXPECT_EQ(table[size_t(i)].Ext, QByteArray(".xyz"));
        EXPECT_EQ(table[size_t(i)].Desc, QByteArray("XYZ       "));
    }
    std::vector<int> builtIn = caseOrder(table, 2);
    EXPECT_EQ(builtIn, cases({{2, 3}, {79, 79}, {4, 10}, {1, 1}, {10, 10}, {10, 11}, {79, 79}, {79, 79}, {79, 79},
                              {12, 12}}));

    // Only variants whose list row is ticked give rows; a learned type named
    // in the filter without any ticked row gives none.
    rows[rows.size() - 3].Checked = false;   // variant 0
    BuildScanFilter(rows, filter, table);
    ASSERT_EQ(table.size(), 1u + 18u);
    EXPECT_EQ(table[0].Sig1, QByteArray("XYZ!\x01\x02"));
    QByteArray named = ".xyzXYZ       |";
    LoadScanTypes(named, builtInRows(false), table);
    EXPECT_EQ(named, QByteArray());
    ASSERT_EQ(table.size(), 1u);
    EXPECT_FALSE(HasSignatureRows(table));

    // A filter of learned entries only gives no built-in row.
    rows[rows.size() - 3].Checked = true;
    QByteArray learnedOnly = ".xyzXYZ       |";
    LoadScanTypes(learnedOnly, rows, table);
    EXPECT_EQ(table.size(), 2u);
    // Nor does the learned part select built-in rows, nor the built-in part learned ones.
    QByteArray builtInOnly = "|.xyzXYZ       .jpgJFIF File |";
    LoadScanTypes(builtInOnly, rows, table);
    EXPECT_EQ(builtInOnly, QByteArray(".xyzXYZ       .jpgJFIF File "));
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].Sig1, QByteArray("JFIF"));

    // Extensions without dots and "|" take nothing.
    QByteArray plain = "jpg xyz ";
    LoadScanTypes(plain, rows, table);
    EXPECT_EQ(plain, QByteArray());
    EXPECT_EQ(table.size(), 1u);
    EXPECT_FALSE(HasSignatureRows(table));
}

TEST_F(ScanTable, DamagedLearnedFileGivesNoRows)
{
    writeXyz();
    const QString native = plat::toNative(LearnedTypesFolder() + LearnedTypeFileName("xyz"));
    QFile f(native);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.resize(f.size() / 2));
    f.close();
    TypeListRows rows = builtInRows(false);
    rows.push_back(learnedRow("xyz", 0, true));
    tick(rows, "PNG");
    QByteArray filter;
    SignatureRows table;
    BuildScanFilter(rows, filter, table);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].Ext, QByteArray(".png"));
}

// A hand-written learned-type file whose variants start with the bytes of
// empty or erased stretches, all ticked and "reliable": none gives a row,
// and a zero-filled medium scanned with the table finds nothing.
TEST_F(ScanTable, LearnedVariantsThatMatchEmptyStretchesGiveNoRows)
{
    LearnedTypeRecord r;
    r.Ext = ".zz";
    r.Desc = "ZZ        ";
    const QByteArray starts[] = {QByteArray(4, '\0'), QByteArray(8, '\xFF'), QByteArray::fromHex("0000FFFF"),
                                 QByteArray::fromHex("00000000000000000000000000000001"), "ZZ\x01\x02"};
    for (size_t v = 0; v < 5; ++v) {
        r.Sig1[v] = starts[v];
        r.Matches[v] = 94;
        r.Analysed[v] = 100;
    }
    ASSERT_TRUE(WriteLearnedTypeRecord(LearnedTypeFileName(".zz"), r));
    TypeListRows rows = builtInRows(false);
    for (int v = 0; v < 5; ++v)
        rows.push_back(learnedRow("zz", v, true));
    QByteArray filter;
    SignatureRows table;
    BuildScanFilter(rows, filter, table);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].Sig1, QByteArray("ZZ\x01\x02"));

    const QString dir = testing_support::makeTempDir("zeros");
    testing_support::writeFileBytes(dir + "/zero.img", QByteArray(8 << 20, '\0'));
    const QString cache = testing_support::makeTempDir("cache");
    ScanOptions opt;
    opt.cacheFolder = scan_images::cacheInternal(cache);
    opt.freeMemoryMB = 0;
    FoundFileList found;
    ScanCallbacks cb = scan_images::quietCallbacks();
    ScanEngine engine(scan_images::imageSource(dir + "/zero.img"), table, opt, cb, found);
    EXPECT_EQ(engine.run().end, ScanEnd::Wiped);
    EXPECT_TRUE(found.FoundFileNames.isEmpty());
    EXPECT_TRUE(QDir(cache).entryList(QDir::Files).isEmpty());
}

TEST_F(ScanTable, AuxiliaryTableHoldsTheUntickedTypesOfDeletedEntries)
{
    writeXyz();
    TypeListRows rows = builtInRows(false);
    rows.push_back(learnedRow("xyz", 0, false));
    tick(rows, "JPG");
    const std::vector<DeletedEntryFacts> entries = {
        {"?MG_0001.JPG", 32, 1000, 1000},   // ticked already
        {"?SC_0002.TIF", 32, 5000, 4096},   // taken
        {"?SC_0003.tif", 32, 5000, 4096},   // taken once
        {"?OLDER.PNG", 16, 512, 512},       // a folder
        {"?MPTY.MP3", 32, 0, 0},            // no data
        {"?OST.WAV", 32, 800, 0},           // nothing recoverable
        {"?NKNOWN.QQQ", 32, 800, 800},      // not in the list
        {"?NODOT", 32, 800, 800},
        {"?AMPLE.XYZ", 32, 800, 800},       // a learned type
    };
    ClearSignatureTable(SignatureTable);
    SignatureTable[0].Ext = ".keep";
    const SignatureRows before = SignatureTable;

    SignatureRows aux;
    CheckSelectedTypes(aux, rows, entries);
    EXPECT_EQ(SignatureTable, before);
    ASSERT_TRUE(HasSignatureRows(aux));
    // The learned rows of XYZ first, then the two TIFF rows.
    ASSERT_EQ(aux.size(), 3u);
    EXPECT_EQ(aux[0].Ext, QByteArray(".xyz"));
    EXPECT_EQ(aux[0].Sig1, QByteArray("XYZ!"));
    EXPECT_EQ(caseOrder(aux, 1), (std::vector<int>{27, 26}));

    // Nothing to add: one empty row.
    tick(rows, "TIF");
    rows.back().Checked = true;
    CheckSelectedTypes(aux, rows, entries);
    ASSERT_EQ(aux.size(), 1u);
    EXPECT_FALSE(HasSignatureRows(aux));
    CheckSelectedTypes(aux, rows, {});
    ASSERT_EQ(aux.size(), 1u);
    EXPECT_EQ(SignatureTable, before);
    ClearSignatureTable(SignatureTable);
}

TEST_F(ScanTable, OrderRuleMovesLongerRowsInFront)
{
    auto row = [](const char *s1, const char *s2) {
        SignatureRecord r;
        r.Sig1 = s1;
        r.Sig2 = s2;
        return r;
    };
    SignatureRows rows = {row("AB", ""), row("ABC", ""), row("AB", "x"), row("Z", ""), row("ABCD", "")};
    OrderSignatureRows(rows, 0, rows.size());
    QByteArrayList order;
    for (const SignatureRecord &r : rows)
        order << r.Sig1 + "/" + r.Sig2;
    EXPECT_EQ(order, (QByteArrayList{"ABCD/", "ABC/", "AB/x", "AB/", "Z/"}));
    // Rows before the start stay where they are.
    SignatureRows part = {row("A", ""), row("AB", ""), row("ABC", "")};
    OrderSignatureRows(part, 1, part.size());
    EXPECT_EQ(part[0].Sig1, QByteArray("A"));
    EXPECT_EQ(part[1].Sig1, QByteArray("ABC"));
}
