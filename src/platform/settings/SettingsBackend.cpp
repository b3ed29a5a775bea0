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
#include <QStringEncoder>
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

// The text of a quoted value, or nothing when the bytes are not one. `bytes` starts at the opening
// quote; `end` receives the position just past the closing one.
std::optional<QString> unquote(QByteArrayView bytes, qsizetype* end) {
    // The quote characters and the backslash are ASCII, and no byte of a UTF-8 sequence is, so
    // the closing quote can be found in the bytes.
    qsizetype close = -1;
    for (qsizetype i = 1; i < bytes.size(); ++i) {
        if (bytes[i] == '\\') {
            ++i;
        } else if (bytes[i] == '"') {
            close = i;
            break;
        }
    }
    if (close < 0)
        return std::nullopt;
    const QByteArrayView quoted = bytes.first(close + 1);
    // Text we wrote is UTF-8 with every control character escaped; a raw zero byte in it is
    // damage (a crash leaves runs of them), not the end of the text.
    if (quoted.contains('\0'))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString v = decoder.decode(quoted);
    if (decoder.hasError())
        return std::nullopt;
    QString out;
    out.reserve(v.size());
    for (qsizetype i = 1; i < v.size() - 1; ++i) {
        const QChar c = v[i];
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
            const ushort code = v.mid(i + 1, 4).toUShort(&ok, 16);
            if (!ok)
                return std::nullopt;
            out += QChar(code);
            i += 4;
        } else {
            return std::nullopt;
        }
    }
    *end = close + 1;
    return out;
}

// Stored values: a QString is text we can read; a QByteArray is whatever else stood in the file
// (a number, a list, a byte array another program wrote, a line cut short by a crash, bytes that
// are not UTF-8). Those read as missing; their lines, like every line the program does not
// write, stay in the file as they are.
using Values = QMap<QString, QVariant>;

bool isUtf8(QByteArrayView bytes) {
    // A fresh decoder each time: a stateless one forgets its errors along with its state. The
    // decoding runs only when its result becomes a string.
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

const QByteArray kByteOrderMark("\xEF\xBB\xBF");

// UTF-8 to text with a leading U+FEFF kept as a character: QString::fromUtf8 drops it, and a
// file's text must come back exactly as it was.
QString fromUtf8Exactly(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

// The file as lines, each with its own ending, so that a save writes every line it does not
// change back exactly as it stood: comments, blank lines, other programs' sections, duplicates,
// damaged lines, the editor's line endings and byte-order mark.
struct Document {
    struct Line {
        QByteArray text;  // without its ending
        // "\n", "\r\n", "\r" or nothing (the last line). A carriage return on its own ends a
        // line too: editors of another age wrote them, and one left inside a line would read
        // into its value and be lost with that value at the next save.
        QByteArray end;
        // For a value line of a usable section: its key (section/name), where the value stands
        // in `text`, and what it holds.
        QString key;
        qsizetype valueFrom = 0;
        qsizetype valueTo = 0;
        QVariant value;
        // For a usable section header: the section's name; null otherwise.
        QString section;
        bool isHeader = false;
    };
    // The file's own encoding: UTF-8, or UTF-16 when it starts with that byte-order mark (its
    // lines are then read, and written back, through UTF-8).
    enum class Encoding { Utf8, Utf16LE, Utf16BE };
    Encoding encoding = Encoding::Utf8;
    // The text begins with U+FEFF: a UTF-8 file's byte-order mark, or in a UTF-16 file one more
    // mark after the file's own (left by an editor that added its mark to text that had one).
    bool byteOrderMark = false;
    // Why the file cannot be read at all (UTF-16 that does not decode); empty when it can.
    QString damage;
    QList<Line> lines;

    // For a line the program adds: the file's first line break; a carriage return alone only
    // when the file has nothing else.
    QByteArray lineEnding() const {
        QByteArray any;
        for (const Line& l : lines) {
            if (l.end.endsWith('\n'))
                return l.end;
            if (any.isEmpty())
                any = l.end;
        }
        return any.isEmpty() ? QByteArray("\n") : any;
    }
    QByteArray bytes() const {
        QByteArray out = byteOrderMark ? kByteOrderMark : QByteArray();
        for (const Line& l : lines)
            out += l.text + l.end;
        if (encoding == Encoding::Utf8)
            return out;
        const bool little = encoding == Encoding::Utf16LE;
        QStringEncoder encoder(little ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE);
        const QByteArray text = encoder.encode(fromUtf8Exactly(out));
        return QByteArray(little ? "\xFF\xFE" : "\xFE\xFF") + text;
    }
};

// Reads one value line's value: `from` is where it starts (past the '=' and the blanks after it).
// A quoted value may be followed by a comment (';' or '#'); an unquoted one ends before a ';' or
// '#' that follows a blank. Anything else after a closing quote makes the value not text.
void readValue(Document::Line& line, qsizetype from) {
    const QByteArray& t = line.text;
    qsizetype trimmedEnd = t.size();
    while (trimmedEnd > from && isSpace(t[trimmedEnd - 1]))
        --trimmedEnd;
    line.valueFrom = from;
    line.valueTo = trimmedEnd;
    const QByteArrayView rest(t.constData() + from, trimmedEnd - from);
    if (rest.startsWith('"')) {
        qsizetype end = 0;
        if (const auto text = unquote(rest, &end)) {
            qsizetype k = end;
            while (k < rest.size() && isBlank(rest[k]))
                ++k;
            if (k == rest.size() || rest[k] == ';' || rest[k] == '#') {
                line.valueTo = from + end;
                line.value = *text;
                return;
            }
        }
        line.value = rest.toByteArray();
        return;
    }
    for (qsizetype k = from; k < trimmedEnd; ++k) {
        if ((t[k] == ';' || t[k] == '#') && k > 0 && isBlank(t[k - 1])) {
            qsizetype end = k;
            while (end > from && isBlank(t[end - 1]))
                --end;
            line.valueTo = end;
            break;
        }
    }
    line.value = QByteArray(t.constData() + from, line.valueTo - from);
}

Document parseUtf8(const QByteArray& all, qsizetype from, Document doc);

// A file some editors save as UTF-16 is read through UTF-8; it must come back exactly as it
// was, or it is not read (and not replaced) at all.
Document parseUtf16(const QByteArray& all) {
    Document doc;
    const bool little = all.startsWith("\xFF\xFE");
    doc.encoding = little ? Document::Encoding::Utf16LE : Document::Encoding::Utf16BE;
    const QByteArrayView rest = QByteArrayView(all).sliced(2);
    // The file's mark is already taken off; a U+FEFF that follows it is text, kept as such.
    QStringDecoder decoder(little ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                           QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(rest);
    QStringEncoder encoder(little ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE);
    // A lone surrogate decodes and encodes again as it was, but has no UTF-8 form.
    const QByteArray utf8 = text.toUtf8();
    if (decoder.hasError() || QByteArray(encoder.encode(text)) != rest ||
        fromUtf8Exactly(utf8) != text) {
        doc.damage = QStringLiteral("it is UTF-16 text with damaged characters");
        return doc;
    }
    // After the mark, the text is read as a UTF-8 file's would be, a mark of its own included.
    qsizetype from = 0;
    if (utf8.startsWith(kByteOrderMark)) {
        doc.byteOrderMark = true;
        from = kByteOrderMark.size();
    }
    return parseUtf8(utf8, from, doc);
}

Document parse(const QByteArray& all) {
    if (all.startsWith("\xFF\xFE") || all.startsWith("\xFE\xFF"))
        return parseUtf16(all);
    Document doc;
    qsizetype from = 0;
    if (all.startsWith(kByteOrderMark)) {
        doc.byteOrderMark = true;
        from = kByteOrderMark.size();
    }
    return parseUtf8(all, from, doc);
}

// Takes the line that starts at `from` into `line` (its text and its ending); returns where the
// next one starts.
qsizetype nextLine(const QByteArray& all, qsizetype from, Document::Line& line) {
    qsizetype to = from;
    while (to < all.size() && all[to] != '\n' && all[to] != '\r')
        ++to;
    line.text = all.mid(from, to - from);
    if (to == all.size())
        return to;
    if (all[to] == '\r' && to + 1 < all.size() && all[to + 1] == '\n')
        line.end = "\r\n";
    else
        line.end = all.mid(to, 1);
    return to + line.end.size();
}

// The name between the brackets of a section header, which may be followed by blanks and a
// comment; nothing when the line is not a whole header. A name may hold ']' itself: the header
// ends at the first ']' that only blanks or a comment follow.
std::optional<QByteArray> headerName(const QByteArray& trimmed) {
    for (qsizetype close = trimmed.indexOf(']'); close > 0;
         close = trimmed.indexOf(']', close + 1)) {
        qsizetype k = close + 1;
        while (k < trimmed.size() && isBlank(trimmed[k]))
            ++k;
        if (k == trimmed.size() || trimmed[k] == ';' || trimmed[k] == '#')
            return trimmed.mid(1, close - 1);
    }
    return std::nullopt;
}

Document parseUtf8(const QByteArray& all, qsizetype from, Document doc) {
    QString prefix;
    bool inUsableSection = true;
    while (from < all.size()) {
        Document::Line line;
        from = nextLine(all, from, line);
        const QByteArray trimmed = line.text.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#')) {
            doc.lines.append(line);
            continue;
        }
        if (trimmed.startsWith('[')) {
            // A damaged header must not move the keys below it into the section above it.
            const std::optional<QByteArray> name = headerName(trimmed);
            inUsableSection = name && isUtf8(*name);
            if (inUsableSection) {
                prefix = QString::fromUtf8(*name).trimmed();
                prefix.replace(QLatin1Char('\\'), QLatin1Char('/'));
                line.isHeader = true;
                line.section = prefix;
                if (!prefix.isEmpty())
                    prefix += QLatin1Char('/');
            }
            doc.lines.append(line);
            continue;
        }
        const qsizetype eq = line.text.indexOf('=');
        const QByteArray keyBytes = eq < 0 ? QByteArray() : line.text.left(eq).trimmed();
        if (!inUsableSection || keyBytes.isEmpty() || keyBytes.contains('/') ||
            keyBytes.contains('\\') || !isUtf8(keyBytes)) {
            doc.lines.append(line);
            continue;
        }
        line.key = prefix + QString::fromUtf8(keyBytes);
        qsizetype v = eq + 1;
        while (v < line.text.size() && isSpace(line.text[v]))
            ++v;
        readValue(line, v);
        doc.lines.append(line);
    }
    return doc;
}

// What a read sees: of keys written twice, the later line counts.
Values valuesOf(const Document& doc) {
    Values map;
    for (const Document::Line& l : doc.lines)
        if (!l.key.isEmpty())
            map.insert(l.key, l.value);
    return map;
}

// Sets one value: the line that holds it now gets the new value in place (its key, spacing and
// comment kept); a new value goes at the end of its section, a new section at the end of the
// file. Without a value, every line of the key goes. False when there was nothing to remove.
bool change(Document& doc, const QString& section, const QString& key,
            const std::optional<QString>& value) {
    if (!value) {
        const qsizetype before = doc.lines.size();
        doc.lines.removeIf([&key](const Document::Line& l) { return l.key == key; });
        return doc.lines.size() != before;
    }
    const QByteArray quoted = quote(*value).toUtf8();
    for (qsizetype i = doc.lines.size() - 1; i >= 0; --i) {
        Document::Line& l = doc.lines[i];
        if (l.key != key)
            continue;
        l.text = l.text.left(l.valueFrom) + quoted + l.text.mid(l.valueTo);
        l.valueTo = l.valueFrom + quoted.size();
        l.value = *value;
        return true;
    }
    const QByteArray newline = doc.lineEnding();
    Document::Line line;
    line.text = key.mid(key.lastIndexOf(QLatin1Char('/')) + 1).toUtf8() + '=' + quoted;
    line.end = newline;
    line.key = key;
    line.valueFrom = line.text.size() - quoted.size();
    line.valueTo = line.text.size();
    line.value = *value;

    // The section's last block: after its last line that is not blank or a comment.
    qsizetype at = -1;
    for (qsizetype i = doc.lines.size() - 1; i >= 0 && at < 0; --i) {
        if (!doc.lines[i].isHeader || doc.lines[i].section != section)
            continue;
        at = i;
        for (qsizetype j = i + 1; j < doc.lines.size(); ++j) {
            const QByteArray t = doc.lines[j].text.trimmed();
            if (t.startsWith('['))
                break;
            if (!t.isEmpty() && !t.startsWith(';') && !t.startsWith('#'))
                at = j;
        }
    }
    if (at < 0) {
        if (!doc.lines.isEmpty()) {
            if (doc.lines.last().end.isEmpty())
                doc.lines.last().end = newline;
            if (!doc.lines.last().text.trimmed().isEmpty()) {
                Document::Line blank;
                blank.end = newline;
                doc.lines.append(blank);
            }
        }
        QString name = section;
        name.replace(QLatin1Char('/'), QLatin1Char('\\'));
        Document::Line header;
        header.text = '[' + name.toUtf8() + ']';
        header.end = newline;
        header.isHeader = true;
        header.section = section;
        doc.lines.append(header);
        at = doc.lines.size() - 1;
    }
    if (doc.lines[at].end.isEmpty())
        doc.lines[at].end = newline;
    doc.lines.insert(at + 1, line);
    return true;
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

// A value's key as the parsed file names it: section/name, or the name alone above every header.
QString keyOf(const QString& section, const QString& encodedName) {
    return section.isEmpty() ? encodedName : section + QLatin1Char('/') + encodedName;
}

// A store that cannot save tells stderr once, not at every value written.
FailureRun saveFailures;
QString saveFailure;

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
    QString damage;  // the file is there but cannot be read: why

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
// Why the file that is there could not be read at the last look; empty when it could, or when
// there is no file.
QString readFailure;

const Values* failedRead(int why) {
    snapshot = Snapshot();
    readFailure = QString::fromLocal8Bit(std::strerror(why));
    return nullptr;
}

const Values* currentValues() {
    const QString path = filePath();
    static QString lastPath;
    static QByteArray native;
    if (path != lastPath) {
        lastPath = path;
        native = QFile::encodeName(path);
    }
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return failedRead(errno);
        snapshot.valid = false;
        readFailure.clear();
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        snapshot = Snapshot();
        readFailure = QStringLiteral("it is not a file");
        return nullptr;
    }
    if (snapshot.path == path && snapshot.sameAs(st)) {
        if (!snapshot.damage.isEmpty()) {
            readFailure = snapshot.damage;
            return nullptr;
        }
        return &snapshot.map;
    }

    // Identity from the descriptor we read through, so a file replaced meanwhile is noticed at
    // the next read rather than cached under the wrong name.
    struct stat opened {};
    const int fd = openToRead(native, opened);
    snapshot = Snapshot();
    if (fd < 0)
        return failedRead(errno);
    const std::optional<QByteArray> all = readAll(fd, opened.st_size);
    const int why = errno;
    ::close(fd);
    if (!all)
        return failedRead(why);
    const Document doc = parse(*all);
    readFailure = doc.damage;
    snapshot.map = valuesOf(doc);
    snapshot.damage = doc.damage;
    snapshot.valid = true;
    snapshot.path = path;
    snapshot.dev = opened.st_dev;
    snapshot.ino = opened.st_ino;
    snapshot.size = opened.st_size;
    snapshot.mtime = opened.st_mtim;
    snapshot.ctime = opened.st_ctim;
    return snapshot.damage.isEmpty() ? &snapshot.map : nullptr;
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
std::optional<QString> save(const QString& target, const QString& section, const QString& name,
                            const std::optional<QString>& value) {
    const QByteArray native = QFile::encodeName(target);
    const QByteArray folder = QFile::encodeName(QFileInfo(target).path());
    FolderLock lock(folder);
    if (lock.fd() < 0)
        return lastError();
    if (!lock.locked())
        return QStringLiteral("another program keeps the settings folder locked");

    Document doc;
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
        doc = parse(*all);
        if (!doc.damage.isEmpty())
            return doc.damage;
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return lastError();
    }
    if (!change(doc, section, keyOf(section, name), value))
        return std::nullopt;  // nothing to forget: the file stays as it is
    const QByteArray bytes = doc.bytes();

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
        lastKey = keyOf(group(keyPath), encodeName(name));
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
            why = save(target, group(keyPath), encodeName(name), value);
    }
    if (why && saveFailures.firstOfRun()) {
        std::fprintf(stderr, "Domivox: cannot save settings to %s (%s); changes are not kept\n",
                     qPrintable(path), qPrintable(*why));
    }
    if (!why)
        saveFailures.endRun();
    saveFailure = why.value_or(QString());
    return !why;
}

}  // namespace

bool write(const QString& keyPath, const QString& name, const QString& value) {
    return store(keyPath, name, value);
}

bool remove(const QString& keyPath, const QString& name) {
    if (!currentValues() && readFailure.isEmpty()) {
        saveFailure.clear();
        return true;  // no file, nothing to forget; do not create one
    }
    return store(keyPath, name, std::nullopt);
}

std::optional<QString> readProblem() {
    currentValues();
    if (readFailure.isEmpty())
        return std::nullopt;
    return readFailure;
}

QString lastSaveFailure() {
    return saveFailure;
}

std::optional<QString> readHandEdited(const QString& keyPath, const QString& name) {
    if (const auto text = read(keyPath, name))
        return text;
    const Values* values = currentValues();
    if (!values)
        return std::nullopt;
    const auto it = values->constFind(keyOf(group(keyPath), encodeName(name)));
    if (it == values->constEnd() || it->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    const QByteArray bare = it->toByteArray();
    if (bare.isEmpty() || bare.startsWith('"') || !isUtf8(bare))
        return std::nullopt;
    return QString::fromUtf8(bare);
}

}  // namespace platform::SettingsBackend
