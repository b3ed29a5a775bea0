// libFuzzer target for the timer window's duration entries: what a typed minutes or seconds
// entry reads as, and what the window makes of two typed entries. Not part of the normal build;
// see docs/fuzzing.md.
//
// The input, read as UTF-8, is what the user typed (or pasted). One input in 64 is also typed
// into the window: minutes before its first '|', seconds after it. Besides crashes and
// sanitizer reports, a run stops when:
//  - an entry reads outside 0..32767;
//  - blanks, tabs or line feeds in front of an entry, or after any of its characters, change
//    what it reads as;
//  - a number of the form [+|-]digits[.digits] reads other than exact decimal rounding (half to
//    even, negatives and out-of-range values as 0) gives, in the range where a double holds the
//    number closely enough for that rounding to be decided;
//  - the window shows anything but hh:nn:ss of the two entries' minutes and seconds, or typing
//    starts a countdown.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QByteArrayView>
#include <QHash>
#include <QLineEdit>
#include <QString>
#include <QTemporaryDir>

#include "FuzzSupport.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/ui/ChangeLabel.h"
#include "platform/ui/WindowRegistry.h"
#include "schedule/frmTimer.h"

using schedule::frmTimer;

namespace {

[[noreturn]] void fail(const char* what, const QString& input, long got = -1, long want = -1) {
    std::fprintf(stderr, "FINDING: %s\n  input: \"%s\" got %ld want %ld\n", what,
                 input.toUtf8().constData(), got, want);
    std::abort();
}

// Exact value of a plain decimal, rounded half to even, as an entry should read it; -1 when the
// text is not of that form or lies where a double cannot decide the rounding (more than nine
// fraction digits, or a whole part past 99999).
long exactReading(const std::string& s) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    const size_t wholeStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        ++i;
    std::string whole = s.substr(wholeStart, i - wholeStart);
    std::string fraction;
    if (i < s.size() && s[i] == '.') {
        const size_t fractionStart = ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        fraction = s.substr(fractionStart, i - fractionStart);
    }
    if (i != s.size() || (whole.empty() && fraction.empty()) || fraction.size() > 9)
        return -1;
    whole.erase(0, whole.find_first_not_of('0'));
    if (whole.size() > 5)
        return -1;
    long value = whole.empty() ? 0 : std::stol(whole);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    if (fraction > "5" || (fraction == "5" && value % 2 == 1))
        ++value;  // above one half, or one half with an odd whole part
    if (negative && value != 0)
        return 0;
    return value > 32767 ? 0 : value;
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

void checkReading(const QString& text) {
    const int reads = frmTimer::ReadEntry(text);
    if (reads < 0 || reads > 32767)
        fail("entry reads out of range", text, reads);

    if (frmTimer::ReadEntry(QStringLiteral(" \t\n ") + text) != reads)
        fail("leading blanks change the reading", text, reads);
    QString spaced;
    for (QChar c : text) {
        spaced.append(c);
        spaced.append(u'\t');
    }
    if (frmTimer::ReadEntry(spaced) != reads)
        fail("blanks between characters change the reading", text, frmTimer::ReadEntry(spaced),
             reads);

    // Blanks inside are skipped, so a text that is all number reads as it does without them.
    QString packed;
    for (QChar c : text)
        if (!isBlank(c))
            packed.append(c);
    const long exact = exactReading(packed.toStdString());
    if (exact >= 0 && exact != reads)
        fail("entry reads other than exact rounding", text, reads, exact);
}

frmTimer* window() {
    static frmTimer* w = nullptr;
    if (!w) {
        w = platform::WindowRegistry::load<frmTimer>();
        if (!w)
            fail("the timer window does not load", QString());
    }
    return w;
}

void checkWindow(const QString& minutes, const QString& seconds) {
    frmTimer* w = window();
    w->Text11()->setText(minutes);
    w->Text12()->setText(seconds);
    const QString shown = w->lbltime()->text();
    const qint64 total = qint64(frmTimer::ReadEntry(w->Text11()->text())) * 60 +
                         frmTimer::ReadEntry(w->Text12()->text());
    const qint64 ofDay = total % 86400;
    const QString want =
        QString::asprintf("%02lld:%02lld:%02lld", ofDay / 3600, ofDay / 60 % 60, ofDay % 60);
    if (shown != want)
        fail("the window shows another time", minutes + u'|' + seconds + QStringLiteral(" shows ") +
                                                  shown + QStringLiteral(" not ") + want);
    if (w->Timer1()->isCounting() || w->Timer2()->isCounting())
        fail("typing started a countdown", minutes + u'|' + seconds);
    w->Text11()->clear();
    w->Text12()->clear();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QTemporaryDir config;  // the window must not touch the user's settings
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    fuzzsupport::startQt<QApplication>(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    checkReading(text);
    // Typing into the window costs a hundred times more than reading an entry: one input in 64,
    // picked by a hash of its bytes so that the fuzzer cannot crowd the corpus with such
    // inputs, goes there too.
    if (qHash(QByteArrayView(data, qsizetype(size))) % 64 == 0) {
        const qsizetype bar = text.indexOf(u'|');
        checkWindow(bar < 0 ? text : text.left(bar), bar < 0 ? QString() : text.mid(bar + 1));
    }
    return 0;
}
