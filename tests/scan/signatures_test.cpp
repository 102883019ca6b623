// The built-in signature table: the rows a filter takes, their testing order,
// the bytes stored for the unusual signatures and the heads each row takes.
#include "scan/signatures.h"

#include "drive/strings.h"
#include "scan/prefixindex.h"
#include "scan/scantable.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<int> caseOrder(const SignatureRows &table)
{
    std::vector<int> cases;
    for (const SignatureRecord &row : table)
        cases.push_back(BuiltInSignatureCase(row));
    return cases;
}

void appendRange(std::vector<int> &v, int from, int to)
{
    for (int i = from; i <= to; ++i)
        v.push_back(i);
}

// The order of all built-in rows: 2 to 11, 1, 13 to 52, 54, 55, 57 to 60,
// 62 to 84, 86 to 88, 12; each case's variants right behind it.
std::vector<int> allOrder()
{
    std::vector<int> v;
    appendRange(v, 2, 10);
    v.insert(v.end(), {10, 10, 11, 1});
    appendRange(v, 13, 23);
    v.insert(v.end(), 3, 23);
    appendRange(v, 24, 52);
    v.insert(v.end(), {52, 52, 54, 55, 57, 57});
    appendRange(v, 58, 60);
    appendRange(v, 62, 79);
    v.insert(v.end(), 3, 79);
    appendRange(v, 80, 84);
    appendRange(v, 86, 88);
    v.push_back(12);
    return v;
}

const SignatureRecord *findCase(const SignatureRows &table, int number)
{
    for (const SignatureRecord &row : table)
        if (BuiltInSignatureCase(row) == number)
            return &row;
    return nullptr;
}

struct LanguageGuard {
    int saved = CurrentLanguageId();
    explicit LanguageGuard(int id) { SetCurrentLanguageId(id); }
    ~LanguageGuard() { SetCurrentLanguageId(saved); }
};

} // namespace

TEST(SignatureTable, AllGivesTheEightyFourRowsAndTheirVariantsInTestingOrder)
{
    LanguageGuard english(9);
    SignatureRows table;
    BuildSignatureTable("all", table);
    ASSERT_EQ(table.size(), 84u + 11u);
    EXPECT_EQ(caseOrder(table), allOrder());

    // First and last rows, by their bytes.
    EXPECT_EQ(table.front().Ext, QByteArray(".jpg"));
    EXPECT_EQ(table.front().Sig1, QByteArray("\xFF\xD8\xFF\xC0"));
    EXPECT_EQ(table.front().Sig2, QByteArray("Ex"));
    EXPECT_EQ(table.back().Sig1, QByteArray("JFIF"));
    EXPECT_EQ(table.back().Desc, QByteArray("JFIF File "));

    for (const SignatureRecord &row : table) {
        EXPECT_EQ(row.Desc.size(), 10) << row.Ext.constData();
        EXPECT_TRUE(row.Sig3.isEmpty());
        EXPECT_FALSE(row.Sig1.isEmpty());
    }
}

TEST(SignatureTable, StoredBytesOfOddLongAndSpecialSignatures)
{
    LanguageGuard english(9);
    SignatureRows table;
    BuildSignatureTable("all", table);

    const SignatureRecord *psd = findCase(table, 33);
    ASSERT_TRUE(psd);
    EXPECT_EQ(psd->Sig1, QByteArray("\xC3\x84\x25\x00", 4));
    const SignatureRecord *mpg = findCase(table, 48);
    ASSERT_TRUE(mpg);
    EXPECT_EQ(mpg->Sig1, QByteArray("\x00\x00\x01\xBA", 4));   // the pack start code
    EXPECT_EQ(mpg->Sig2, QByteArray("\x21\x00\x01\x00", 4));

    const SignatureRecord *doc = findCase(table, 52);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->Sig1, QByteArray::fromHex("D0CF11E0A1B11AE10000000000000000"));
    ASSERT_EQ(doc->Sig2.size(), 294);
    EXPECT_EQ(doc->Sig2, QByteArray(2, '\0') + QByteArray(292, '\xFF'));
    EXPECT_EQ(doc->Sig4, QByteArray("MSWordDoc"));
    for (const SignatureRecord &row : table) {
        if (&row != doc) {
            EXPECT_TRUE(row.Sig4.isEmpty());
        }
    }

    for (int xmp : {41, 82}) {
        const SignatureRecord *dng = findCase(table, xmp);
        ASSERT_TRUE(dng);
        EXPECT_EQ(dng->Ext, QByteArray(".dng"));
        EXPECT_EQ(dng->Sig2, QByteArray("ns.adobe.com"));
    }

    const SignatureRecord *bmp = findCase(table, 23);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->SizeFieldOffset, 2);
    EXPECT_EQ(bmp->SizeFieldOrder, 2);
    EXPECT_EQ(bmp->Sig2, QByteArray("\x28\0\0\0", 4));
    for (const SignatureRecord &row : table)
        EXPECT_EQ(row.SizeFieldOffset != 0, row.Ext == ".bmp");

    const SignatureRecord *psw = findCase(table, 62);
    ASSERT_TRUE(psw);
    EXPECT_EQ(psw->Desc, QByteArray("XP Passwor"));
    EXPECT_EQ(psw->Sig1, QByteArray("MSRB"));

    const SignatureRecord *cr2 = findCase(table, 14);
    ASSERT_TRUE(cr2);
    EXPECT_EQ(cr2->Sig1, QByteArray("II*\0\x10\0\0\0CR", 10));
    EXPECT_EQ(cr2->Sig2, QByteArray("Canon"));
    const SignatureRecord *sr2 = findCase(table, 71);
    ASSERT_TRUE(sr2);
    EXPECT_EQ(sr2->Sig2, QByteArray("SONY\0\0DSC-R1", 12));
    const SignatureRecord *pixar = findCase(table, 36);
    ASSERT_TRUE(pixar);
    EXPECT_EQ(pixar->Ext, QByteArray(".pixar"));
    EXPECT_EQ(pixar->Desc, QByteArray("PixarFile "));
}

TEST(SignatureTable, FilterTakesRowsByExtensionAndDescription)
{
    LanguageGuard english(9);
    SignatureRows table;
    BuildSignatureTable(QByteArray(".jpg") + "JPEG File ", table);
    ASSERT_EQ(table.size(), 17u);
    std::vector<int> cases = caseOrder(table);
    std::sort(cases.begin(), cases.end());
    std::vector<int> jpeg;
    appendRange(jpeg, 1, 10);
    jpeg.insert(jpeg.end(), {10, 10, 11, 79, 79, 79, 79});
    EXPECT_EQ(cases, jpeg);
    for (const SignatureRecord &row : table)
        EXPECT_EQ(row.Desc, QByteArray("JPEG File "));

    // Case-sensitive, and a filter that takes nothing leaves one empty row.
    for (const QByteArray &none : {QByteArray(".JPGJPEG File "), QByteArray(".jpgjpeg file "), QByteArray(),
                                   QByteArray("ALL"), QByteArray("jpg tif ")}) {
        BuildSignatureTable(none, table);
        ASSERT_EQ(table.size(), 1u) << none.constData();
        EXPECT_EQ(table.front(), SignatureRecord{});
        EXPECT_FALSE(HasSignatureRows(table));
    }

    // The one-step reordering: a later 4-byte first signature stays behind an
    // earlier 8-byte one; a later 5-byte one moves in front of it.
    BuildSignatureTable(QByteArray(".rafFuji  Raw .x3fFOVb  Raw "), table);
    EXPECT_EQ(caseOrder(table), (std::vector<int>{21, 22}));
    BuildSignatureTable(QByteArray(".msvMemStickV .dngDNG gnrc1 "), table);
    EXPECT_EQ(caseOrder(table), (std::vector<int>{80, 42}));

    // The global table of the main window.
    BuildSignatureTable("all");
    EXPECT_EQ(SignatureTable.size(), 95u);
    ClearSignatureTable(SignatureTable);
    EXPECT_EQ(SignatureTable.size(), 1u);
}

TEST(SignatureTable, GermanDescriptionsSelectTheSameRows)
{
    SignatureRows english;
    {
        LanguageGuard en(9);
        BuildSignatureTable("all", english);
    }
    LanguageGuard german(1031);
    SignatureRows table;
    BuildSignatureTable("all", table);
    ASSERT_EQ(table.size(), 95u);
    EXPECT_EQ(caseOrder(table), allOrder());
    EXPECT_EQ(findCase(table, 1)->Desc, QByteArray("JPEG Datei"));
    EXPECT_EQ(findCase(table, 66)->Desc, QByteArray("JPG Mini  "));
    EXPECT_EQ(findCase(table, 14)->Desc, QByteArray("Canon Raw "));

    // A filter made from the German rows takes the same rows in the same order.
    QByteArray filter;
    for (const SignatureRecord &row : table)
        filter += row.Ext + row.Desc;
    SignatureRows again;
    BuildSignatureTable(filter, again);
    EXPECT_EQ(again, table);

    BuildSignatureTable(QByteArray(".jpg") + "JPEG Datei", again);
    EXPECT_EQ(again.size(), 17u);
    // A filter made in another language takes nothing of the translated rows.
    BuildSignatureTable(QByteArray(".jpg") + "JPEG File ", again);
    EXPECT_EQ(again.size(), 1u);
    EXPECT_FALSE(HasSignatureRows(again));
}

namespace {

// A unit's first KiB: `start`, then filler, with `at` placed at its offset.
QByteArray firstKiB(const QByteArray &start, std::initializer_list<std::pair<int, QByteArray>> at = {})
{
    QByteArray unit = start + QByteArray(1024 - start.size(), 'U');
    for (const auto &[offset, bytes] : at)
        unit.replace(offset, bytes.size(), bytes);
    return unit;
}

} // namespace

// The ways today's tools write the table's types: each head is taken by the
// row meant for it, with the row's extension and description, in the table
// the scan builds from "all" built-in rows ticked; a head that only looks
// like one is not.
TEST(SignatureTable, TodaysWaysOfWritingAFileAreTakenByTheirRows)
{
    LanguageGuard english(9);
    QByteArray filter;
    SignatureRows table;
    BuildScanFilter(BuiltInTypeRows(), filter, table);
    ASSERT_EQ(table.size(), 95u);
    const SignaturePrefixIndex index(table);
    auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    const QByteArray xmp("http://ns.adobe.com/xap/1.0/");
    // Compound file headers without the DOC row's run of free allocation slots.
    const QByteArray ole = hex("D0CF11E0A1B11AE100000000000000000000000000000000");
    const QByteArray dngEntry = hex("C612000100000004") + hex("01040000");
    const QByteArray tiffEntry = hex("0100000400000001") + hex("00000040");
    struct Case {
        const char *what;
        QByteArray unit;
        QByteArray ext, desc, sig1;   // sig1 empty: no row
    } cases[] = {
        {"tables first", firstKiB(hex("FFD8FFDB004300"), {{140, hex("FFC4001F00")}}), ".jpg", "JPEG File ",
         hex("FFD8FFDB")},
        {"tables without Huffman tables", firstKiB(hex("FFD8FFDB004300")), "", "", ""},
        {"a comment first", firstKiB(hex("FFD8FFFE0010") + "Lavc59.37.100" + hex("00FFDB0043")), ".jpg",
         "JPEG File ", hex("FFD8FFFE")},
        {"CMYK, Adobe first", firstKiB(hex("FFD8FFEE000E") + "Adobe" + hex("00640000000002FFDB")), ".jpg",
         "JPEG File ", hex("FFD8FFEE")},
        {"IPTC first", firstKiB(hex("FFD8FFED002C") + "Photoshop 3.0" + hex("00") + "8BIM"), ".jpg", "JPEG File ",
         hex("FFD8FFED")},
        {"XMP first", firstKiB(hex("FFD8FFE10B27") + xmp + hex("00") + "<?xpacket begin="), ".jpg", "JPEG File ",
         hex("FFD8FFE1")},
        {"XMP elsewhere", firstKiB(hex("FFD8FFE10B27") + "http://ns.adobe.com/xmp/"), "", "", ""},
        {"a compound file of version 3", firstKiB(ole + hex("3E000300FEFF0900060000")), ".doc",
         "DOC  File ", hex("D0CF11E0A1B11AE10000000000000000")},
        {"a compound file of version 4", firstKiB(ole + hex("3E000400FEFF0C00060000")), ".doc",
         "DOC  File ", hex("D0CF11E0A1B11AE10000000000000000")},
        {"RAR 5", firstKiB(hex("526172211A0701003306B3E5")), ".rar", "RAR  File ", hex("526172211A070100")},
        {"RAR 4 with a main header of its own", firstKiB(hex("526172211A07005A2E7309000D00")), ".rar",
         "RAR  File ", hex("526172211A0700")},
        {"BMP, version 4 header", firstKiB(hex("424D7A2400000000000000007A0000006C000000")), ".bmp", "BMP  File ",
         hex("424D")},
        {"BMP, version 5 header", firstKiB(hex("424D8A2400000000000000008A0000007C000000")), ".bmp", "BMP  File ",
         hex("424D")},
        {"BMP, OS/2 header", firstKiB(hex("424D1A240000000000001A0000000C000000")), ".bmp", "BMP  File ", hex("424D")},
        {"DNG", firstKiB(hex("4D4D002A00000008000E") + tiffEntry + dngEntry), ".dng", "DNG gnrc2 ",
         hex("4D4D002A0000000800")},
        {"big-endian TIFF", firstKiB(hex("4D4D002A00000008000E") + tiffEntry + tiffEntry), ".tif", "TIFF File ",
         hex("4D4D002A")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto p = reinterpret_cast<const unsigned char *>(c.unit.constData());
        const int row = index.match(p, 512, p, 1024);
        if (c.sig1.isEmpty()) {
            EXPECT_EQ(row, -1);
            continue;
        }
        ASSERT_GE(row, 0);
        EXPECT_EQ(table[size_t(row)].Ext, c.ext);
        EXPECT_EQ(table[size_t(row)].Desc, c.desc);
        EXPECT_EQ(table[size_t(row)].Sig1, c.sig1);
    }
}
