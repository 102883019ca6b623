// The Rijndael block cipher and the text layer over it.
//
// The learned-type files keep their signature texts enciphered with Rijndael
// in its 256-bit-block, 256-bit-key form (32-byte blocks, 14 rounds); the
// 128-bit-block case of the same class is the standard's AES. Blocks are
// enciphered one by one (electronic code book), without an initial vector.
//
// The key is compiled into the program, so the enciphering only keeps the
// signatures from being read at a glance; it is no protection.
//
// Byte texts are QByteArrays with one byte per character; nothing here goes
// through a code page.
#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>

class CRijndael {
public:
    // Block and key lengths in 32-bit words: 4, 6 or 8 each.
    static constexpr int MaxWords = 8;
    static constexpr int MaxRounds = 14;

    // The enciphered layout: the length L of the data as 32-bit little-endian,
    // the data, zero bytes up to a multiple of 32; then every 32-byte block
    // enciphered with the first 32 bytes of the key (a shorter key is filled
    // up with zeros, an empty one is 32 zero bytes). A null data or key array
    // (one never given bounds) gives an empty result.
    QByteArray EncryptData(const QByteArray &data, const QByteArray &key);
    // The reverse: the cipher length must be a multiple of 32 and the length
    // field L must lie in 1 .. length - 4; anything else gives an empty result.
    QByteArray DecryptData(const QByteArray &cipher, const QByteArray &key);

    // The key schedule for a block of blockWords and a key of keyWords words
    // (4, 6 or 8 each); the key holds 4 x keyWords bytes. False for other
    // lengths (the schedule is then unusable).
    bool ExpandKey(int blockWords, int keyWords, const uint8_t *key);
    // One block of 4 x blockWords bytes with the schedule of ExpandKey; in
    // and out may be the same buffer.
    void EncryptBlock(const uint8_t *in, uint8_t *out) const;
    void DecryptBlock(const uint8_t *in, uint8_t *out) const;

    int rounds() const { return m_rounds; }

private:
    int m_nb = 0;
    int m_rounds = 0;
    std::array<uint32_t, MaxWords *(MaxRounds + 1)> m_schedule{};
};

// Enciphers a byte text with a key text; empty text gives empty text.
QByteArray EncryptText(const QByteArray &text, const QByteArray &key);
// Deciphers the bytes that EncryptText gave; empty for an empty text, a wrong
// length or a length field out of range.
QByteArray DecryptText(const QByteArray &cipher, const QByteArray &key);

// BytesToHex(EncryptText(text, key)); empty stays empty.
QByteArray EncryptTextToHex(const QByteArray &text, const QByteArray &key);
// DecryptText(HexToBytes(hex), key); empty stays empty.
QByteArray DecryptHexText(const QByteArray &hex, const QByteArray &key);

// One field of a learned-type record: an empty text stays empty; with
// enciphered false the text is enciphered to hex, with enciphered true the
// hex is deciphered.
QByteArray ToggleFieldCipher(const QByteArray &text, const QByteArray &key, bool enciphered);

// Two hex digits (either case) a byte from the left; a single last digit of
// an odd-length text is a byte of its own ("F" gives 0x0F); a pair that is
// not hex gives 0 and the conversion goes on.
QByteArray HexToBytes(const QByteArray &hex);
// Two upper-case hex digits a byte, leading zeros kept.
QByteArray BytesToHex(const QByteArray &bytes);
