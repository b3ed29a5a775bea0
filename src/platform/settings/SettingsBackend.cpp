#include "platform/settings/SettingsBackend.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QUrl>
#include <QVariant>

#include "platform/FailureRun.h"

namespace platform::SettingsBackend {
namespace {

// ---- file syntax -------------------------------------------------------------------------

QString quote(const QString& s) {
    QString out;
    out.reserve(s.size() + 2);
    out += QLatin1Char('"');
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == QLatin1Char('\\')) {
            out += QLatin1String("\\\\");
        } else if (c == QLatin1Char('"')) {
            out += QLatin1String("\\\"");
        } else if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            out += c;
            out += s[++i];
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.isSurrogate()) {
            // Line breaks and lone surrogates cannot stand in a UTF-8 line as they are.
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

std::optional<QString> unquote(QStringView v) {
    if (v.size() < 2 || v.front() != QLatin1Char('"') || v.back() != QLatin1Char('"'))
        return std::nullopt;
    QString out;
    out.reserve(v.size());
    for (qsizetype i = 1; i < v.size() - 1; ++i) {
        const QChar c = v[i];
        if (c == QLatin1Char('"'))
            return std::nullopt;  // an unescaped quote inside: not ours
        if (c != QLatin1Char('\\')) {
            out += c;
            continue;
        }
        if (++i >= v.size() - 1)
            return std::nullopt;
        const QChar e = v[i];
        if (e == QLatin1Char('\\') || e == QLatin1Char('"')) {
            out += e;
        } else if (e == QLatin1Char('u') && i + 4 <= v.size() - 2) {
            bool ok = false;
            const ushort code = v.mid(i + 1, 4).toString().toUShort(&ok, 16);
            if (!ok)
                return std::nullopt;
            out += QChar(code);
            i += 4;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// Stored values: a QString is text we can read; a QByteArray is whatever else stood in the file
// (a number, a list, a byte array another program wrote, a line cut short by a crash, bytes that
// are not UTF-8). Those read as missing but are written back byte for byte, so a save never loses
// or alters what it could not read.
using Values = QMap<QString, QVariant>;

bool isUtf8(QByteArrayView bytes) {
    // A fresh decoder each time: a stateless one forgets its errors along with its state. The
    // decoding runs only when its result becomes a string.
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

void parse(const QByteArray& all, Values& map) {
    QString prefix;
    bool inUsableSection = true;
    qsizetype from = 0;
    while (from < all.size()) {
        qsizetype to = all.indexOf('\n', from);
        if (to < 0)
            to = all.size();
        const QByteArray line =
            QByteArray::fromRawData(all.constData() + from, to - from).trimmed();
        from = to + 1;
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            // A damaged header must not move the keys below it into the section above it.
            inUsableSection = line.endsWith(']') && isUtf8(line);
            if (inUsableSection) {
                prefix = QString::fromUtf8(line.mid(1, line.size() - 2)).trimmed();
                prefix.replace(QLatin1Char('\\'), QLatin1Char('/'));
                if (!prefix.isEmpty())
                    prefix += QLatin1Char('/');
            }
            continue;
        }
        if (!inUsableSection)
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray keyBytes = line.left(eq).trimmed();
        if (keyBytes.isEmpty() || keyBytes.contains('/') || keyBytes.contains('\\') ||
            !isUtf8(keyBytes))
            continue;
        const QString key = prefix + QString::fromUtf8(keyBytes);
        const QByteArray value = line.mid(eq + 1).trimmed();
        // Text we wrote is quoted UTF-8 with every control character escaped; a raw zero byte
        // in it is damage (a crash leaves runs of them), not the end of the text.
        if (value.startsWith('"') && !value.contains('\0') && isUtf8(value)) {
            if (const auto text = unquote(QString::fromUtf8(value))) {
                map.insert(key, *text);
                continue;
            }
        }
        map.insert(key, QByteArray(value.constData(), value.size()));
    }
}

QByteArray serialize(const Values& map) {
    QMap<QString, QList<QByteArray>> sections;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().lastIndexOf(QLatin1Char('/'));
        QString section = slash < 0 ? QString() : it.key().left(slash);
        section.replace(QLatin1Char('/'), QLatin1Char('\\'));
        const QByteArray name = it.key().mid(slash + 1).toUtf8();
        const QVariant& v = it.value();
        const QByteArray text =
            v.typeId() == QMetaType::QString ? quote(v.toString()).toUtf8() : v.toByteArray();
        sections[section].append(name + '=' + text);
    }
    QByteArray out;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        if (!it.key().isEmpty())
            out += '[' + it.key().toUtf8() + "]\n";
        for (const QByteArray& line : it.value())
            out += line + '\n';
        out += '\n';
    }
    return out;
}

// A settings file holds a few hundred bytes; one far beyond that is not read at all (its values
// read as missing and saves refuse to replace it), so it cannot take the memory and the minutes
// its reading would need.
constexpr off_t kMaxFileBytes = 64 * 1024 * 1024;

// Everything an open descriptor holds, or nothing when it cannot be read to its end.
std::optional<QByteArray> readAll(int fd, off_t sizeHint) {
    QByteArray all;
    all.reserve(qsizetype(qBound<off_t>(0, sizeHint, kMaxFileBytes)) + 1);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            if (all.size() + n > kMaxFileBytes) {
                errno = EFBIG;
                return std::nullopt;
            }
            all.append(buffer, n);
        } else if (n == 0) {
            return all;
        } else if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

QString group(const QString& keyPath) {
    QString g = keyPath;
    g.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return g;
}

// Value names may hold any character; the file's key names may not.
QString encodeName(const QString& name) {
    return QString::fromLatin1(QUrl::toPercentEncoding(name));
}

// A store that cannot save tells stderr once, not at every value written.
FailureRun saveFailures;

}  // namespace

QString filePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/domivox/registry.ini");
}

namespace {

// The parsed file, kept only as long as the file on disk is the very same: every read checks the
// file's identity, size and change times first, so a value changed by another program is seen
// at the next read. Saves replace the file, which always changes its identity.
struct Snapshot {
    bool valid = false;
    QString path;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    Values map;

    bool sameAs(const struct stat& st) const {
        return valid && st.st_dev == dev && st.st_ino == ino && st.st_size == size &&
               st.st_mtim.tv_sec == mtime.tv_sec && st.st_mtim.tv_nsec == mtime.tv_nsec &&
               st.st_ctim.tv_sec == ctime.tv_sec && st.st_ctim.tv_nsec == ctime.tv_nsec;
    }
};

Snapshot snapshot;

// Opens the settings file to read without waiting on it: something that is not a plain file (a
// folder, a pipe that would wait for a writer for ever, a device) counts as no readable file.
int openToRead(const QByteArray& native, struct stat& st) {
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes) {
        const int why = S_ISREG(st.st_mode) && st.st_size > kMaxFileBytes ? EFBIG : errno;
        ::close(fd);
        errno = why;
        return -1;
    }
    return fd;
}

// The values in the file now; nullptr when there is no readable file.
const Values* currentValues() {
    const QString path = filePath();
    static QString lastPath;
    static QByteArray native;
    if (path != lastPath) {
        lastPath = path;
        native = QFile::encodeName(path);
    }
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        snapshot.valid = false;
        return nullptr;
    }
    if (snapshot.path == path && snapshot.sameAs(st))
        return &snapshot.map;

    // Identity from the descriptor we read through, so a file replaced meanwhile is noticed at
    // the next read rather than cached under the wrong name.
    struct stat opened {};
    const int fd = openToRead(native, opened);
    snapshot = Snapshot();
    if (fd < 0)
        return nullptr;
    const std::optional<QByteArray> all = readAll(fd, opened.st_size);
    ::close(fd);
    if (!all)
        return nullptr;
    parse(*all, snapshot.map);
    snapshot.valid = true;
    snapshot.path = path;
    snapshot.dev = opened.st_dev;
    snapshot.ino = opened.st_ino;
    snapshot.size = opened.st_size;
    snapshot.mtime = opened.st_mtim;
    snapshot.ctime = opened.st_ctim;
    return &snapshot.map;
}

QString lastError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Holds the settings folder for one save, so two running copies of the program never merge
// their changes into the same old file. The lock lives on the folder itself: it needs no file
// (a full disk cannot refuse it) and dies with the process (a crash leaves nothing stale).
class FolderLock {
public:
    explicit FolderLock(const QByteArray& folder)
        : fd_(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ < 0)
            return;
        // Another copy's save takes milliseconds; one that holds on longer is stuck, and waiting
        // for it would freeze this program's window.
        for (int tries = 0; tries < 200; ++tries) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                locked_ = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR)
                return;
            ::usleep(10000);
        }
    }
    ~FolderLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool locked() const { return locked_; }
    int fd() const { return fd_; }

private:
    int fd_;
    bool locked_ = false;
};

bool writeAll(int fd, const QByteArray& bytes) {
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

// Sets one value in the file at `target` (or removes it, given no value): the whole file is read,
// changed and written to a new file beside it, which is flushed to the disk and then renamed over
// the old one. A crash at any moment leaves either the old file or the new one, complete. Nothing
// it could not read is overwritten. Returns the reason when it fails.
std::optional<QString> save(const QString& target, const QString& key,
                            const std::optional<QString>& value) {
    const QByteArray native = QFile::encodeName(target);
    const QByteArray folder = QFile::encodeName(QFileInfo(target).path());
    FolderLock lock(folder);
    if (lock.fd() < 0)
        return lastError();
    if (!lock.locked())
        return QStringLiteral("another program keeps the settings folder locked");

    Values map;
    mode_t mode = S_IRUSR | S_IWUSR;  // the file holds the lock's password
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return QStringLiteral("it is not a file");
        const int fd = openToRead(native, st);
        if (fd < 0)
            return lastError();
        const std::optional<QByteArray> all = readAll(fd, st.st_size);
        ::close(fd);
        if (!all)
            return lastError();
        parse(*all, map);
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return lastError();
    }
    if (value)
        map.insert(key, *value);
    else if (map.remove(key) == 0)
        return std::nullopt;  // nothing to forget: the file stays as it is
    const QByteArray bytes = serialize(map);

    const QByteArray temp = native + ".saving";
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return lastError();
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    QString why = ok ? QString() : lastError();
    if (::close(fd) != 0 && ok) {
        ok = false;
        why = lastError();
    }
    if (ok && ::rename(temp.constData(), native.constData()) != 0) {
        ok = false;
        why = lastError();
    }
    if (!ok) {
        ::unlink(temp.constData());
        return why;
    }
    // The rename itself reaches the disk only with the folder.
    ::fsync(lock.fd());
    return std::nullopt;
}

}  // namespace

std::optional<QString> read(const QString& keyPath, const QString& name) {
    const Values* values = currentValues();
    if (!values)
        return std::nullopt;
    // The lock window asks for the same value a thousand times a second: keep the last key.
    static QString lastPath, lastName, lastKey;
    if (keyPath != lastPath || name != lastName) {
        lastPath = keyPath;
        lastName = name;
        lastKey = group(keyPath) + QLatin1Char('/') + encodeName(name);
    }
    const auto it = values->constFind(lastKey);
    if (it == values->constEnd() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

bool keyExists(const QString& keyPath) {
    const Values* values = currentValues();
    if (!values)
        return false;
    const QString prefix = group(keyPath) + QLatin1Char('/');
    const auto it = values->lowerBound(prefix);
    return it != values->constEnd() && it.key().startsWith(prefix);
}

namespace {

bool store(const QString& keyPath, const QString& name, const std::optional<QString>& value) {
    const QString path = filePath();
    const QFileInfo info(path);
    std::optional<QString> why;
    if (!info.dir().exists()) {
        const bool made = QDir().mkpath(info.dir().path()) &&
                          QFile::setPermissions(info.dir().path(), QFileDevice::ReadOwner |
                                                                       QFileDevice::WriteOwner |
                                                                       QFileDevice::ExeOwner);
        if (!made)
            why = QStringLiteral("cannot create the folder");
    }
    if (!why) {
        // The file may be a link to where the user keeps it: that file is saved, the link stays.
        QString target = path;
        if (info.isSymLink()) {
            target = info.canonicalFilePath();
            if (target.isEmpty())
                why = QStringLiteral("it is a link to nothing");
        }
        if (!why)
            why = save(target, group(keyPath) + QLatin1Char('/') + encodeName(name), value);
    }
    if (why && saveFailures.firstOfRun()) {
        std::fprintf(stderr, "Domivox: cannot save settings to %s (%s); changes are not kept\n",
                     qPrintable(path), qPrintable(*why));
    }
    if (!why)
        saveFailures.endRun();
    return !why;
}

}  // namespace

bool write(const QString& keyPath, const QString& name, const QString& value) {
    return store(keyPath, name, value);
}

bool remove(const QString& keyPath, const QString& name) {
    if (!currentValues())
        return true;  // no file, nothing to forget; do not create one
    return store(keyPath, name, std::nullopt);
}

std::optional<QString> readHandEdited(const QString& keyPath, const QString& name) {
    if (const auto text = read(keyPath, name))
        return text;
    const Values* values = currentValues();
    if (!values)
        return std::nullopt;
    const auto it = values->constFind(group(keyPath) + QLatin1Char('/') + encodeName(name));
    if (it == values->constEnd() || it->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    const QByteArray bare = it->toByteArray();
    if (bare.isEmpty() || bare.startsWith('"') || !isUtf8(bare))
        return std::nullopt;
    return QString::fromUtf8(bare);
}

}  // namespace platform::SettingsBackend
