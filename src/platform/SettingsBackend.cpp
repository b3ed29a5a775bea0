#include "platform/SettingsBackend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

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

bool readIni(QIODevice& device, QSettings::SettingsMap& map) {
    const QByteArray all = device.readAll();
    QString prefix;
    bool inUsableSection = true;
    for (const QByteArray& rawLine : all.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            // A damaged header must not move the keys below it into the section above it.
            inUsableSection = line.endsWith(QLatin1Char(']'));
            if (inUsableSection) {
                prefix = line.mid(1, line.size() - 2).trimmed();
                prefix.replace(QLatin1Char('\\'), QLatin1Char('/'));
                if (!prefix.isEmpty())
                    prefix += QLatin1Char('/');
            }
            continue;
        }
        if (!inUsableSection)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (key.isEmpty() || key.contains(QLatin1Char('/')) || key.contains(QLatin1Char('\\')))
            continue;
        const QString value = line.mid(eq + 1).trimmed();
        const auto text = value.startsWith(QLatin1Char('"')) ? unquote(value) : std::nullopt;
        if (text)
            map.insert(prefix + key, *text);
        else  // not text we wrote, quoted or not: kept as it stands so a later write keeps it
            map.insert(prefix + key, value.toUtf8());
    }
    return true;
}

bool writeIni(QIODevice& device, const QSettings::SettingsMap& map) {
    QMap<QString, QStringList> sections;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().lastIndexOf(QLatin1Char('/'));
        QString section = slash < 0 ? QString() : it.key().left(slash);
        section.replace(QLatin1Char('/'), QLatin1Char('\\'));
        const QString name = it.key().mid(slash + 1);
        const QVariant& v = it.value();
        QString text;
        if (v.typeId() == QMetaType::QString)
            text = quote(v.toString());
        else if (v.typeId() == QMetaType::QByteArray)
            text = QString::fromUtf8(v.toByteArray());
        else
            text = v.toString();
        sections[section].append(name + QLatin1Char('=') + text);
    }
    QByteArray out;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        if (!it.key().isEmpty())
            out += '[' + it.key().toUtf8() + "]\n";
        for (const QString& line : it.value())
            out += line.toUtf8() + '\n';
        out += '\n';
    }
    return device.write(out) == out.size();
}

QSettings::Format format() {
    static const QSettings::Format f =
        QSettings::registerFormat(QStringLiteral("ini"), readIni, writeIni, Qt::CaseSensitive);
    return f;
}

QString group(const QString& keyPath) {
    QString g = keyPath;
    g.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return g;
}

// Value names may hold any character; the file and QSettings' key paths may not.
QString encodeName(const QString& name) {
    return QString::fromLatin1(QUrl::toPercentEncoding(name));
}

bool failureReported = false;

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
    QSettings::SettingsMap map;

    bool sameAs(const struct stat& st) const {
        return valid && st.st_dev == dev && st.st_ino == ino && st.st_size == size &&
               st.st_mtim.tv_sec == mtime.tv_sec && st.st_mtim.tv_nsec == mtime.tv_nsec &&
               st.st_ctim.tv_sec == ctime.tv_sec && st.st_ctim.tv_nsec == ctime.tv_nsec;
    }
};

Snapshot snapshot;

// The values in the file now; nullptr when there is no readable file.
const QSettings::SettingsMap* currentValues() {
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

    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        snapshot.valid = false;
        return nullptr;
    }
    QFile file;
    // Identity from the descriptor we read through, so a file replaced meanwhile is noticed at
    // the next read rather than cached under the wrong name.
    struct stat opened {};
    const bool ok = ::fstat(fd, &opened) == 0 && file.open(fd, QIODevice::ReadOnly);
    snapshot = Snapshot();
    if (ok) {
        readIni(file, snapshot.map);
        snapshot.valid = true;
        snapshot.path = path;
        snapshot.dev = opened.st_dev;
        snapshot.ino = opened.st_ino;
        snapshot.size = opened.st_size;
        snapshot.mtime = opened.st_mtim;
        snapshot.ctime = opened.st_ctim;
    }
    file.close();
    ::close(fd);
    return ok ? &snapshot.map : nullptr;
}

}  // namespace

std::optional<QString> read(const QString& keyPath, const QString& name) {
    const QSettings::SettingsMap* values = currentValues();
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
    const QString path = filePath();
    if (!QFileInfo::exists(path))
        return false;
    QSettings s(path, format());
    s.beginGroup(group(keyPath));
    return !s.childKeys().isEmpty() || !s.childGroups().isEmpty();
}

bool write(const QString& keyPath, const QString& name, const QString& value) {
    const QString path = filePath();
    const QFileInfo info(path);
    bool ok = true;
    QString why;
    if (!info.dir().exists()) {
        ok = QDir().mkpath(info.dir().path()) &&
             QFile::setPermissions(info.dir().path(), QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner);
        if (!ok)
            why = QStringLiteral("cannot create the folder");
    }
    if (ok && !info.exists()) {
        // Created private before anything is in it: the file holds the lock's password.
        // Later saves replace it by a copy that keeps these permission bits.
        QFile f(path);
        ok = f.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                    QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (!ok)
            why = f.errorString();
    }
    if (ok) {
        QSettings s(path, format());
        s.setValue(group(keyPath) + QLatin1Char('/') + encodeName(name), value);
        s.sync();
        ok = s.status() == QSettings::NoError;
        if (!ok)
            why = s.status() == QSettings::AccessError ? QStringLiteral("access denied")
                                                       : QStringLiteral("format error");
    }
    if (!ok && !failureReported) {
        failureReported = true;
        std::fprintf(stderr, "Domivox: cannot save settings to %s (%s); changes are not kept\n",
                     qPrintable(path), qPrintable(why));
    }
    if (ok)
        failureReported = false;
    return ok;
}

}  // namespace platform::SettingsBackend
