// The cipher against published known answers (FIPS-197 for the 128-bit-block
// case, Rijndael with 256-bit blocks as other implementations compute it) and
// the text layer's layout rules.
#include "scan/rijndael.h"

#include <gtest/gtest.h>

#include <random>

namespace {

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

QByteArray counting(int n, int start = 0, int step = 1)
{
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(char((start + i * step) & 0xFF));
    return b;
}

// Enciphers and deciphers one block with the given lengths in words.
void expectBlock(int blockWords, const QByteArray &key, const QByteArray &plain, const char *cipherHex)
{
    CRijndael r;
    ASSERT_TRUE(r.ExpandKey(blockWords, int(key.size() / 4), reinterpret_cast<const uint8_t *>(key.constData())));
    QByteArray out(plain.size(), '\0');
    r.EncryptBlock(reinterpret_cast<const uint8_t *>(plain.constData()), reinterpret_cast<uint8_t *>(out.data()));
    EXPECT_EQ(out.toHex().toUpper(), QByteArray(cipherHex));
    QByteArray back(plain.size(), '\0');
    r.DecryptBlock(reinterpret_cast<const uint8_t *>(out.constData()), reinterpret_cast<uint8_t *>(back.data()));
    EXPECT_EQ(back, plain);
}

} // namespace

TEST(Rijndael, AesKnownAnswersOfFips197)
{
    const QByteArray plain = hex("00112233445566778899aabbccddeeff");
    expectBlock(4, counting(16), plain, "69C4E0D86A7B0430D8CDB78070B4C55A");
    expectBlock(4, counting(24), plain, "DDA97CA4864CDFE06EAF70A0EC0D7191");
    expectBlock(4, counting(32), plain, "8EA2B7CA516745BFEAFC49904B496089");
    // Appendix B.
    expectBlock(4, hex("2b7e151628aed2a6abf7158809cf4f3c"), hex("3243f6a8885a308d313198a2e0370734"),
                "3925841D02DC09FBDC118597196A0B32");
}

TEST(Rijndael, WideBlockKnownAnswers)
{
    const QByteArray zeros(32, '\0');
    expectBlock(8, zeros, zeros, "C6227E7740B7E53B5CB77865278EAB0726F62366D9AABAD908936123A1FC8AF3");
    expectBlock(8, counting(32), counting(32), "623D2BD4CA3796DC3D02ECF2F37FB637FD3DA58509CEBB67AB9265B04DB51E7D");
    expectBlock(8, counting(16), counting(32), "21C89C4A7AE37F185597362E5D20485F6144AFED71BD4A798688662E6CDE7DC4");
    expectBlock(8, counting(24), counting(32), "D4CC0B070EBEBD98FFA1C28E40BFFA5DB8BDB8FB5BFB6CCF23AF2C1608967ACC");
    expectBlock(6, counting(32), counting(24), "B5E5BB698A33A80E4DAED256760F1A5F08CC6F181E67B5BC");
    CRijndael r;
    EXPECT_TRUE(r.ExpandKey(8, 8, reinterpret_cast<const uint8_t *>(zeros.constData())));
    EXPECT_EQ(r.rounds(), 14);
    EXPECT_FALSE(r.ExpandKey(5, 8, reinterpret_cast<const uint8_t *>(zeros.constData())));
}

TEST(Rijndael, DataLayoutIsLengthDataPaddingInElectronicCodeBook)
{
    CRijndael r;
    // Two blocks, each enciphered on its own with the same key.
    const QByteArray key = counting(32, 255, -7);
    const QByteArray data = counting(60, 11, 37);
    const QByteArray layout = QByteArray("\x3c\0\0\0", 4) + data;
    ASSERT_EQ(layout.size(), 64);
    // Each block on its own, no chaining.
    const QByteArray stream = counting(64, 11, 37);
    expectBlock(8, key, stream.left(32), "F4C51E1E75B30DAD6D8D790FB60EE0831D297891F1E700E578BFB7105E9570DD");
    expectBlock(8, key, stream.mid(32), "01B071E40591AD1AEDAC2763D987234D86B53FC7968535574485A371AE4DFD1D");
    const QByteArray cipher = r.EncryptData(data, key);
    ASSERT_EQ(cipher.size(), 64);
    // The layout itself: decipher block by block and read it.
    CRijndael raw;
    raw.ExpandKey(8, 8, reinterpret_cast<const uint8_t *>(key.constData()));
    QByteArray plain = cipher;
    for (int off = 0; off < plain.size(); off += 32)
        raw.DecryptBlock(reinterpret_cast<const uint8_t *>(plain.constData()) + off,
                         reinterpret_cast<uint8_t *>(plain.data()) + off);
    EXPECT_EQ(plain, layout);
    EXPECT_EQ(r.DecryptData(cipher, key), data);

    // "abc" with an empty key: 03 00 00 00 'a' 'b' 'c' and zeros under 32 zero key bytes.
    EXPECT_EQ(EncryptTextToHex("abc", ""), QByteArray("9CCFC09FEDF3312E13D422CAF869593A316A408BBB02309B14640422DF410D62"));
    EXPECT_EQ(EncryptTextToHex("abc", QByteArray(32, '\0')), EncryptTextToHex("abc", ""));
    // Only the first 32 key bytes count.
    EXPECT_EQ(EncryptText("abc", counting(40)), EncryptText("abc", counting(32)));

    // Arrays never given bounds give nothing.
    EXPECT_TRUE(r.EncryptData(QByteArray(), key).isEmpty());
    EXPECT_TRUE(r.EncryptData(data, QByteArray()).isEmpty());
    EXPECT_TRUE(r.DecryptData(cipher, QByteArray()).isEmpty());
}

TEST(Rijndael, DecipheringRefusesBadLengths)
{
    const QByteArray key = "key";
    const QByteArray keyBuf = key + QByteArray(29, '\0');
    CRijndael raw;
    raw.ExpandKey(8, 8, reinterpret_cast<const uint8_t *>(keyBuf.constData()));
    auto encipherRaw = [&](QByteArray plain) {
        for (int off = 0; off < plain.size(); off += 32)
            raw.EncryptBlock(reinterpret_cast<const uint8_t *>(plain.constData()) + off,
                             reinterpret_cast<uint8_t *>(plain.data()) + off);
        return plain;
    };
    auto withLength = [](int32_t l, int total) {
        QByteArray b(total, 'x');
        const auto u = uint32_t(l);
        for (int i = 0; i < 4; ++i)
            b[i] = char((u >> (8 * i)) & 0xFF);
        return b;
    };
    CRijndael r;
    EXPECT_TRUE(r.DecryptData(encipherRaw(withLength(0, 32)), key).isEmpty());
    EXPECT_TRUE(r.DecryptData(encipherRaw(withLength(-1, 32)), key).isEmpty());
    EXPECT_TRUE(r.DecryptData(encipherRaw(withLength(29, 32)), key).isEmpty());
    EXPECT_EQ(r.DecryptData(encipherRaw(withLength(28, 32)), key), QByteArray(28, 'x'));
    EXPECT_EQ(r.DecryptData(encipherRaw(withLength(60, 64)), key), QByteArray(60, 'x'));
    EXPECT_TRUE(r.DecryptData(encipherRaw(withLength(0x7FFFFFFF, 64)), key).isEmpty());

    // A cipher text that is not whole blocks, and a wrong key.
    const QByteArray hexText = EncryptTextToHex("signature", key);
    EXPECT_TRUE(DecryptHexText(hexText.left(62), key).isEmpty());
    EXPECT_TRUE(DecryptText(QByteArray(31, 'a'), key).isEmpty());
    EXPECT_NE(DecryptHexText(hexText, "other key"), QByteArray("signature"));
}

TEST(Rijndael, TextLayerRoundTripsAndSizes)
{
    EXPECT_EQ(EncryptTextToHex(QByteArray(28, 'a'), "k").size(), 64);
    EXPECT_EQ(EncryptTextToHex(QByteArray(29, 'a'), "k").size(), 128);
    EXPECT_EQ(EncryptTextToHex(QByteArray(60, 'a'), "k").size(), 128);
    EXPECT_EQ(EncryptTextToHex(QByteArray(61, 'a'), "k").size(), 192);
    EXPECT_EQ(EncryptTextToHex("same", "k"), EncryptTextToHex("same", "k"));
    EXPECT_TRUE(EncryptText("", "k").isEmpty());
    EXPECT_TRUE(DecryptText("", "k").isEmpty());
    EXPECT_TRUE(ToggleFieldCipher("", "k", false).isEmpty());
    EXPECT_TRUE(ToggleFieldCipher("", "k", true).isEmpty());

    std::mt19937 rng(42);
    for (int n = 1; n <= 200; ++n) {
        QByteArray text, key;
        for (int i = 0; i < n; ++i)
            text.append(char(rng() & 0xFF));
        for (int i = 0, k = int(rng() % 40); i < k; ++i)
            key.append(char(rng() & 0xFF));
        const QByteArray enciphered = ToggleFieldCipher(text, key, false);
        EXPECT_EQ(enciphered.size(), 64 * ((n + 4 + 31) / 32));
        EXPECT_EQ(enciphered, enciphered.toUpper());
        EXPECT_EQ(ToggleFieldCipher(enciphered, key, true), text) << n;
        EXPECT_EQ(DecryptText(EncryptText(text, key), key), text);
        EXPECT_EQ(DecryptHexText(enciphered.toLower(), key), text);
    }
}

TEST(Rijndael, HexConversions)
{
    EXPECT_EQ(HexToBytes("F"), QByteArray("\x0f"));
    EXPECT_EQ(HexToBytes("C384250"), QByteArray("\xC3\x84\x25\x00", 4));
    EXPECT_EQ(HexToBytes("000001B"), QByteArray("\x00\x00\x01\x0B", 4));
    EXPECT_EQ(HexToBytes("ffD8"), QByteArray("\xFF\xD8"));
    EXPECT_EQ(HexToBytes("41G14x42"), QByteArray("A\0\0B", 4));
    EXPECT_TRUE(HexToBytes("").isEmpty());
    EXPECT_EQ(BytesToHex("abc"), QByteArray("616263"));
    EXPECT_EQ(BytesToHex(QByteArray("\x00\x0a\xff", 3)), QByteArray("000AFF"));
}
