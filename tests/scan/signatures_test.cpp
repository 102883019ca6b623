// The built-in signature table: the rows a filter takes, their testing order
// and the bytes stored for the unusual signatures.
#include "scan/signatures.h"

#include "drive/strings.h"

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
// 62 to 84, 86 to 88, 12.
std::vector<int> allOrder()
{
    std::vector<int> v;
    appendRange(v, 2, 11);
    v.push_back(1);
    appendRange(v, 13, 52);
    appendRange(v, 54, 55);
    appendRange(v, 57, 60);
    appendRange(v, 62, 84);
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

TEST(SignatureTable, AllGivesTheEightyFourRowsInTestingOrder)
{
    LanguageGuard english(9);
    SignatureRows table;
    BuildSignatureTable("all", table);
    ASSERT_EQ(table.size(), 84u);
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
    EXPECT_EQ(std::count_if(table.begin(), table.end(), [](const SignatureRecord &r) { return r.SizeFieldOffset != 0; }), 1);

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
    ASSERT_EQ(table.size(), 12u);
    std::vector<int> cases = caseOrder(table);
    std::sort(cases.begin(), cases.end());
    std::vector<int> jpeg;
    appendRange(jpeg, 1, 11);
    jpeg.push_back(79);
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
    EXPECT_EQ(SignatureTable.size(), 84u);
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
    ASSERT_EQ(table.size(), 84u);
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
    EXPECT_EQ(again.size(), 12u);
    // A filter made in another language takes nothing of the translated rows.
    BuildSignatureTable(QByteArray(".jpg") + "JPEG File ", again);
    EXPECT_EQ(again.size(), 1u);
    EXPECT_FALSE(HasSignatureRows(again));
}
