#include "scan/signatures.h"

#include "drive/strings.h"
#include "platform/text.h"
#include "scan/rijndael.h"

SignatureRows SignatureTable(1);

namespace {

// One case of the built-in list. Signatures are hex texts; textId 0 marks a
// description that is the same in every language.
struct BuiltInCase {
    int number;
    const char *ext;
    int textId;
    const char *desc;
    const char *sig1;
    const char *sig2;
    const char *sig4;
    int16_t sizeFieldOffset;
    int16_t sizeFieldOrder;
};

// The host of the XMP namespace URIs, "ns.adobe.com", as XMP packets hold it.
constexpr const char *XmpHost = "6E732E61646F62652E636F6D";
constexpr const char *WordDocSig4 = "4D53576F7264446F63";   // MSWordDoc

// The XMP namespace URI that opens an APP1 segment holding an XMP packet.
constexpr const char *XmpNamespace = "687474703A2F2F6E732E61646F62652E636F6D2F7861702F312E302F";

// Cases 0, 53, 56, 61, 85, 89 and 90 are empty and give no row. Case 52's
// second signature is built separately (00 00 and 292 bytes FF). A case may
// be followed by variants of itself (the same number, extension and
// description): other ways today's tools write the type.
constexpr BuiltInCase BuiltInCases[] = {
    {1, ".jpg", 449, "JPEG File", "FFD8FFDB00C50010", "", "", 0, 0},
    {2, ".jpg", 449, "JPEG File", "FFD8FFC0", "4578", "", 0, 0},
    {3, ".jpg", 449, "JPEG File", "FFD8DDE0", "4578", "", 0, 0},
    {4, ".jpg", 449, "JPEG File", "FFD8FFE1", "4578", "", 0, 0},
    {5, ".jpg", 449, "JPEG File", "FFD8FFE0", "4578", "", 0, 0},
    {6, ".jpg", 449, "JPEG File", "FFD8FFC0", "4A46", "", 0, 0},
    {7, ".jpg", 449, "JPEG File", "FFD8DDE0", "4A46", "", 0, 0},
    {8, ".jpg", 449, "JPEG File", "FFD8FFE1", "4A46", "", 0, 0},
    {9, ".jpg", 449, "JPEG File", "FFD8FFE0", "4A46", "", 0, 0},
    {10, ".jpg", 449, "JPEG File", "FFD8FFDB00840006", "", "", 0, 0},
    {10, ".jpg", 449, "JPEG File", "FFD8FFDB", "FFC4", "", 0, 0},        // tables first, no APPn
    {10, ".jpg", 449, "JPEG File", "FFD8FFFE", "FFDB", "", 0, 0},        // a comment first
    {11, ".jpg", 449, "JPEG File", "4578696620204949", "", "", 0, 0},
    {12, ".jpg", 450, "JFIF File", "4A464946", "", "", 0, 0},
    {13, ".mrw", 0, "KM    Raw", "004D524D", "", "", 0, 0},
    {14, ".cr2", 0, "Canon Raw", "49492A00100000004352", "43616E6F6E", "", 0, 0},
    {15, ".crw", 0, "Canon Raw", "49491A000000", "4845415043434452", "", 0, 0},
    {16, ".crw", 0, "Canon Raw", "4D4D0000001A", "4845415043434452", "", 0, 0},
    {17, ".nef", 0, "Nikon Raw", "4D4D002A0000000800", "4E494B4F4E", "", 0, 0},
    {18, ".nef", 0, "Nikon Raw", "49492A0008", "4E494B4F4E", "", 0, 0},
    {19, ".pef", 0, "Pentax Raw", "4D4D002A0000000800", "50454E544158", "", 0, 0},
    {20, ".orf", 0, "Olymp Raw", "494952", "4F4C594D50", "", 0, 0},
    {21, ".raf", 0, "Fuji  Raw", "46554A4946494C4D", "", "", 0, 0},
    {22, ".x3f", 0, "FOVb  Raw", "464F5662", "", "", 0, 0},
    {23, ".bmp", 0, "BMP  File", "424D", "28000000", "", 2, 2},
    {23, ".bmp", 0, "BMP  File", "424D", "6C000000", "", 2, 2},   // version 4 info header
    {23, ".bmp", 0, "BMP  File", "424D", "7C000000", "", 2, 2},   // version 5 info header
    {23, ".bmp", 0, "BMP  File", "424D", "0C000000", "", 2, 2},   // OS/2 core header
    {24, ".gif", 452, "GIF  File", "474946383761", "", "", 0, 0},
    {25, ".gif", 0, "GIF  File", "474946383961", "", "", 0, 0},
    {26, ".tif", 453, "TIFF File", "49492A00", "", "", 0, 0},
    {27, ".tif", 453, "TIFF File", "4D4D002A", "", "", 0, 0},
    {28, ".png", 454, "PNG  File", "89504E47", "", "", 0, 0},
    {29, ".mov", 455, "MOV  File", "6D646174", "", "", 0, 0},   // box types: the unit test reads
    {30, ".mov", 455, "MOV  File", "6D6F6F76", "", "", 0, 0},   // the movie's boxes (prefixindex.h)
    {31, ".dss", 456, "DCC  File", "02647373", "", "", 0, 0},
    {32, ".psd", 457, "PSD  File", "38425053000100000000000000", "", "", 0, 0},
    {33, ".psd", 457, "PSD  File", "C384250", "", "", 0, 0},
    {34, ".eps", 458, "EPS  File", "C5D0D3", "", "", 0, 0},
    {35, ".pcx", 459, "PCX  File", "0A0501", "", "", 0, 0},
    {36, ".pixar", 460, "PixarFile", "80E8000001", "", "", 0, 0},
    {37, ".raw", 461, "RAW  File", "EBF1EDE9", "", "", 0, 0},
    {38, ".xmd", 464, "Meta File", "786D706D65746120786D", "", "", 0, 0},
    {39, ".jbf", 467, "Jasc File", "4A6173632042726F7773652046696C65", "", "", 0, 0},
    {40, ".psp", 470, "PSP  File", "5061696E742053686F702050726F", "", "", 0, 0},
    {41, ".dng", 0, "ADOBE Raw", "4D4D002A00", XmpHost, "", 0, 0},
    {42, ".msv", 0, "MemStickV", "4D535F564F494345", "", "", 0, 0},
    {43, ".avi", 479, "AVI  File", "52494646", "415649", "", 0, 0},
    {44, ".mp3", 483, "MP3  File", "FFFB30", "", "", 0, 0},
    {45, ".mp3", 483, "MP3  File", "FFFB904400000000004B", "", "", 0, 0},
    {46, ".wav", 487, "WAV  File", "52494646", "57415645", "", 0, 0},
    {47, ".mp3", 483, "MP3  File", "494433", "", "", 0, 0},
    {48, ".mpg", 491, "MPG  File", "000001BA", "21000100", "", 0, 0},   // the pack start code
    {49, ".asf", 495, "ASF  File", "3026B2758E66CF11", "", "", 0, 0},
    {50, ".wmv", 498, "WMV  File", "3026B2758E66", "", "", 0, 0},
    {51, ".wav", 487, "WAV  File", "57415645666D74", "", "", 0, 0},
    {52, ".doc", 501, "DOC  File", "D0CF11E0A1B11AE10000000000000000", nullptr, WordDocSig4, 0, 0},
    // The compound file's version, byte order and sector size, whatever its size.
    {52, ".doc", 501, "DOC  File", "D0CF11E0A1B11AE10000000000000000", "0300FEFF0900", "", 0, 0},
    {52, ".doc", 501, "DOC  File", "D0CF11E0A1B11AE10000000000000000", "0400FEFF0C00", "", 0, 0},
    {54, ".wk4", 507, "LotusFile", "00001A00021004", "", "", 0, 0},
    {55, ".pdf", 510, "PDF  File", "25504446", "", "", 0, 0},
    {57, ".rar", 516, "RAR  File", "526172211A0700", "", "", 0, 0},
    {57, ".rar", 516, "RAR  File", "526172211A070100", "", "", 0, 0},   // RAR 5
    {58, ".cab", 519, "CAB  File", "4D534346", "", "", 0, 0},
    {59, ".mdb", 522, "MDB  File", "000100005374616E64617264204A65", "", "", 0, 0},
    {60, ".exe", 524, "EXE  File", "4D5A90000300000004000000FFFF0000", "00000000000000000000000000000000", "", 0, 0},
    {62, ".psw", 0, "XP Password", "4D535242", "52534132", "", 0, 0},
    {63, ".swf", 528, "SWF  File", "46575304", "", "", 0, 0},
    {64, ".rdc", 0, "Rollei Raw", "4453432D496D616765", "", "", 0, 0},
    {65, ".kdc", 0, "Kodak KDC", "0125000000000000", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "", 0, 0},
    {66, ".thm", 542, "JPG Thumb", "FFD8FFE107", "43616E6F6E", "", 0, 0},
    {67, ".thm", 542, "JPG Thumb", "FFD8FFDB00C500100A0A10182832", "2A3435363738393A", "", 0, 0},
    {68, ".cr2", 0, "CR2 File", "7B0D0D76657273696F6E", "", "", 0, 0},
    {69, ".mef", 0, "Mamiya Raw", "4D4D002A0000000800", "4D616D6979612D4F50", "", 0, 0},
    {70, ".arw", 0, "Sony  Raw", "49492A0008000000", "44534C522D", "", 0, 0},
    {71, ".sr2", 0, "Sony Raw", "49492A00080000000F00", "534F4E5900004453432D5231", "", 0, 0},
    {72, ".srf", 0, "Sony Raw", "49492A0008000000", "534F4E590000445343", "", 0, 0},
    {73, ".pef", 0, "Pentax Raw", "4D4D002A0000000800", "50454E54415820436F72706F726174696F6E", "", 0, 0},
    {74, ".dng", 0, "Olympus Rw", "4D4D002A0000000800", "4F4C594D505553204449474954414C", "", 0, 0},
    {75, ".dng", 0, "Samsung Rw", "4D4D002A0000000800", "53414D53554E47205445434857494E", "", 0, 0},
    {76, ".cdr", 0, "CorelDRAW", "52494646", "43445241", "", 0, 0},
    {77, ".dcr", 0, "Kodak Raw", "4D4D002A0000", "4B6F64616B", "", 0, 0},
    {78, ".raw", 0, "Leica Raw", "494955", "4C45494341", "", 0, 0},
    {79, ".jpg", 449, "JPEG File", "FFD8FFE2", "4943435F", "", 0, 0},
    {79, ".jpg", 449, "JPEG File", "FFD8FFEE", "41646F6265", "", 0, 0},                 // Adobe
    {79, ".jpg", 449, "JPEG File", "FFD8FFED", "50686F746F73686F7020332E30", "", 0, 0}, // Photoshop 3.0
    {79, ".jpg", 449, "JPEG File", "FFD8FFE1", XmpNamespace, "", 0, 0},
    {80, ".dng", 0, "DNG gnrc1", "4D4D002A01", "", "", 0, 0},
    // The DNGVersion tag as a big-endian directory holds it: BYTE, count 4.
    {81, ".dng", 0, "DNG gnrc2", "4D4D002A0000000800", "C612000100000004", "", 0, 0},
    {82, ".dng", 0, "ADOBE Raw", "49492A00", XmpHost, "", 0, 0},
    {83, ".zip", 513, "ZIP  File", "526172211A0700CF907300000D000000", "0000", "", 0, 0},
    {84, ".zip", 513, "ZIP  File", "504B0304", "0000", "", 0, 0},
    {86, ".mov", 455, "MOV  File", "0015", "6D646174", "", 0, 0},
    {87, ".mov", 455, "MOV  File", "0015", "6D6F6F76", "", 0, 0},
    {88, ".rw2", 0, "Panasonic", "494955001800000088E774D8", "", "", 0, 0},
};

// A work row while it is built: signatures still as hex texts.
struct HexRow {
    QByteArray ext, desc, sig1, sig2, sig4;
    int16_t sizeFieldOffset = 0;
    int16_t sizeFieldOrder = 0;
};

QByteArray wordDocSig2Hex()
{
    return QByteArray("0000") + QByteArray(584, 'F');
}

// The work row of one entry of the list.
HexRow caseRow(const BuiltInCase &c)
{
    HexRow row;
    row.ext = c.ext;
    const QString english = QString::fromLatin1(c.desc);
    row.desc = FixedDescription(c.textId ? plat::toAnsi(GetString(c.textId, english)) : QByteArray(c.desc));
    row.sig1 = c.sig1;
    row.sig2 = c.sig2 ? QByteArray(c.sig2) : wordDocSig2Hex();
    row.sig4 = c.sig4;
    row.sizeFieldOffset = c.sizeFieldOffset;
    row.sizeFieldOrder = c.sizeFieldOrder;
    return row;
}

SignatureRecord storedRow(const HexRow &row)
{
    SignatureRecord r;
    r.Ext = row.ext;
    r.Desc = row.desc;
    r.Sig1 = HexToBytes(row.sig1);
    r.Sig2 = HexToBytes(row.sig2);
    r.Sig4 = HexToBytes(row.sig4);
    r.SizeFieldOffset = row.sizeFieldOffset;
    r.SizeFieldOrder = row.sizeFieldOrder;
    return r;
}

} // namespace

QByteArray FixedDescription(const QByteArray &text)
{
    QByteArray d = text.left(10);
    if (d.size() < 10)
        d.append(QByteArray(10 - d.size(), ' '));
    return d;
}

void ClearSignatureTable(SignatureRows &table)
{
    table.assign(1, SignatureRecord{});
}

bool HasSignatureRows(const SignatureRows &table)
{
    for (const SignatureRecord &r : table)
        if (!r.Sig1.isEmpty())
            return true;
    return false;
}

void BuildSignatureTable(const QByteArray &filter, SignatureRows &table)
{
    ClearSignatureTable(table);
    const bool all = filter == "all";
    // The list holds the cases in order, each case's variants behind it.
    for (const BuiltInCase &c : BuiltInCases) {
        const HexRow row = caseRow(c);
        if (row.ext.isEmpty() || row.sig1.isEmpty())
            continue;
        if (!all && !filter.contains(row.ext + row.desc))
            continue;
        // The previous stored row is measured in bytes, the new one in hex
        // characters, so a new row usually moves in front of its predecessor;
        // the testing order of the built-in rows follows from this.
        const size_t u = table.size() - 1;
        size_t at = u;
        if (u > 0) {
            const SignatureRecord &prev = table[u - 1];
            const qsizetype prevMeasure = 4 * prev.Sig1.size() + prev.Sig2.size();
            const qsizetype newMeasure = 4 * row.sig1.size() + row.sig2.size();
            if (prevMeasure < newMeasure) {
                table[u] = prev;
                at = u - 1;
            }
        }
        table[at] = storedRow(row);
        table.emplace_back();
    }
    if (table.size() > 1)
        table.pop_back();
}

void BuildSignatureTable(const QByteArray &filter)
{
    BuildSignatureTable(filter, SignatureTable);
}

int BuiltInSignatureCase(const SignatureRecord &row, int *variant)
{
    int previous = -1, k = 0;
    for (const BuiltInCase &c : BuiltInCases) {
        k = c.number == previous ? k + 1 : 0;
        previous = c.number;
        if (storedRow(caseRow(c)) == row) {
            if (variant)
                *variant = k;
            return c.number;
        }
    }
    return -1;
}
