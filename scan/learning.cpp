#include "scan/learning.h"

#include "drive/driveinfo.h"
#include "drive/strings.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// A number as the status line writes it: a blank before a positive one.
QString numberText(int64_t n)
{
    return n >= 0 ? QLatin1Char(' ') + QString::number(n) : QString::number(n);
}

// "#00.00": at least two digits before the point, two after it.
QString percentText(double value)
{
    QString digits = QString::number(std::fabs(value), 'f', 2);
    if (digits.indexOf(QLatin1Char('.')) < 2)
        digits.prepend(QString(2 - digits.indexOf(QLatin1Char('.')), QLatin1Char('0')));
    const bool negative = value < 0 && digits != QLatin1String("00.00");
    return negative ? QLatin1Char('-') + digits : digits;
}

bool readFully(int fd, char *into, qsizetype length, off_t at)
{
    qsizetype done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, into + done, size_t(length - done), at + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Reading bytes from the start of a buffer, never past its end.
class RingReader {
public:
    explicit RingReader(const QByteArray &bytes) : bytes_(bytes) {}
    bool ok() const { return ok_; }
    QByteArray take(qsizetype n)
    {
        if (!ok_ || n < 0 || n > bytes_.size() - pos_) {
            ok_ = false;
            return {};
        }
        const QByteArray part = bytes_.mid(pos_, n);
        pos_ += n;
        return part;
    }
    int16_t integer()
    {
        const QByteArray b = take(2);
        return b.size() == 2 ? int16_t(uint16_t(uint8_t(b[0]) | (uint8_t(b[1]) << 8))) : 0;
    }
    QByteArray text() { return take(qsizetype(uint16_t(integer()))); }

private:
    const QByteArray &bytes_;
    qsizetype pos_ = 0;
    bool ok_ = true;
};

// Larger than any ring record: 5 + 100 x (2 + 16) + 100 x (2 + 1024) + 2 bytes.
constexpr qint64 kRingReadLimit = 1024 * 1024;

struct FolderWalk {
    QStringList &out;
    int maxFiles;
    dev_t dev;
    QSet<QPair<quint64, quint64>> seen;
    const std::function<bool()> &proceed;
    bool full = false;
};

void walkFolder(FolderWalk &w, const QByteArray &native, const QString &internal, int depth)
{
    if (w.full || depth > 512)
        return;
    if (w.proceed && !w.proceed()) {
        w.full = true;
        return;
    }
    DIR *d = ::opendir(native.constData());
    if (!d)
        return;
    std::vector<std::pair<QString, QByteArray>> names;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray raw(e->d_name);
        if (raw == "." || raw == "..")
            continue;
        names.emplace_back(QFile::decodeName(raw), raw);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end(), [](const auto &a, const auto &b) {
        const int c = QString::compare(a.first, b.first, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.second < b.second;
    });

    std::vector<std::pair<QString, QByteArray>> folders;
    for (const auto &[name, raw] : names) {
        // A name holding "\" has no internal form.
        if (name.contains(QLatin1Char('\\')))
            continue;
        const QByteArray path = native + '/' + raw;
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0)
            continue;
        if (S_ISREG(st.st_mode)) {
            w.out << internal + name;
            if (w.out.size() >= w.maxFiles) {
                w.full = true;
                return;
            }
        } else if (S_ISDIR(st.st_mode) && st.st_dev == w.dev) {
            if (!w.seen.contains({quint64(st.st_dev), quint64(st.st_ino)})) {
                w.seen.insert({quint64(st.st_dev), quint64(st.st_ino)});
                folders.emplace_back(name, path);
            }
        }
    }
    for (const auto &[name, path] : folders) {
        walkFolder(w, path, internal + name + QLatin1Char('\\'), depth + 1);
        if (w.full)
            return;
    }
}

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// --- the input ---------------------------------------------------------------

QString UnattendedLearnTypeList()
{
    QString list = QStringLiteral("CR2,CRW,DCR,DNG,JBF,ARW,MRW,NEF,ORF,PCX,PEF,PIXAR,PIX,PSP,RAF,X3F,SRF,RW2,JPE,JPG,"
                                  "JPEG,THM,ICO,WMF,BMP,CUR,PNG,GIF,TIF,TIFF,KDC,JFIF,3FR,RDC,RAW,KDC,SR2,MEF,CDR,");
    return list.replace(QLatin1Char(','), QLatin1Char(' '));
}

QString UnattendedLearnTypes(const QStringList &adaptiveRowTexts, const QString &sourceText)
{
    QString text = UnattendedLearnTypeList();
    for (const QString &row : adaptiveRowTexts)
        if (!text.contains(row + QLatin1Char(' '), Qt::CaseInsensitive))
            text += row + QLatin1Char(' ');
    return text + sourceText;
}

QString LearnPrompt()
{
    const QString p1 = GetString(1398, QStringLiteral("With DO Vizorira you are able to extend and improve the scan"))
        + QLatin1Char(' ') + GetString(290, QStringLiteral("capabilities with the file types of your choice."));
    const QString p2 = GetString(291, QStringLiteral("After analyzing and adapting itself with the specifics"))
        + QLatin1Char(' ')
        + GetString(292, QStringLiteral("of these types, your scan possibilities are extended or improved."));
    const QString p3 = GetString(293, QStringLiteral("Enter a file type or a sequence of types for improving"))
        + QLatin1Char(' ') + GetString(294, QStringLiteral("and adding, like: jpe jpg bmp gif png tif mrw crw."));
    const QString p4
        = GetString(295, QStringLiteral("Add a disk for searching on specific disks only, like: jpe thm C: D:."));
    const QString p5 = GetString(296, QStringLiteral("Just press OK for adding all types in a specific folder."));
    const QString gap = kCrLf + kCrLf;
    return p1 + gap + p2 + gap + p3 + gap + p4 + gap + p5;
}

bool IsLearnFolderAnswer(const QString &answer, const QString &sourceText)
{
    return answer == QLatin1String(" ") || TrimBlanks(answer) == sourceText;
}

LearnSearch ParseLearnTypes(const QString &input)
{
    LearnSearch s;
    QString text = input;
    // Drive tokens: the character before each ":" with the ":". Every pass
    // takes at least one ":" out of the text.
    for (qsizetype colon = text.indexOf(QLatin1Char(':')); colon >= 0; colon = text.indexOf(QLatin1Char(':'))) {
        if (colon == 0) {
            text.remove(0, 1);
            continue;
        }
        const QString token = text.mid(colon - 1, 2);
        s.drives += token + QLatin1Char(' ');
        text.replace(token, QString());
    }
    text.replace(QLatin1Char('.'), QLatin1Char(' '));
    text = TrimBlanks(text);
    text.replace(QLatin1Char(','), QLatin1Char(' '));
    text.prepend(QLatin1Char(' '));
    text.replace(QLatin1Char('\\'), QLatin1Char(' '));
    text.replace(QLatin1String("  "), QLatin1String(" "));
    text.replace(QLatin1String(" "), QLatin1String(" *."));
    text.replace(QLatin1String("*.*"), QLatin1String("*"));
    s.patterns = text;
    return s;
}

QString LearnFilterOf(const QString &patterns)
{
    QString filter = patterns;
    filter.replace(QLatin1String(" *"), QLatin1String("*"));
    filter.replace(QLatin1String("**"), QLatin1String("*"));
    return filter;
}

QString LearnBaseName(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(cut + 1);
}

bool IsLearnSampleHit(const QString &path, const QString &filter)
{
    const QString base = LearnBaseName(path);
    const qsizetype dot = base.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QString ext = base.mid(dot);
    if (filter != QLatin1String("*") && !filter.contains(ext, Qt::CaseInsensitive))
        return false;
    return !path.contains(QLatin1String("RIVozud")) && !path.contains(QLatin1String("temp"), Qt::CaseInsensitive);
}

QStringList LearnSampleList(const QStringList &hits, const QString &filter)
{
    QStringList list;
    for (const QString &hit : hits)
        if (IsLearnSampleHit(hit, filter))
            list << hit;
    list << QString();
    return list;
}

int LearnStride(int lastIndex, bool unattended)
{
    if (lastIndex <= 0)
        return 0;
    if (unattended)
        return int(RoundHalfEven(double(lastIndex) / 200.0));
    int k = 0;
    while (lastIndex / (k + 1) > 30000)
        ++k;
    return k;
}

int LearnRingStep(int lastIndex)
{
    return int(std::max<int64_t>(1, RoundHalfEven(double(lastIndex) / 99.0)));
}

QByteArray LearnSampleType(const QString &path)
{
    const QString base = LearnBaseName(path);
    if (base.contains(QLatin1String("R#")) || base.contains(QLatin1String(".dat"), Qt::CaseInsensitive)
        || base.contains(QLatin1String("temp"), Qt::CaseInsensitive))
        return {};
    // The first "." neither missing nor the first or second character.
    if (base.indexOf(QLatin1Char('.')) < 2)
        return {};
    const QString ext = base.mid(base.lastIndexOf(QLatin1Char('.'))).toLower();
    if (ext.size() < 2 || ext.contains(QLatin1Char('_')))
        return {};
    // The extension names a learned-type file: single-byte characters that a
    // file name can hold, no blanks (blanks separate the types of the input).
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    for (qsizetype i = 1; i < ext.size(); ++i) {
        const char16_t c = ext[i].unicode();
        if (c <= 0x20 || c == 0x7F || c > 0xFF || forbidden.contains(QChar(c)))
            return {};
    }
    return ext.toLatin1();
}

QString LearnStatusLine(const QByteArray &ext, int slot, int32_t matches, int32_t analysed)
{
    const QString analysedPrefix = QLatin1Char(' ') + GetString(317, QStringLiteral("Analized:")) + QLatin1Char(' ');
    const QString reliabilityPrefix
        = QLatin1Char(' ') + GetString(318, QStringLiteral("reliability:")) + QLatin1Char(' ');
    return QString::fromLatin1(ext) + QLatin1Char('#') + numberText(slot) + analysedPrefix + numberText(analysed)
        + reliabilityPrefix + percentText(100.0 * VariantReliability(matches, analysed)) + QLatin1Char('%');
}

// --- the samples -------------------------------------------------------------

bool ReadLearnSample(const QString &path, SampleBytes &sample)
{
    sample = SampleBytes{};
    const QString native = plat::toNative(path);
    if (native.isEmpty())
        return false;
    const QByteArray name = QFile::encodeName(native);
    // Reading must not change the medium: no access time is written where
    // the system allows it (only the file's owner may ask for that).
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(name.constData(), flags | O_NOATIME);
    if (fd < 0 && (errno == EPERM || errno == EINVAL))
        fd = ::open(name.constData(), flags);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && st.st_size >= SampleHeadBytes) {
        QByteArray head(SampleHeadBytes, '\0'), tail(SampleHeadBytes, '\0');
        ok = readFully(fd, head.data(), SampleHeadBytes, 0)
            && readFully(fd, tail.data(), SampleHeadBytes, off_t(st.st_size - SampleHeadBytes));
        if (ok)
            sample = SampleFromBytes(head, tail, int64_t(st.st_size));
    } else if (ok) {
        sample.length = int64_t(st.st_size);
    }
    ::close(fd);
    return ok;
}

QStringList ListLearnFolder(const QString &folder, int maxFiles, const std::function<bool()> &proceed)
{
    QStringList out;
    QString internal = folder;
    if (!internal.endsWith(QLatin1Char('\\')))
        internal += QLatin1Char('\\');
    const QString native = plat::toNative(internal);
    struct stat st {};
    if (maxFiles > 0 && !native.isEmpty()) {
        QByteArray root = QFile::encodeName(native);
        while (root.size() > 1 && root.endsWith('/'))
            root.chop(1);
        if (::stat(root.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            FolderWalk w{out, maxFiles, st.st_dev, {}, proceed};
            w.seen.insert({quint64(st.st_dev), quint64(st.st_ino)});
            walkFolder(w, root, internal, 0);
        }
    }
    out << QString();
    return out;
}

bool ParseSampleRingRecord(const QByteArray &bytes, SampleRingRecord &record)
{
    record = SampleRingRecord{};
    RingReader in(bytes);
    SampleRingRecord r;
    r.Ext = in.take(5);
    for (QByteArray &t : r.Heads)
        t = in.text();
    for (QByteArray &t : r.Tails)
        t = in.text();
    r.Next = in.integer();
    if (!in.ok())
        return false;
    if (r.Next < 0 || r.Next >= SampleRingSlots)
        r.Next = 0;
    record = r;
    return true;
}

bool AddToSampleRing(const QByteArray &ext, const SampleBytes &sample)
{
    const QString folder = plat::toNative(LearnedTypesFolder());
    const QString native = plat::toNative(LearnedTypesFolder() + SampleRingFileName(ext));
    if (folder.isEmpty() || native.isEmpty() || !QDir().mkpath(folder))
        return false;
    // The ring holds bytes of the user's files: readable by the user only.
    const QByteArray name = QFile::encodeName(native);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    ::fchmod(fd, 0600);
    QByteArray bytes(qsizetype(std::min<qint64>(st.st_size, kRingReadLimit)), '\0');
    if (!bytes.isEmpty() && !readFully(fd, bytes.data(), bytes.size(), 0))
        bytes.clear();
    ::close(fd);

    SampleRingRecord ring;
    if (!ParseSampleRingRecord(bytes, ring))
        ring = SampleRingRecord{};
    ring.Ext = ext;
    const auto slot = size_t(ring.Next);
    ring.Heads[slot] = sample.Head16;
    ring.Tails[slot] = sample.Tail;
    ring.Next = int16_t(ring.Next >= SampleRingSlots - 1 ? 0 : ring.Next + 1);
    return WriteSampleRingFile(ext, ring);
}

// --- the run -----------------------------------------------------------------

LearningRun::LearningRun(bool unattended, uint32_t seed, int64_t startMs)
    : unattended_(unattended), rng_(seed), startMs_(startMs)
{
}

bool LearningRun::running(const LearnCallbacks &cb) const
{
    return !cb.running || cb.running();
}

void LearningRun::writeCurrent()
{
    if (!openFile_.isEmpty())
        WriteLearnedTypeRecord(openFile_, record_);
    openFile_.clear();
}

void LearningRun::sample(const QStringList &samples, int stride, const LearnCallbacks &cb)
{
    typeList_.clear();
    fileList_.clear();
    met_.clear();
    record_ = LearnedTypeRecord{};
    openFile_.clear();
    const qsizetype last = samples.size() - 1;
    if (last <= 0)
        return;
    const int k = std::max(0, stride);
    first_ = k > 0 ? std::uniform_int_distribution<int>(0, k - 1)(rng_) : 0;
    const int ringStep = LearnRingStep(int(last));
    const auto read = cb.readSample ? cb.readSample : ReadLearnSample;
    const auto clock = cb.clockMs ? cb.clockMs : steadyMs;

    for (qsizetype j = first_; j <= last; j += k + 1) {
        const QString &path = samples[j];
        const QByteArray ext = path.isEmpty() || !running(cb) ? QByteArray() : LearnSampleType(path);
        SampleBytes s;
        if (!ext.isEmpty()) {
            const QByteArray bare = ext.mid(1);
            if (!met_.contains(bare)) {
                met_.insert(bare);
                typeList_ += QString::fromLatin1(bare) + QLatin1Char('|');
                fileList_ += QStringLiteral("ZT_") + QString::fromLatin1(bare) + QLatin1Char(' ');
            }
        }
        if (!ext.isEmpty() && read(path, s) && !s.Head16.isEmpty() && !IsUniformHead(s.Head16)) {
            if (ext != record_.Ext) {
                writeCurrent();
                openFile_ = LearnedTypeFileName(ext);
                // A missing file gives an empty record; one that cannot be
                // read gives an empty one too, which the run writes anew.
                ConvertLearnedTypeRecord(openFile_, true, record_);
            }
            if (UpdateLearnedType(record_, ext, s))
                ++counted_;
            ++analysed_;
            const int v = std::clamp<int>(record_.CurrentVariant, 0, LearnedVariants - 1);
            const auto slot = size_t(v);
            if (IsUsableFirstSignature(record_.Sig1[slot]) && j % ringStep == 0)
                AddToSampleRing(ext, s);

            if (cb.sampled) {
                LearnSampleProgress p;
                p.index = int(j);
                p.left = int(last - j);
                p.ext = ext;
                p.slot = v;
                p.matches = record_.Matches[slot];
                p.analysed = record_.Analysed[slot];
                if (p.analysed != 0)
                    p.status = LearnStatusLine(ext, v, p.matches, p.analysed);
                cb.sampled(p);
            }
            if (unattended_ && clock() - startMs_ > UnattendedLimitMs && cb.stop)
                cb.stop();
        }
        if (!running(cb))
            break;
    }
    writeCurrent();
}

void LearningRun::refine(const LearnCallbacks &cb)
{
    const QStringList files = ListLearnedTypeFiles();
    if (cb.cleaningStarted)
        cb.cleaningStarted(int(files.size()));
    for (const QString &name : files) {
        if (met_.contains(LearnedTypeFromFileName(name))) {
            LearnedTypeRecord record;
            if (ConvertLearnedTypeRecord(name, true, record) == LearnedTypeStatus::Ok) {
                PruneLearnedType(record, unattended_);
                if (WriteLearnedTypeRecord(name, record)) {
                    LearnedTypeRecord enciphered;
                    ConvertLearnedTypeRecord(name, false, enciphered);
                }
            }
        }
        if (cb.cleaningStep)
            cb.cleaningStep();
    }
}
