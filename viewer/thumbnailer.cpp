#include "viewer/thumbnailer.h"

#include "drive/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "viewer/pictureops.h"
#include "viewer/typeicons.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QUrl>
#include <atomic>

namespace {

// The size cap of a request whose width is above 620.
constexpr int kCapWidth = 620;
constexpr int kCapHeight = 420;

// The Exec line as words; quoted words keep their blanks.
QStringList splitExec(const QString &exec)
{
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) {
                word += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}

// A private name for the thumbnailer's picture.
QString scratchPicture()
{
    static std::atomic<int> counter{0};
    const QString folder = plat::toNative(GetTempFolder());
    if (folder.isEmpty())
        return QString();
    return folder + QStringLiteral("/thumb-%1-%2.png")
                        .arg(QCoreApplication::applicationPid())
                        .arg(counter.fetch_add(1) + 1);
}

// The picture flattened onto white (a document page with transparent parts
// is shown as paper).
QImage onWhite(const QImage &picture)
{
    if (!picture.hasAlphaChannel())
        return picture.convertToFormat(QImage::Format_RGB32);
    QImage flat(picture.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter p(&flat);
    p.drawImage(0, 0, picture);
    return flat;
}

} // namespace

cThumbnailGenerator::cThumbnailGenerator() = default;

QString cThumbnailGenerator::GetFolderPart(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf('\\'), path.lastIndexOf('/'));
    return cut < 0 ? QString() : path.left(cut + 1);
}

QStringList ThumbnailerArguments(const QString &exec, const QString &inputNative, const QString &outputNative,
                                 int size)
{
    QStringList args;
    for (const QString &word : splitExec(exec)) {
        QString out;
        bool dropped = false;
        for (qsizetype i = 0; i < word.size(); ++i) {
            if (word[i] != '%' || i + 1 >= word.size()) {
                out += word[i];
                continue;
            }
            const QChar code = word[++i];
            if (code == 'i')
                out += inputNative;
            else if (code == 'u')
                out += QString::fromLatin1(QUrl::fromLocalFile(inputNative).toEncoded());
            else if (code == 'o')
                out += outputNative;
            else if (code == 's')
                out += QString::number(size);
            else if (code == '%')
                out += '%';
            else
                dropped = true;   // a field code without meaning here
        }
        if (!(dropped && out.isEmpty()))
            args << out;
    }
    return args;
}

std::optional<pcMemDC> cThumbnailGenerator::GetThumbnail(bool &success)
{
    success = false;
    released_ = false;
    const QString folder = GetFolderPart(fileName_);
    if (folder.isEmpty())
        return std::nullopt;
    const QString nativeFolder = plat::toNative(folder);
    if (nativeFolder.isEmpty() || !QFileInfo(nativeFolder).isDir())
        return std::nullopt;
    // The file by its own path, never one whose name only contains its name.
    const QString native = plat::toNative(fileName_);
    const QFileInfo file(native);
    if (native.isEmpty() || !file.isFile())
        return std::nullopt;
    const qsizetype dot = file.fileName().lastIndexOf('.');
    const ThumbnailerEntry *thumbnailer = dot < 0 ? nullptr : ThumbnailerForExtension(file.fileName().mid(dot + 1));
    if (!thumbnailer)
        return std::nullopt;

    int width = width_, height = height_;
    if (width > kCapWidth) {
        width = kCapWidth;
        height = kCapHeight;
    }
    if (width <= 0 || height <= 0)
        return std::nullopt;

    const QString output = scratchPicture();
    if (output.isEmpty())
        return std::nullopt;
    QStringList args = ThumbnailerArguments(thumbnailer->exec, file.absoluteFilePath(), output, std::max(width, height));
    if (args.isEmpty())
        return std::nullopt;
    plat::ChildRun run;
    run.program = args.takeFirst();
    run.args = args;
    run.timeoutMs = TimeLimitMs;
    run.limits.cpuSeconds = std::max(1, TimeLimitMs / 1000 + 1);
    run.whileWaiting = WhileWaiting;
    run.stopRequested = [this] { return released_; };
    busy_ = true;
    const plat::ChildResult r = plat::runChild(run);
    busy_ = false;

    QImage picture;
    if (r.started && !r.timedOut && !r.crashed && r.exitCode == 0 && !released_)
        picture = LoadPicture(output, QSize(width, height), nullptr, DecodeBudget::Preview);
    QFile::remove(output);
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0)
        return std::nullopt;

    // Fitted into the size asked for, keeping the proportions; a smaller
    // picture is enlarged only when the request allows it.
    QSize fitted = picture.size().scaled(width, height, Qt::KeepAspectRatio);
    if ((flags_ & ieiflag::OrigSize) && fitted.width() > picture.width())
        fitted = picture.size();
    fitted = fitted.expandedTo(QSize(1, 1));
    if (fitted != picture.size())
        picture = picture.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    pcMemDC dc;
    dc.CreateFromBitmap(onWhite(picture));
    if (dc.GetWidth() <= 0 || dc.GetHeight() <= 0)
        return std::nullopt;
    success = true;
    return dc;
}

void cThumbnailGenerator::FreeItemIds()
{
    if (busy_)
        released_ = true;
}
