// Learned-type files: one learned file type a file, ZT_<type>.dat, in the work
// folder ZTRecdt\ of the program folder, and the learning's sample ring files
// ZTAnalyze_<type>.dat beside them.
//
// A file holds one LearnedTypeRecord from its first byte, little-endian and
// without padding: a text is a 16-bit byte count and the bytes, a fixed text
// its bytes, an Integer 16 bits, a Long 32 bits. Bytes behind the record are
// never read (a rewrite does not shorten the file). The four signature texts
// of every variant in use are kept enciphered (hex of their Rijndael cipher
// bytes) when the record's Enciphered flag is set.
//
// Type names are written in lower case and matched without regard to case.
// All texts are byte strings.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

constexpr int LearnedVariants = 6;

struct LearnedTypeRecord {
    using Texts = std::array<QByteArray, LearnedVariants>;
    using Integers = std::array<int16_t, LearnedVariants>;
    using Longs = std::array<int32_t, LearnedVariants>;

    QByteArray Ext;           // ".jpg"; empty when the record holds no type
    QByteArray Desc;          // fixed 10 bytes ("JPG" and seven blanks); empty = 10 zero bytes
    Texts Sig1;               // per variant; a variant is in use when Sig1 is not empty
    Texts Sig2;
    Texts TailPrefix;
    Texts TailRun;
    Integers SizeFieldOffset{};
    Integers SizeFieldOrder{};
    Texts Reserved9;          // never set
    Texts Reserved10;         // never set
    Longs Matches{};
    Longs Analysed{};
    int16_t CurrentVariant = 0;
    int16_t Enciphered = 0;   // -1 when fields 3 to 6 hold cipher text, 0 when plain
    QByteArray Reserved15;    // written empty
    Longs TailRunStart{};

    bool isEnciphered() const { return Enciphered != 0; }
    bool operator==(const LearnedTypeRecord &) const = default;
};

// A learned first signature that may start a found file: at least 4 bytes
// holding at least three distinct byte values. Starts such as 00000000,
// FFFFFFFF or 0000FFFF are those of empty and erased stretches of any
// medium, not of a type.
bool IsUsableFirstSignature(const QByteArray &sig1);

// What a read found.
enum class LearnedTypeStatus {
    Ok,          // a record was read
    Empty,       // the file is empty (or was missing and has been created empty)
    Unreadable,  // the file cannot be opened or read
    Corrupt,     // truncated, absurd values, or cipher text that does not decipher
};

// The record's bytes. A Desc shorter than 10 bytes is padded with blanks.
QByteArray SerializeLearnedTypeRecord(const LearnedTypeRecord &record);
// Reads a record from the start of the bytes, never past their end. Fails
// (Corrupt, record cleared) on a length field past the end, a negative
// Analysed count, a current variant outside 0 to 5, or a text longer than a
// learned field can be. Bytes behind the record are ignored. Empty bytes give
// Empty and a cleared record.
LearnedTypeStatus ParseLearnedTypeRecord(const QByteArray &bytes, LearnedTypeRecord &record);

// The key of the learned-type files (one constant of the program).
QByteArray LearnedTypeKey();
// Enciphers (enciphered false) or deciphers (true) fields 3 to 6 of every
// variant whose Sig1 is not empty and inverts the flag. False when a field
// does not decipher (a record written with another key, damaged cipher text,
// or a deciphered field too long to be a learned one); the record is then
// left as it was.
bool ToggleLearnedTypeCipher(LearnedTypeRecord &record, const QByteArray &key);

// The work folder, internal form with a trailing "\": program folder + "ZTRecdt\".
QString LearnedTypesFolder();
// "ZT_" + the type in lower case + ".dat"; the type may carry its dot.
QString LearnedTypeFileName(const QByteArray &type);
// The type that a file name names: between "ZT_" and ".dat", lower case; empty
// when the name is not a learned-type file name (compared without regard to
// case).
QByteArray LearnedTypeFromFileName(const QString &fileName);
// The names of the learned-type files in the work folder (ZT_*.dat, without
// regard to case), sorted by name.
QStringList ListLearnedTypeFiles();
// The name under which the type's file exists in the work folder (whatever
// its case), empty when there is none.
QString FindLearnedTypeFile(const QByteArray &type);

// Reads a learned-type file (bare name in the work folder): opens it for
// reading and writing, creating an empty file when it is missing; reads the
// record. When the record's flag equals the wanted state, the signature texts
// are toggled (wanted true: deciphered in memory; wanted false: enciphered)
// and the flag inverted; when the flag is then set, the record is written
// back. A file that is unreadable or corrupt gives a cleared record and is
// neither toggled nor written.
LearnedTypeStatus ConvertLearnedTypeRecord(const QString &fileName, bool wantedState,
                                           LearnedTypeRecord &record);
// Writes the record as it stands (plain or enciphered, as its flag says) over
// the file's first bytes in one write, flushed to the disk; creates the work
// folder and the file when missing. The file is not shortened.
bool WriteLearnedTypeRecord(const QString &fileName, const LearnedTypeRecord &record);
// Removes the type's file (found without regard to case): to the recycle bin
// when asked, else deleted. False when there is no such file or it stays.
bool RemoveLearnedTypeFile(const QByteArray &type, bool toRecycleBin);

// The learning's sample ring of one type: ZTAnalyze_<type>.dat, written only.
constexpr int SampleRingSlots = 100;
struct SampleRingRecord {
    QByteArray Ext;                                     // fixed 5 bytes (".jpg "), padded or cut
    std::array<QByteArray, SampleRingSlots> Heads;      // first 16 bytes of sampled files
    std::array<QByteArray, SampleRingSlots> Tails;      // last 1024 bytes of sampled files
    int16_t Next = 0;                                   // slot the next sample overwrites
};
QByteArray SerializeSampleRingRecord(const SampleRingRecord &record);
// "ZTAnalyze_" + the type in lower case + ".dat".
QString SampleRingFileName(const QByteArray &type);
// Writes the ring over the file's first bytes (work folder created when missing).
bool WriteSampleRingFile(const QByteArray &type, const SampleRingRecord &record);
