#include "scan/rijndael.h"

#include <cstring>

namespace {

constexpr int CipherBlockBytes = 32;   // the learned-type layout: 256-bit blocks
constexpr int CipherKeyBytes = 32;     // and 256-bit keys

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t XTime(uint8_t a)
{
    return static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0x00));
}

// The field tables, made once from the field arithmetic: logarithms and
// powers of the generator 3, the S-box (multiplicative inverse followed by
// the affine transform with 0x63) and its inverse.
struct Tables {
    uint8_t log[256]{};
    uint8_t pow[255]{};
    uint8_t sbox[256]{};
    uint8_t inverseSbox[256]{};
    uint8_t rcon[32]{};

    Tables()
    {
        uint8_t a = 1;
        for (int i = 0; i < 255; ++i) {
            pow[i] = a;
            log[a] = static_cast<uint8_t>(i);
            a = static_cast<uint8_t>(a ^ XTime(a));   // times 3
        }
        for (int i = 0; i < 256; ++i) {
            const uint8_t b = ComputeSboxByte(static_cast<uint8_t>(i));
            sbox[i] = b;
            inverseSbox[b] = static_cast<uint8_t>(i);
        }
        uint8_t r = 1;
        for (int i = 1; i < 32; ++i) {
            rcon[i] = r;
            r = XTime(r);
        }
    }

    uint8_t GfMultiply(uint8_t x, uint8_t y) const
    {
        if (x == 0 || y == 0)
            return 0;
        return pow[(log[x] + log[y]) % 255];
    }

    uint8_t ComputeSboxByte(uint8_t x) const
    {
        uint8_t inv = x == 0 ? 0 : pow[(255 - log[x]) % 255];
        uint8_t result = 0x63;
        for (int bit = 0; bit < 5; ++bit)   // inv ^ rotl1 ^ rotl2 ^ rotl3 ^ rotl4
            result ^= static_cast<uint8_t>((inv << bit) | (inv >> ((8 - bit) & 7)));
        return result;
    }
};

const Tables &tables()
{
    static const Tables t;
    return t;
}

inline uint32_t PackWord(const uint8_t *b)
{
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

inline void UnpackWord(uint32_t w, uint8_t *b)
{
    b[0] = uint8_t(w);
    b[1] = uint8_t(w >> 8);
    b[2] = uint8_t(w >> 16);
    b[3] = uint8_t(w >> 24);
}

inline uint32_t SubWord(uint32_t w)
{
    const uint8_t *s = tables().sbox;
    return uint32_t(s[w & 0xFF]) | (uint32_t(s[(w >> 8) & 0xFF]) << 8)
        | (uint32_t(s[(w >> 16) & 0xFF]) << 16) | (uint32_t(s[w >> 24]) << 24);
}

// ShiftRows offsets of rows 1 to 3: 1, 2, 3 for blocks of 4 and 6 words,
// 1, 3, 4 for blocks of 8 words.
inline int RowShift(int nb, int row)
{
    if (row == 0)
        return 0;
    if (nb == 8)
        return row == 1 ? 1 : row + 1;
    return row;
}

void AddRoundKey(uint8_t *state, const uint32_t *roundKey, int nb)
{
    for (int c = 0; c < nb; ++c) {
        uint8_t k[4];
        UnpackWord(roundKey[c], k);
        for (int r = 0; r < 4; ++r)
            state[4 * c + r] ^= k[r];
    }
}

void ShiftRows(uint8_t *state, int nb, bool inverse)
{
    uint8_t tmp[4 * CRijndael::MaxWords];
    std::memcpy(tmp, state, size_t(4 * nb));
    for (int r = 1; r < 4; ++r) {
        const int shift = RowShift(nb, r);
        for (int c = 0; c < nb; ++c) {
            if (inverse)
                state[4 * ((c + shift) % nb) + r] = tmp[4 * c + r];
            else
                state[4 * c + r] = tmp[4 * ((c + shift) % nb) + r];
        }
    }
}

void MixColumns(uint8_t *state, int nb)
{
    for (int c = 0; c < nb; ++c) {
        uint8_t *s = state + 4 * c;
        const uint8_t a0 = s[0], a1 = s[1], a2 = s[2], a3 = s[3];
        const uint8_t all = a0 ^ a1 ^ a2 ^ a3;
        s[0] = a0 ^ all ^ XTime(a0 ^ a1);
        s[1] = a1 ^ all ^ XTime(a1 ^ a2);
        s[2] = a2 ^ all ^ XTime(a2 ^ a3);
        s[3] = a3 ^ all ^ XTime(a3 ^ a0);
    }
}

void InverseMixColumns(uint8_t *state, int nb)
{
    const Tables &t = tables();
    for (int c = 0; c < nb; ++c) {
        uint8_t *s = state + 4 * c;
        const uint8_t a0 = s[0], a1 = s[1], a2 = s[2], a3 = s[3];
        s[0] = t.GfMultiply(a0, 14) ^ t.GfMultiply(a1, 11) ^ t.GfMultiply(a2, 13) ^ t.GfMultiply(a3, 9);
        s[1] = t.GfMultiply(a0, 9) ^ t.GfMultiply(a1, 14) ^ t.GfMultiply(a2, 11) ^ t.GfMultiply(a3, 13);
        s[2] = t.GfMultiply(a0, 13) ^ t.GfMultiply(a1, 9) ^ t.GfMultiply(a2, 14) ^ t.GfMultiply(a3, 11);
        s[3] = t.GfMultiply(a0, 11) ^ t.GfMultiply(a1, 13) ^ t.GfMultiply(a2, 9) ^ t.GfMultiply(a3, 14);
    }
}

bool validWords(int n)
{
    return n == 4 || n == 6 || n == 8;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The key buffer: the first 32 bytes of the key, zero-filled.
std::array<uint8_t, CipherKeyBytes> keyBuffer(const QByteArray &key)
{
    std::array<uint8_t, CipherKeyBytes> buf{};
    std::memcpy(buf.data(), key.constData(), size_t(qMin<qsizetype>(key.size(), CipherKeyBytes)));
    return buf;
}

} // namespace

bool CRijndael::ExpandKey(int blockWords, int keyWords, const uint8_t *key)
{
    m_nb = 0;
    m_rounds = 0;
    if (!validWords(blockWords) || !validWords(keyWords) || !key)
        return false;
    const Tables &t = tables();
    const int rounds = qMax(blockWords, keyWords) + 6;
    const int total = blockWords * (rounds + 1);
    for (int i = 0; i < keyWords; ++i)
        m_schedule[size_t(i)] = PackWord(key + 4 * i);
    for (int i = keyWords; i < total; ++i) {
        uint32_t temp = m_schedule[size_t(i - 1)];
        if (i % keyWords == 0)
            temp = SubWord((temp >> 8) | (temp << 24)) ^ t.rcon[i / keyWords];
        else if (keyWords > 6 && i % keyWords == 4)
            temp = SubWord(temp);
        m_schedule[size_t(i)] = m_schedule[size_t(i - keyWords)] ^ temp;
    }
    m_nb = blockWords;
    m_rounds = rounds;
    return true;
}

void CRijndael::EncryptBlock(const uint8_t *in, uint8_t *out) const
{
    if (m_nb == 0)
        return;
    const uint8_t *sbox = tables().sbox;
    uint8_t state[4 * MaxWords];
    const int bytes = 4 * m_nb;
    std::memcpy(state, in, size_t(bytes));
    AddRoundKey(state, m_schedule.data(), m_nb);
    for (int round = 1; round <= m_rounds; ++round) {
        for (int i = 0; i < bytes; ++i)
            state[i] = sbox[state[i]];
        ShiftRows(state, m_nb, false);
        if (round != m_rounds)
            MixColumns(state, m_nb);
        AddRoundKey(state, m_schedule.data() + round * m_nb, m_nb);
    }
    std::memcpy(out, state, size_t(bytes));
}

void CRijndael::DecryptBlock(const uint8_t *in, uint8_t *out) const
{
    if (m_nb == 0)
        return;
    const uint8_t *inverseSbox = tables().inverseSbox;
    uint8_t state[4 * MaxWords];
    const int bytes = 4 * m_nb;
    std::memcpy(state, in, size_t(bytes));
    for (int round = m_rounds; round >= 1; --round) {
        AddRoundKey(state, m_schedule.data() + round * m_nb, m_nb);
        if (round != m_rounds)
            InverseMixColumns(state, m_nb);
        ShiftRows(state, m_nb, true);
        for (int i = 0; i < bytes; ++i)
            state[i] = inverseSbox[state[i]];
    }
    AddRoundKey(state, m_schedule.data(), m_nb);
    std::memcpy(out, state, size_t(bytes));
}

QByteArray CRijndael::EncryptData(const QByteArray &data, const QByteArray &key)
{
    if (data.isNull() || key.isNull())
        return {};
    if (data.size() > 0x7FFFFFFF - 64)
        return {};
    const auto k = keyBuffer(key);
    ExpandKey(8, 8, k.data());
    const qsizetype length = data.size();
    const qsizetype total = (length + 4 + CipherBlockBytes - 1) / CipherBlockBytes * CipherBlockBytes;
    QByteArray buffer(total, '\0');
    auto *b = reinterpret_cast<uint8_t *>(buffer.data());
    UnpackWord(uint32_t(length), b);
    std::memcpy(b + 4, data.constData(), size_t(length));
    for (qsizetype off = 0; off < total; off += CipherBlockBytes)
        EncryptBlock(b + off, b + off);
    return buffer;
}

QByteArray CRijndael::DecryptData(const QByteArray &cipher, const QByteArray &key)
{
    if (cipher.isNull() || key.isNull() || cipher.isEmpty() || cipher.size() % CipherBlockBytes != 0)
        return {};
    const auto k = keyBuffer(key);
    ExpandKey(8, 8, k.data());
    QByteArray buffer = cipher;
    auto *b = reinterpret_cast<uint8_t *>(buffer.data());
    for (qsizetype off = 0; off < buffer.size(); off += CipherBlockBytes)
        DecryptBlock(b + off, b + off);
    const int64_t length = int32_t(PackWord(b));
    if (length < 1 || length > int64_t(buffer.size()) - 4)
        return {};
    return buffer.mid(4, qsizetype(length));
}

QByteArray EncryptText(const QByteArray &text, const QByteArray &key)
{
    if (text.isEmpty())
        return {};
    CRijndael cipher;
    return cipher.EncryptData(text, key.isNull() ? QByteArray("") : key);
}

QByteArray DecryptText(const QByteArray &cipher, const QByteArray &key)
{
    if (cipher.isEmpty())
        return {};
    CRijndael rijndael;
    return rijndael.DecryptData(cipher, key.isNull() ? QByteArray("") : key);
}

QByteArray EncryptTextToHex(const QByteArray &text, const QByteArray &key)
{
    if (text.isEmpty())
        return {};
    return BytesToHex(EncryptText(text, key));
}

QByteArray DecryptHexText(const QByteArray &hex, const QByteArray &key)
{
    if (hex.isEmpty())
        return {};
    return DecryptText(HexToBytes(hex), key);
}

QByteArray ToggleFieldCipher(const QByteArray &text, const QByteArray &key, bool enciphered)
{
    if (text.isEmpty())
        return {};
    return enciphered ? DecryptHexText(text, key) : EncryptTextToHex(text, key);
}

QByteArray HexToBytes(const QByteArray &hex)
{
    QByteArray out;
    out.reserve(hex.size() / 2 + 1);
    for (qsizetype i = 0; i < hex.size(); i += 2) {
        if (i + 1 < hex.size()) {
            const int hi = hexDigit(hex[i]);
            const int lo = hexDigit(hex[i + 1]);
            out.append(char(hi < 0 || lo < 0 ? 0 : hi * 16 + lo));
        } else {
            const int d = hexDigit(hex[i]);
            out.append(char(d < 0 ? 0 : d));
        }
    }
    return out;
}

QByteArray BytesToHex(const QByteArray &bytes)
{
    return bytes.toHex().toUpper();
}
