#include "platform/settings.h"

#include "platform/paths.h"

#include <QByteArray>
#include <QFile>
#include <QRecursiveMutex>
#include <algorithm>
#include <memory>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

struct Value {
    QString name;
    SettingsValue data;
};

struct Key {
    QString name;
    std::vector<std::unique_ptr<Key>> children;
    std::vector<Value> values;

    Key *child(const QString &n) const
    {
        for (const auto &c : children)
            if (c->name.compare(n, Qt::CaseInsensitive) == 0)
                return c.get();
        return nullptr;
    }
    Key *addChild(const QString &n)
    {
        children.push_back(std::make_unique<Key>());
        children.back()->name = n;
        return children.back().get();
    }
    Value *findValue(const QString &n)
    {
        for (auto &v : values)
            if (v.name.compare(n, Qt::CaseInsensitive) == 0)
                return &v;
        return nullptr;
    }
};

struct FileStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};

    bool operator==(const FileStamp &o) const
    {
        return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size
            && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

FileStamp stampOf(const QString &native)
{
    FileStamp s;
    struct stat st;
    if (::stat(QFile::encodeName(native).constData(), &st) == 0) {
        s.exists = true;
        s.dev = st.st_dev;
        s.ino = st.st_ino;
        s.size = st.st_size;
        s.mtime = st.st_mtim;
    }
    return s;
}

struct Hive {
    int32_t id = 0;
    Key root;
    bool loaded = false;
    QString file;
    FileStamp stamp;
    bool readOnly = false;
};

// Key path components; nullopt when a component cannot be a key name.
std::optional<QStringList> splitPath(const QString &path)
{
    QStringList parts;
    for (const QString &p : path.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        for (QChar c : p)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                return std::nullopt;
        parts << p;
    }
    return parts;
}

// --- the file format -------------------------------------------------------

QString quote(const QString &s)
{
    QString out;
    out.reserve(s.size() + 2);
    out += QLatin1Char('"');
    for (QChar c : s) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '"': out += QLatin1String("\\\""); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

// Reads a quoted text starting at line[pos] == '"'; pos ends after the quote.
std::optional<QString> unquote(const QString &line, qsizetype &pos)
{
    if (pos >= line.size() || line[pos] != QLatin1Char('"'))
        return std::nullopt;
    QString out;
    for (++pos; pos < line.size(); ++pos) {
        QChar c = line[pos];
        if (c == QLatin1Char('"')) {
            ++pos;
            return out;
        }
        if (c != QLatin1Char('\\')) {
            out += c;
            continue;
        }
        if (++pos >= line.size())
            return std::nullopt;
        switch (line[pos].unicode()) {
        case 'n': out += QLatin1Char('\n'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'x': {
            bool ok = false;
            const int code = line.mid(pos + 1, 2).toInt(&ok, 16);
            if (!ok || pos + 2 >= line.size())
                return std::nullopt;
            out += QChar(code);
            pos += 2;
            break;
        }
        default: out += line[pos];
        }
    }
    return std::nullopt;   // no closing quote: a cut line
}

void writeKey(QString &out, const Key &key, const QString &fullName)
{
    out += QLatin1Char('[') + fullName + QLatin1String("]\n");
    for (const Value &v : key.values) {
        out += v.name.isEmpty() ? QStringLiteral("@") : quote(v.name);
        out += QLatin1Char('=');
        if (v.data.type == SettingsNumber)
            out += QStringLiteral("dword:%1").arg(quint32(v.data.number), 8, 16, QLatin1Char('0'));
        else
            out += quote(v.data.text);
        out += QLatin1Char('\n');
    }
    out += QLatin1Char('\n');
    for (const auto &c : key.children)
        writeKey(out, *c, fullName + QLatin1Char('\\') + c->name);
}

QByteArray serialize(const Hive &h)
{
    QString out = QStringLiteral("Windows Registry Editor Version 5.00\n\n");
    writeKey(out, h.root, Settings::hiveName(h.id));
    return out.toUtf8();
}

// Lenient: a damaged or cut line is passed over, the rest is read.
void parse(Hive &h, const QByteArray &bytes)
{
    h.root = Key{};
    const QString hiveName = Settings::hiveName(h.id);
    Key *current = nullptr;
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        qsizetype start = 0;
        while (start < line.size() && (line[start] == QLatin1Char(' ') || line[start] == QLatin1Char('\t')))
            ++start;
        if (start >= line.size() || line[start] == QLatin1Char(';'))
            continue;
        if (line[start] == QLatin1Char('[')) {
            current = nullptr;
            const qsizetype end = line.lastIndexOf(QLatin1Char(']'));
            if (end <= start)
                continue;
            const QString full = line.mid(start + 1, end - start - 1);
            const qsizetype slash = full.indexOf(QLatin1Char('\\'));
            const QString head = slash < 0 ? full : full.left(slash);
            if (head.compare(hiveName, Qt::CaseInsensitive) != 0)
                continue;
            auto parts = splitPath(slash < 0 ? QString() : full.mid(slash + 1));
            if (!parts)
                continue;
            Key *k = &h.root;
            for (const QString &p : *parts) {
                Key *c = k->child(p);
                k = c ? c : k->addChild(p);
            }
            current = k;
            continue;
        }
        if (!current)
            continue;
        qsizetype pos = start;
        QString name;
        if (line[pos] == QLatin1Char('@')) {
            ++pos;
        } else {
            auto n = unquote(line, pos);
            if (!n)
                continue;
            name = *n;
        }
        if (pos >= line.size() || line[pos] != QLatin1Char('='))
            continue;
        ++pos;
        SettingsValue v;
        if (pos < line.size() && line[pos] == QLatin1Char('"')) {
            auto t = unquote(line, pos);
            if (!t || line.mid(pos).trimmed().size() != 0)
                continue;
            v.type = SettingsText;
            v.text = *t;
        } else if (line.mid(pos, 6).compare(QLatin1String("dword:"), Qt::CaseInsensitive) == 0) {
            const QString hex = line.mid(pos + 6).trimmed();
            bool ok = false;
            const uint n = hex.toUInt(&ok, 16);
            if (!ok || hex.size() != 8)
                continue;
            v.type = SettingsNumber;
            v.number = int32_t(n);
        } else {
            continue;
        }
        if (Value *old = current->findValue(name))
            old->data = v;
        else
            current->values.push_back({name, v});
    }
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Temporary file beside the target, fsync, rename, fsync of the folder: a
// writer killed at any moment leaves either the old file or the new one.
bool writeAtomically(const QString &native, const QByteArray &bytes)
{
    const QByteArray path = QFile::encodeName(native);
    const QByteArray tmp = path + ".tmp";
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(tmp.constData(), path.constData()) == 0;
    if (!ok) {
        ::unlink(tmp.constData());
        return false;
    }
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray dir = slash > 0 ? path.left(slash) : QByteArray("/");
    const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

// An exclusive lock shared with other instances, held while a change is
// read, applied and written.
class HiveLock {
public:
    explicit HiveLock(const QString &hiveFile)
    {
        fd_ = ::open(QFile::encodeName(hiveFile + QStringLiteral(".lock")).constData(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            int rc;
            do
                rc = ::flock(fd_, LOCK_EX);
            while (rc != 0 && errno == EINTR);
            if (rc != 0) {
                ::close(fd_);
                fd_ = -1;
            }
        }
    }
    ~HiveLock()
    {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace

struct Settings::Impl {
    QRecursiveMutex mutex;
    std::vector<std::unique_ptr<Hive>> hives;

    // An open batch: the hives changed in it, each locked until it ends.
    struct Batched {
        Hive *hive = nullptr;
        QString file;
        std::unique_ptr<HiveLock> lock;
        bool dirty = false;
    };
    int batchDepth = 0;
    std::vector<Batched> batched;

    void endBatch()
    {
        for (Batched &b : batched) {
            if (!b.dirty)
                continue;
            if (writeAtomically(b.file, serialize(*b.hive))) {
                b.hive->file = b.file;
                b.hive->stamp = stampOf(b.file);
            } else {
                b.hive->loaded = false;   // what the file holds again
                refresh(*b.hive);
            }
        }
        batched.clear();
    }

    Hive *hive(int32_t id)
    {
        if (Settings::hiveName(id).isEmpty())
            return nullptr;
        for (auto &h : hives)
            if (h->id == id)
                return h.get();
        hives.push_back(std::make_unique<Hive>());
        hives.back()->id = id;
        return hives.back().get();
    }

    void refresh(Hive &h)
    {
        const QString file = Settings::instance().hiveFileNative(h.id);
        const FileStamp now = stampOf(file);
        if (h.loaded && file == h.file && now == h.stamp)
            return;
        h.file = file;
        h.stamp = now;
        h.loaded = true;
        QByteArray bytes;
        if (now.exists) {
            QFile f(file);
            if (f.open(QIODevice::ReadOnly))
                bytes = f.readAll();
        }
        parse(h, bytes);
    }

    Key *find(Hive &h, const QStringList &parts)
    {
        Key *k = &h.root;
        for (const QString &p : parts) {
            k = k->child(p);
            if (!k)
                return nullptr;
        }
        return k;
    }

    // Read, apply and write under the lock. The change reports whether it
    // altered anything; a failed write restores what the file holds.
    template <typename Change>
    int mutate(Hive &h, Change change)
    {
        if (h.readOnly)
            return SettingsAccessDenied;
        const QString file = Settings::instance().hiveFileNative(h.id);
        if (batchDepth > 0) {
            auto b = std::find_if(batched.begin(), batched.end(),
                                  [&](const Batched &x) { return x.hive == &h && x.file == file; });
            if (b == batched.end()) {
                auto lock = std::make_unique<HiveLock>(file);
                if (!lock->held())
                    return SettingsAccessDenied;
                refresh(h);
                batched.push_back({&h, file, std::move(lock), false});
                b = batched.end() - 1;
            }
            bool changed = false;
            const int rc = change(h.root, changed);
            b->dirty |= rc == SettingsOk && changed;
            return rc;
        }
        HiveLock lock(file);
        if (!lock.held())
            return SettingsAccessDenied;
        refresh(h);
        bool changed = false;
        int rc = change(h.root, changed);
        if (rc == SettingsOk && changed) {
            if (writeAtomically(file, serialize(h))) {
                h.file = file;
                h.stamp = stampOf(file);
            } else {
                rc = SettingsAccessDenied;
                h.loaded = false;
                refresh(h);
            }
        }
        return rc;
    }
};

SettingsBatch::SettingsBatch()
{
    Settings::Impl *i = Settings::instance().impl();
    QMutexLocker lock(&i->mutex);
    ++i->batchDepth;
}

SettingsBatch::~SettingsBatch()
{
    Settings::Impl *i = Settings::instance().impl();
    QMutexLocker lock(&i->mutex);
    if (--i->batchDepth == 0)
        i->endBatch();
}

Settings &Settings::instance()
{
    static Settings s;
    return s;
}

Settings::Impl *Settings::impl()
{
    static Impl i;
    return &i;
}

QString Settings::hiveName(int32_t hive)
{
    switch (hive) {
    case HiveClassesRoot: return QStringLiteral("HKEY_CLASSES_ROOT");
    case HiveCurrentUser: return QStringLiteral("HKEY_CURRENT_USER");
    case HiveLocalMachine: return QStringLiteral("HKEY_LOCAL_MACHINE");
    case HiveUsers: return QStringLiteral("HKEY_USERS");
    default: return {};
    }
}

QString Settings::hiveFileNative(int32_t hive)
{
    const QString name = hiveName(hive);
    return name.isEmpty() ? QString() : configFolderNative() + QLatin1Char('/') + name + QStringLiteral(".reg");
}

bool Settings::keyExists(int32_t hive, const QString &path)
{
    QMutexLocker lock(&impl()->mutex);
    Hive *h = impl()->hive(hive);
    auto parts = splitPath(path);
    if (!h || !parts)
        return false;
    impl()->refresh(*h);
    return impl()->find(*h, *parts) != nullptr;
}

int Settings::createKey(int32_t hive, const QString &path, bool *created)
{
    QMutexLocker lock(&impl()->mutex);
    if (created)
        *created = false;
    Hive *h = impl()->hive(hive);
    auto parts = splitPath(path);
    if (!h || !parts)
        return SettingsInvalid;
    impl()->refresh(*h);
    if (impl()->find(*h, *parts))
        return SettingsOk;
    const int rc = impl()->mutate(*h, [&](Key &root, bool &changed) {
        Key *k = &root;
        for (const QString &p : *parts) {
            Key *c = k->child(p);
            if (!c) {
                c = k->addChild(p);
                changed = true;
            }
            k = c;
        }
        return int(SettingsOk);
    });
    if (created)
        *created = rc == SettingsOk;
    return rc;
}

namespace {
int removeKey(Key &root, const QStringList &parts, bool mustBeLeaf, bool &changed)
{
    if (parts.isEmpty())
        return SettingsAccessDenied;   // the hive's root key stays
    Key *parent = &root;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        parent = parent->child(parts[i]);
        if (!parent)
            return SettingsNotFound;
    }
    for (auto it = parent->children.begin(); it != parent->children.end(); ++it) {
        if ((*it)->name.compare(parts.last(), Qt::CaseInsensitive) != 0)
            continue;
        if (mustBeLeaf && !(*it)->children.empty())
            return SettingsAccessDenied;
        parent->children.erase(it);
        changed = true;
        return SettingsOk;
    }
    return SettingsNotFound;
}
} // namespace

int Settings::deleteKey(int32_t hive, const QString &path)
{
    QMutexLocker lock(&impl()->mutex);
    Hive *h = impl()->hive(hive);
    auto parts = splitPath(path);
    if (!h || !parts)
        return SettingsInvalid;
    return impl()->mutate(*h, [&](Key &root, bool &changed) { return removeKey(root, *parts, true, changed); });
}

int Settings::deleteTree(int32_t hive, const QString &path)
{
    QMutexLocker lock(&impl()->mutex);
    Hive *h = impl()->hive(hive);
    auto parts = splitPath(path);
    if (!h || !parts)
        return SettingsInvalid;
    return impl()->mutate(*h, [&](Key &root, bool &changed) { return removeKey(root, *parts, false, changed); });
}

std::optional<SettingsValue> Settings::value(int32_t hive, const QString &path, const QString &name, int *status)
{
    QMutexLocker lock(&impl()->mutex);
    int dummy;
    int &rc = status ? *status : dummy;
    Hive *h = impl()->hive(hive);
    auto parts = splitPath(path);
    if (!h || !parts) {
        rc = SettingsInvalid;
        return std::nullopt;
    }
    impl()->refresh(*h);
    Key *k = impl()->find(*h, *parts);
    Value *v = k ? k->findValue(name) : nullptr;
    if (!v) {
        rc = SettingsNotFound;
        return std::nullopt;
    }
    rc = SettingsOk;
    return v->data;
}

int Settings::setValue(int32_t hive, const QString &path, const QString &name, const SettingsValue &value)
{
    QMutexLocker lock(&impl()->mutex);
    Hive *h = impl()->hive(hive);
    auto parts = splitPath(path);
    if (!h || !parts || (value.type != SettingsText && value.type != SettingsNumber))
        return SettingsInvalid;
    return impl()->mutate(*h, [&](Key &root, bool &changed) {
        Key *k = &root;
        for (const QString &p : *parts) {
            Key *c = k->child(p);
            k = c ? c : k->addChild(p);
        }
        SettingsValue stored = value;
        if (stored.type == SettingsNumber)
            stored.text.clear();
        else
            stored.number = 0;
        if (Value *old = k->findValue(name)) {
            if (old->data.type == stored.type && old->data.text == stored.text && old->data.number == stored.number)
                return int(SettingsOk);
            old->data = stored;
        } else {
            k->values.push_back({name, stored});
        }
        changed = true;
        return int(SettingsOk);
    });
}

int Settings::setText(int32_t hive, const QString &path, const QString &name, const QString &text)
{
    SettingsValue v;
    v.type = SettingsText;
    v.text = text;
    return setValue(hive, path, name, v);
}

int Settings::setNumber(int32_t hive, const QString &path, const QString &name, int32_t number)
{
    SettingsValue v;
    v.type = SettingsNumber;
    v.number = number;
    return setValue(hive, path, name, v);
}

int Settings::deleteValue(int32_t hive, const QString &path, const QString &name)
{
    QMutexLocker lock(&impl()->mutex);
    Hive *h = impl()->hive(hive);
    auto parts = splitPath(path);
    if (!h || !parts)
        return SettingsInvalid;
    return impl()->mutate(*h, [&](Key &root, bool &changed) {
        Key *k = &root;
        for (const QString &p : *parts)
            if (!(k = k->child(p)))
                break;
        if (!k)
            return int(SettingsNotFound);
        for (auto it = k->values.begin(); it != k->values.end(); ++it) {
            if (it->name.compare(name, Qt::CaseInsensitive) == 0) {
                k->values.erase(it);
                changed = true;
                return int(SettingsOk);
            }
        }
        return int(SettingsNotFound);
    });
}

QStringList Settings::subkeys(int32_t hive, const QString &path)
{
    QMutexLocker lock(&impl()->mutex);
    Hive *h = impl()->hive(hive);
    auto parts = splitPath(path);
    if (!h || !parts)
        return {};
    impl()->refresh(*h);
    QStringList out;
    if (Key *k = impl()->find(*h, *parts))
        for (const auto &c : k->children)
            out << c->name;
    return out;
}

QStringList Settings::valueNames(int32_t hive, const QString &path)
{
    QMutexLocker lock(&impl()->mutex);
    Hive *h = impl()->hive(hive);
    auto parts = splitPath(path);
    if (!h || !parts)
        return {};
    impl()->refresh(*h);
    QStringList out;
    if (Key *k = impl()->find(*h, *parts))
        for (const Value &v : k->values)
            out << v.name;
    return out;
}

bool Settings::hiveWritable(int32_t hive)
{
    QMutexLocker lock(&impl()->mutex);
    Hive *h = impl()->hive(hive);
    if (!h || h->readOnly)
        return false;
    const QString file = hiveFileNative(hive);
    const QByteArray dir = QFile::encodeName(configFolderNative());
    if (::access(dir.constData(), W_OK) != 0)
        return false;
    const QByteArray f = QFile::encodeName(file);
    return ::access(f.constData(), F_OK) != 0 || ::access(f.constData(), W_OK) == 0;
}

void Settings::setHiveReadOnly(int32_t hive, bool readOnly)
{
    QMutexLocker lock(&impl()->mutex);
    if (Hive *h = impl()->hive(hive))
        h->readOnly = readOnly;
}

void Settings::reload()
{
    QMutexLocker lock(&impl()->mutex);
    for (auto &h : impl()->hives)
        h->loaded = false;
}

// --- the per-user settings store ---------------------------------------------

QString userSettingsKey(const QString &app, const QString &section)
{
    QString key = QStringLiteral("Software\\VB and VBA Program Settings\\") + app;
    if (!section.isEmpty())
        key += QLatin1Char('\\') + section;
    return key;
}

QString userSetting(const QString &app, const QString &section, const QString &key, const QString &defaultValue)
{
    if (app.isEmpty() || section.isEmpty() || key.isEmpty())
        return defaultValue;
    auto v = Settings::instance().value(HiveCurrentUser, userSettingsKey(app, section), key);
    if (!v)
        return defaultValue;
    return v->type == SettingsNumber ? QString::number(v->number) : v->text;
}

bool saveUserSetting(const QString &app, const QString &section, const QString &key, const QString &value)
{
    if (app.isEmpty() || section.isEmpty() || key.isEmpty())
        return false;
    return Settings::instance().setText(HiveCurrentUser, userSettingsKey(app, section), key, value) == SettingsOk;
}

bool deleteUserSetting(const QString &app, const QString &section, const QString &key)
{
    if (app.isEmpty())
        return false;
    Settings &s = Settings::instance();
    if (section.isEmpty())
        return s.deleteTree(HiveCurrentUser, userSettingsKey(app)) == SettingsOk;
    if (key.isEmpty())
        return s.deleteTree(HiveCurrentUser, userSettingsKey(app, section)) == SettingsOk;
    return s.deleteValue(HiveCurrentUser, userSettingsKey(app, section), key) == SettingsOk;
}

} // namespace plat
