// libFuzzer target for a damaged settings file: the input is registry.ini as a crash, a disk
// error or a hand edit may have left it, read and then written through the program's own store
// (the file on disk, not a parser called on the side). Not part of the normal build; see
// docs/fuzzing.md.
//
// Every run puts a new file in place, dated apart from every earlier one, so that no cache of an
// earlier run's file can answer.
// Behind the damaged bytes sits a section another program keeps in the same file: a number, a
// list, a malformed quoted value and a text. Besides crashes and sanitizer reports, a run stops
// when:
//  - a value reads as anything but a plain text (a NUL in it, or text where the file holds no
//    quoted value at all), or the other program's values read other than they were written;
//  - writing one value (any text, built from the input: quotes, backslashes, line breaks, NULs,
//    lone surrogates; under a name the input picks, in a section that may or may not be there)
//    does not read back exactly, changes what any other value reads as, or loses a key that was
//    there;
//  - after the write, any line but the written one is not in the file byte for byte, in its
//    place (a line ends at "\n", "\r\n" or a carriage return alone): only that line changed, or it
//    and (for a new section) a blank line and the header were added; the byte-order mark stays as
//    it was;
//  - writing the same value again changes the file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include "platform/settings/SettingsBackend.h"
#include "store/Module1.h"

namespace store = platform::SettingsBackend;

namespace {

const QString kOtherKey = QStringLiteral("Other\\Program");
const QByteArray kOtherLines[] = {"count=42", "list=a, b", "broken=\"half", "name=\"kept\""};

[[noreturn]] void fail(const char* what, const QString& detail = QString()) {
    std::fprintf(stderr, "FINDING: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  detail: %s\n", detail.toUtf8().constData());
    std::abort();
}

struct Probe {
    QString keyPath;
    QString name;
};

const std::vector<Probe>& probes() {
    static const std::vector<Probe> all = [] {
        std::vector<Probe> p;
        const QString key = Module1::RegistryPath();
        for (const char* name : {Setting::picture, Setting::caption, Setting::Address,
                                 Setting::timer1, Setting::internet, Setting::password,
                                 Setting::disclaimer, "ONBUTTON1", "OFFBUTTON5", "a"})
            p.push_back({key, QString::fromLatin1(name)});
        for (const char* name : {"name", "count", "list", "broken"})
            p.push_back({kOtherKey, QString::fromLatin1(name)});
        p.push_back({QStringLiteral("a"), QStringLiteral("a")});
        p.push_back({QStringLiteral("a\\b"), QStringLiteral("b")});
        return p;
    }();
    return all;
}

// Where the run writes: values of the program's key, a section the file may hold already, one it
// most likely does not, and the port's value people edit by hand.
const std::vector<Probe>& writeTargets() {
    static const std::vector<Probe> all = {
        {Module1::RegistryPath(), QString::fromLatin1(Setting::caption)},
        {Module1::RegistryPath(), QString::fromLatin1(Setting::password)},
        {Module1::RegistryPath(), QStringLiteral("ONBUTTON1")},
        {Module1::RegistryPath(), QStringLiteral("a")},
        {QStringLiteral("a"), QStringLiteral("a")},
        {QStringLiteral("a\\b"), QStringLiteral("b")},
        {QStringLiteral("Platform\\Serial"), QStringLiteral("COM1")},
    };
    return all;
}

const QStringList& keyPaths() {
    static const QStringList all = {Module1::RegistryPath(), QStringLiteral("a"), kOtherKey};
    return all;
}

struct Reading {
    std::vector<std::optional<QString>> values;
    std::vector<bool> keys;
};

// `damaged`: the bytes of a file no value has been written to yet, but for the other program's
// section; text can only come from a quoted value in them.
Reading readAll(const QByteArray* damaged) {
    Reading r;
    const bool anyQuote = damaged && damaged->contains('"');
    for (const Probe& p : probes()) {
        const std::optional<QString> raw = store::read(p.keyPath, p.name);
        const QString value = Module1::ReadSetting(Module1::HKEY_CURRENT_USER, p.keyPath, p.name);
        if (value.contains(QChar(0)))
            fail("a value reads with a NUL in it", p.name);
        if (damaged && raw && !anyQuote && p.keyPath != kOtherKey)
            fail("text read from a file without a quoted value", p.name);
        if (!raw && !value.isEmpty())
            fail("a missing value reads as text", p.name);
        r.values.push_back(raw);
    }
    return r;
}

QByteArray fileBytes() {
    QFile f(store::filePath());
    if (!f.open(QIODevice::ReadOnly))
        fail("the settings file cannot be read back", store::filePath());
    return f.readAll();
}

// The other program's section in the file as it now stands: every line below its header, up to
// the next header or blank line, must still be one of its lines as written. (A damaged header
// may hold the same text inside it, so only a line of its own counts.)
void checkOtherProgramLines(const QByteArray& file) {
    const QList<QByteArray> all = file.split('\n');
    const qsizetype header = all.lastIndexOf("[Other\\Program]");
    if (header < 0)
        fail("the other program's section is gone", QString::fromUtf8(file));
    QList<QByteArray> lines;
    for (qsizetype i = header + 1; i < all.size() && !all[i].isEmpty() && !all[i].startsWith('[');
         ++i)
        lines.append(all[i]);
    for (const QByteArray& expected : kOtherLines)
        if (!lines.contains(expected))
            fail("a line of the other program is lost",
                 QString::fromUtf8(expected) + QStringLiteral(" in\n") + QString::fromUtf8(file));
}

// The file's lines, each with its own ending: "\n", "\r\n", or a carriage return alone, which
// ends a line as well (the last line may have none). A save must keep every ending as it was.
QList<QByteArray> linesOf(QByteArray bytes, bool* byteOrderMark) {
    *byteOrderMark = bytes.startsWith("\xEF\xBB\xBF");
    if (*byteOrderMark)
        bytes.remove(0, 3);
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' ||
            (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))) {
            lines.append(bytes.mid(start, i + 1 - start));
            start = i + 1;
        }
    }
    lines.append(bytes.mid(start));
    return lines;
}

bool isUtf16(const QByteArray& file) {
    return file.startsWith("\xFF\xFE") || file.startsWith("\xFE\xFF");
}

// A UTF-16 file's text as UTF-8, to compare its lines; a U+FEFF after the file's own mark is
// text, and comes out as a UTF-8 mark.
QByteArray utf8Of(const QByteArray& file) {
    QStringDecoder decoder(
        file.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
        QStringDecoder::Flag::ConvertInitialBom);
    return QString(decoder.decode(QByteArrayView(file).sliced(2))).toUtf8();
}

bool isBlankLine(const QByteArray& line) {
    return line.trimmed().isEmpty();
}

// Only the written value's line differs between the two files: every other line stands byte for
// byte where it stood, its ending included. Added lines may only be the value's line and, for a
// new section, a blank line and the section's header. (The other program's section always ends
// the file with a line break, so no last line has to gain one.)
void checkOnlyTheValueLineChanged(const QByteArray& before, const QByteArray& after,
                                  const QString& name) {
    const auto show = [&] {
        return QString::fromUtf8(before) + QStringLiteral("\n----\n") + QString::fromUtf8(after);
    };
    if (isUtf16(before)) {
        if (after.left(2) != before.left(2))
            fail("a UTF-16 file did not stay UTF-16", show());
        return checkOnlyTheValueLineChanged(utf8Of(before), utf8Of(after), name);
    }
    bool bomBefore = false, bomAfter = false;
    const QList<QByteArray> b = linesOf(before, &bomBefore);
    const QList<QByteArray> a = linesOf(after, &bomAfter);
    if (bomBefore != bomAfter)
        fail("the byte-order mark was not kept", show());
    qsizetype head = 0;
    while (head < b.size() && head < a.size() && b[head] == a[head])
        ++head;
    qsizetype tail = 0;
    while (tail < b.size() - head && tail < a.size() - head &&
           b[b.size() - 1 - tail] == a[a.size() - 1 - tail])
        ++tail;
    const QList<QByteArray> gone = b.mid(head, b.size() - head - tail);
    const QList<QByteArray> came = a.mid(head, a.size() - head - tail);
    const QByteArray key = QUrl::toPercentEncoding(name);
    const auto isValueLine = [&key](const QByteArray& line) {
        const qsizetype eq = line.indexOf('=');
        return eq > 0 && line.left(eq).trimmed() == key;
    };
    if (gone.size() > 1)
        fail("a save changed lines besides the value's", show());
    if (gone.size() == 1) {
        if (came.size() != 1 || !isValueLine(gone[0]) || !isValueLine(came[0]))
            fail("a save changed a line that is not the value's", show());
        return;
    }
    int values = 0, headers = 0;
    for (const QByteArray& line : came) {
        if (isValueLine(line))
            ++values;
        else if (line.trimmed().startsWith('['))
            ++headers;
        else if (!isBlankLine(line))
            fail("a save added a line that is not the value's", show());
    }
    if (values != 1 || headers > 1)
        fail("a save added other than one value line", show());
}

// A value to write: any UTF-16 text, lone surrogates and NULs included.
QString valueFrom(const uint8_t* data, size_t size) {
    QString value;
    const size_t take = size < 48 ? size : 48;
    for (size_t i = 0; i + 1 < take; i += 2)
        value.append(QChar(char16_t(data[size - take + i] | data[size - take + i + 1] << 8)));
    return value;
}

QString describe(const std::optional<QString>& v) {
    return v ? QStringLiteral("\"") + *v + QStringLiteral("\"") : QStringLiteral("(none)");
}

void failOnWarning(QtMsgType type, const QMessageLogContext&, const QString& message) {
    std::fprintf(stderr, "Qt message: %s\n", qPrintable(message));
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::abort();
}

// Puts the damaged bytes where the program reads its settings, as a new file whose change time
// no earlier file had: a cache that checks size and time must see a different file.
void placeFile(const QByteArray& bytes) {
    static quint64 run = 0;
    const QByteArray path = QFile::encodeName(store::filePath());
    ::unlink(path.constData());
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
        fail("cannot write the damaged file");
    const timespec times[2] = {{time_t(1000000000 + ++run), 0}, {time_t(1000000000 + run), 0}};
    if (::futimens(fd, times) != 0 || ::close(fd) != 0)
        fail("cannot date the damaged file");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(failOnWarning);
    // A memory file system when there is one: every run writes the file three times.
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                             ? QStringLiteral("/dev/shm")
                             : QDir::tempPath();
    static QTemporaryDir home(base + QStringLiteral("/domivox-settings-fuzz-XXXXXX"));
    if (!home.isValid() || !QDir().mkpath(home.path() + QStringLiteral("/domivox")))
        fail("cannot make a settings folder", home.path());
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray damaged(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArray other = "\n[Other\\Program]\n";
    for (const QByteArray& line : kOtherLines)
        other += line + '\n';
    if (isUtf16(damaged)) {
        // The other program's section in the file's own encoding, on a character boundary.
        if (damaged.size() % 2)
            damaged += '\0';
        QStringEncoder encoder(damaged.startsWith("\xFF\xFE") ? QStringEncoder::Utf16LE
                                                              : QStringEncoder::Utf16BE);
        damaged += QByteArray(encoder.encode(QString::fromUtf8(other)));
    } else {
        damaged += other;
    }
    placeFile(damaged);
    const QString value = valueFrom(data, size);
    const Probe& target = writeTargets()[size == 0 ? 0 : data[0] % writeTargets().size()];

    // A UTF-16 file whose text does not decode is neither read nor replaced; nothing else may
    // make the file unreadable.
    if (store::readProblem()) {
        if (!isUtf16(damaged) || store::write(target.keyPath, target.name, value))
            fail("a file that cannot be read was written, or is not damaged UTF-16");
        if (fileBytes() != damaged)
            fail("a refused write changed the file");
        return 0;
    }

    const QByteArray fuzzBytes(reinterpret_cast<const char*>(data), qsizetype(size));
    Reading before = readAll(&fuzzBytes);
    if (store::read(kOtherKey, QStringLiteral("name")) != QStringLiteral("kept"))
        fail("the other program's text does not read back");
    for (const char* bare : {"count", "list", "broken"})
        if (store::read(kOtherKey, QString::fromLatin1(bare)))
            fail("a value that is not text reads as text", QString::fromLatin1(bare));

    for (const QString& keyPath : keyPaths())
        before.keys.push_back(store::keyExists(keyPath));
    if (!store::write(target.keyPath, target.name, value))
        fail("a write to a damaged file fails");
    const QByteArray written = fileBytes();
    Reading after = readAll(nullptr);
    for (const QString& keyPath : keyPaths())
        after.keys.push_back(store::keyExists(keyPath));
    if (store::read(target.keyPath, target.name) != value)
        fail("the written value does not read back",
             describe(store::read(target.keyPath, target.name)) + QStringLiteral(" for ") +
                 describe(value));
    const qsizetype zero = value.indexOf(QChar(0));
    if (Module1::ReadSetting(Module1::HKEY_CURRENT_USER, target.keyPath, target.name) !=
        (zero < 0 ? value : value.left(zero)))
        fail("the written value reads back other than up to its first NUL");
    checkOnlyTheValueLineChanged(damaged, written, target.name);
    for (size_t i = 0; i < probes().size(); ++i) {
        const Probe& p = probes()[i];
        if (p.keyPath == target.keyPath && p.name == target.name)
            continue;
        if (before.values[i] != after.values[i])
            fail("a write changed another value",
                 p.keyPath + u'/' + p.name + QStringLiteral(": ") + describe(before.values[i]) +
                     QStringLiteral(" -> ") + describe(after.values[i]));
    }
    for (qsizetype i = 0; i < keyPaths().size(); ++i)
        if (before.keys[i] && !after.keys[i])
            fail("a write lost a key", keyPaths()[i]);
    if (!store::keyExists(target.keyPath))
        fail("the written value's key is missing after the write", target.keyPath);
    checkOtherProgramLines(isUtf16(written) ? utf8Of(written) : written);

    if (!store::write(target.keyPath, target.name, value))
        fail("a second write fails");
    if (fileBytes() != written)
        fail("writing the same value again changes the file", QString::fromUtf8(written) +
                                                                  QStringLiteral("\n----\n") +
                                                                  QString::fromUtf8(fileBytes()));
    return 0;
}
