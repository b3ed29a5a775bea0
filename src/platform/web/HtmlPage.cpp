#include "platform/web/HtmlPage.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include <QHash>
#include <QList>
#include <QStringDecoder>

#include "platform/text/Windows1252.h"
#include "platform/web/HtmlEntities.h"

namespace platform::html {
namespace {

bool isAsciiWhitespace(QChar c) {
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\f' || u == '\r';
}

bool isAsciiAlpha(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

bool isAsciiAlnum(QChar c) {
    const char16_t u = c.unicode();
    return isAsciiAlpha(c) || (u >= '0' && u <= '9');
}

char16_t asciiLower(char16_t u) {
    return (u >= 'A' && u <= 'Z') ? char16_t(u + 32) : u;
}

bool startsWithNoCase(QStringView s, qsizetype at, QLatin1String what) {
    if (at < 0 || at + what.size() > s.size())
        return false;
    for (qsizetype i = 0; i < what.size(); ++i)
        if (asciiLower(s[at + i].unicode()) != char16_t(uchar(what[i].toLatin1())))
            return false;
    return true;
}

// An undefined byte stays as it is, as browsers show it.
QString decodeWindows1252(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        const uchar u = uchar(b);
        out.append(QChar(platform::windows1252Char(u, char16_t(u))));
    }
    return out;
}

struct Attribute {
    QString name;
    QString value;
};

// A tag's name, lowercased, without a heap allocation for each of a page's many tags. Only the
// first kMax characters are kept: longer names are nothing this reader knows.
struct TagName {
    static constexpr qsizetype kMax = 15;
    char16_t chars[kMax + 1];
    qsizetype size = 0;
    QStringView view() const { return QStringView(chars, size); }
};

// Reads a tag's name from its first character; returns where the name ends.
qsizetype readTagName(QStringView s, qsizetype at, TagName* name) {
    const qsizetype n = s.size();
    qsizetype i = at;
    name->size = 0;
    while (i < n && !isAsciiWhitespace(s[i]) && s[i] != u'/' && s[i] != u'>') {
        if (name->size <= TagName::kMax)
            name->chars[name->size++] = asciiLower(s[i].unicode());
        ++i;
    }
    return i;
}

// Reads a tag's attributes from `i` to just past its '>' (or to the end of the text). Quoted
// attribute values may hold '>', so they are read as values, not searched through. Without
// `attributes` nothing is copied.
// `selfClosing` tells whether the tag ends in "/>" (a '/' inside an unquoted value does not count).
qsizetype readAttributes(QStringView s, qsizetype i, QList<Attribute>* attributes,
                         bool* selfClosing = nullptr) {
    const qsizetype n = s.size();
    for (;;) {
        bool slash = false;
        while (i < n && (isAsciiWhitespace(s[i]) || s[i] == u'/')) {
            slash = s[i] == u'/';
            ++i;
        }
        if (i >= n)
            return n;
        if (s[i] == u'>') {
            if (selfClosing)
                *selfClosing = slash;
            return i + 1;
        }
        const qsizetype nameStart = i++;  // the first character may itself be '='
        while (i < n && !isAsciiWhitespace(s[i]) && s[i] != u'/' && s[i] != u'>' && s[i] != u'=')
            ++i;
        const qsizetype nameEnd = i;
        while (i < n && isAsciiWhitespace(s[i]))
            ++i;
        qsizetype valueStart = i;
        qsizetype valueEnd = i;
        if (i < n && s[i] == u'=') {
            ++i;
            while (i < n && isAsciiWhitespace(s[i]))
                ++i;
            if (i < n && (s[i] == u'"' || s[i] == u'\'')) {
                const qsizetype close = s.indexOf(s[i], i + 1);
                if (close < 0)
                    return n;
                valueStart = i + 1;
                valueEnd = close;
                i = close + 1;
            } else {
                valueStart = i;
                while (i < n && !isAsciiWhitespace(s[i]) && s[i] != u'>')
                    ++i;
                valueEnd = i;
            }
        }
        if (attributes) {
            Attribute a;
            for (qsizetype k = nameStart; k < nameEnd; ++k)
                a.name.append(QChar(asciiLower(s[k].unicode())));
            a.value = s.mid(valueStart, valueEnd - valueStart).toString();
            attributes->append(a);
        }
    }
}

// Reads a whole tag from the first character of its name to just past its '>'.
qsizetype readTag(QStringView s, qsizetype at, TagName* name, bool* selfClosing = nullptr) {
    TagName ignored;
    return readAttributes(s, readTagName(s, at, name ? name : &ignored), nullptr, selfClosing);
}

// What the reader does with an element, by its name.
enum class Tag {
    Other,
    Bold,
    Italic,
    Underline,
    Link,
    Break,
    Cell,
    Item,
    Image,
    Heading,
    Line,     // a line break before and after
    Block,    // a paragraph break before and after
    Opening,  // a paragraph break before
    Title,
    Plaintext,
    RawText,  // content that is not markup: a <title> in it is not the document's
    Foreign,  // SVG or MathML: a <title> in it is the drawing's or the formula's
    Meta,
};

Tag tagOf(QStringView name) {
    struct Entry {
        const char* name;
        Tag tag;
    };
    // Sorted by name. Templates count as raw text: the titles they hold are not the document's.
    static const Entry kTags[] = {
        {"a", Tag::Link},           {"address", Tag::Block},
        {"article", Tag::Block},    {"aside", Tag::Block},
        {"b", Tag::Bold},           {"blockquote", Tag::Block},
        {"body", Tag::Opening},     {"br", Tag::Break},
        {"caption", Tag::Line},     {"center", Tag::Block},
        {"cite", Tag::Italic},      {"dd", Tag::Line},
        {"details", Tag::Block},    {"div", Tag::Block},
        {"dl", Tag::Block},         {"dt", Tag::Line},
        {"em", Tag::Italic},        {"fieldset", Tag::Block},
        {"figcaption", Tag::Line},  {"figure", Tag::Block},
        {"footer", Tag::Block},     {"form", Tag::Block},
        {"h1", Tag::Heading},       {"h2", Tag::Heading},
        {"h3", Tag::Heading},       {"h4", Tag::Heading},
        {"h5", Tag::Heading},       {"h6", Tag::Heading},
        {"header", Tag::Block},     {"hr", Tag::Opening},
        {"i", Tag::Italic},         {"iframe", Tag::RawText},
        {"img", Tag::Image},        {"li", Tag::Item},
        {"main", Tag::Block},       {"math", Tag::Foreign},
        {"meta", Tag::Meta},        {"nav", Tag::Block},
        {"noembed", Tag::RawText},  {"noframes", Tag::RawText},
        {"ol", Tag::Block},         {"option", Tag::Line},
        {"p", Tag::Block},          {"plaintext", Tag::Plaintext},
        {"pre", Tag::Block},        {"script", Tag::RawText},
        {"section", Tag::Block},    {"strong", Tag::Bold},
        {"style", Tag::RawText},    {"summary", Tag::Line},
        {"svg", Tag::Foreign},      {"table", Tag::Block},
        {"td", Tag::Cell},          {"template", Tag::RawText},
        {"textarea", Tag::RawText}, {"th", Tag::Cell},
        {"title", Tag::Title},      {"tr", Tag::Line},
        {"u", Tag::Underline},      {"ul", Tag::Block},
        {"var", Tag::Italic},       {"xmp", Tag::RawText},
    };
    if (name.isEmpty() || name.size() > 10)
        return Tag::Other;
    char key[11];
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name[i].unicode();
        if (u >= 0x80)
            return Tag::Other;
        key[i] = char(u);
    }
    key[name.size()] = 0;
    const Entry* end = kTags + std::size(kTags);
    const Entry* it = std::lower_bound(
        kTags, end, key, [](const Entry& e, const char* k) { return std::strcmp(e.name, k) < 0; });
    return it != end && std::strcmp(it->name, key) == 0 ? it->tag : Tag::Other;
}

// Just past the comment that starts at `lt` ("<!--").
qsizetype skipComment(QStringView s, qsizetype lt) {
    const qsizetype body = lt + 4;
    if (s.mid(body).startsWith(u'>'))
        return body + 1;
    if (s.mid(body).startsWith(u"->"))
        return body + 2;
    // One pass to whichever ending comes first. Searching for each ending to the end of the
    // page, comment after comment, costs the square of the page.
    const qsizetype n = s.size();
    for (qsizetype at = s.indexOf(u"--", body); at >= 0; at = s.indexOf(u"--", at + 1)) {
        if (at + 2 < n && s[at + 2] == u'>')
            return at + 3;
        if (at + 3 < n && s[at + 2] == u'!' && s[at + 3] == u'>')
            return at + 4;
    }
    return n;
}

qsizetype skipToGreaterThan(QStringView s, qsizetype from) {
    const qsizetype gt = s.indexOf(u'>', from);
    return gt < 0 ? s.size() : gt + 1;
}

// Where the end tag "</name" of a raw-text element starts, or -1.
qsizetype findEndTag(QStringView s, qsizetype from, QStringView name) {
    const QByteArray latin = name.toLatin1();
    const QLatin1String lname(latin);
    for (qsizetype at = s.indexOf(u"</", from); at >= 0; at = s.indexOf(u"</", at + 2)) {
        const qsizetype after = at + 2 + name.size();
        if (after < s.size() && startsWithNoCase(s, at + 2, lname) &&
            (isAsciiWhitespace(s[after]) || s[after] == u'/' || s[after] == u'>'))
            return at;
    }
    return -1;
}

void appendUcs4(QString& out, char32_t cp) {
    if (QChar::requiresSurrogates(cp)) {
        out.append(QChar(QChar::highSurrogate(cp)));
        out.append(QChar(QChar::lowSurrogate(cp)));
    } else {
        out.append(QChar(char16_t(cp)));
    }
}

void appendCodePoint(QString& out, char32_t cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    // Pages written in windows-1252 name its characters by their byte.
    if (cp >= 0x80 && cp <= 0x9F)
        cp = platform::windows1252Char(uchar(cp), char16_t(cp));
    appendUcs4(out, cp);
}

QByteArray canonicalLabel(QByteArray label, bool fromMeta) {
    label = label.trimmed().toLower();
    while (!label.isEmpty() && (label.startsWith('"') || label.startsWith('\'')))
        label.remove(0, 1);
    while (!label.isEmpty() && (label.endsWith('"') || label.endsWith('\'')))
        label.chop(1);
    label = label.trimmed();
    // Browsers read every one of these as windows-1252, and pages rely on it.
    static const char* const kWindows1252[] = {
        "windows-1252", "cp1252",         "x-cp1252",    "latin1",          "l1",
        "iso-8859-1",   "iso8859-1",      "iso_8859-1",  "iso88591",        "iso-ir-100",
        "cp819",        "ibm819",         "csisolatin1", "iso_8859-1:1987", "ascii",
        "us-ascii",     "ansi_x3.4-1968", "iso646-us",   "csascii",         "us",
        "ibm367",       "cp367"};
    for (const char* k : kWindows1252)
        if (label == k)
            return "windows-1252";
    if (label == "utf8" || label == "unicode-1-1-utf-8")
        return "utf-8";
    // A <meta> can only be read because the bytes are ASCII-compatible, so it cannot really
    // mean UTF-16.
    if (fromMeta && label.startsWith("utf-16"))
        return "utf-8";
    if (label == "x-user-defined")
        return "windows-1252";
    return label;
}

// Decodes with the named encoding; false when nobody here can.
bool decodeWith(const QByteArray& label, const QByteArray& bytes, QString* out) {
    if (label.isEmpty())
        return false;
    if (label == "windows-1252") {
        *out = decodeWindows1252(bytes);
        return true;
    }
    QStringDecoder decoder(label.constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return false;
    *out = decoder.decode(bytes);
    return true;
}

// Builds the preview's markup: text goes in escaped; formatting is kept as a set of flags and
// written out only where text follows, so markup without text costs nothing and nothing nests.
// Formatting is written again at every change, so the markup is bounded as well as the text: a
// page flipping bold inside one long link would otherwise repeat the link for every letter.
class PreviewWriter {
public:
    explicit PreviewWriter(qsizetype maxChars)
        : budget_(maxChars), markupLeft_(kMarkupPerChar * qMax<qsizetype>(maxChars, 0) + 4096) {}

    bool full() const { return full_; }

    void text(QStringView t) {
        for (QChar c : t) {
            if (c == u'\n' && keepLines_) {
                lineBreak();
                continue;
            }
            if (isAsciiWhitespace(c)) {
                if (!keepLines_ && (lastWasSpace_ || breaks_ > 0 || out_.isEmpty()))
                    continue;
                space();
                continue;
            }
            if (budget_ <= 0) {
                full_ = true;
                return;
            }
            --budget_;
            flush();
            // A long run without a break opportunity makes line layout quadratic.
            if (++run_ > 64) {
                out_.append(QChar(0x200B));
                run_ = 1;
            }
            switch (c.unicode()) {
                case u'<':
                    out_.append(QLatin1String("&lt;"));
                    break;
                case u'>':
                    out_.append(QLatin1String("&gt;"));
                    break;
                case u'&':
                    out_.append(QLatin1String("&amp;"));
                    break;
                case 0:
                    out_.append(QChar(0xFFFD));
                    break;
                default:
                    out_.append(c);
            }
            lastWasSpace_ = false;
        }
    }
    void plainLines() { keepLines_ = true; }

    void lineBreak() {
        run_ = 0;
        lastWasSpace_ = false;
        if (!out_.isEmpty() && breaks_ < 2)
            ++breaks_;
    }
    void paragraph() {
        lineBreak();
        lineBreak();
    }
    void cell() {
        if (!lastWasSpace_ && breaks_ == 0)
            space();
    }

    void bold(bool on) { step(bold_, on); }
    void italic(bool on) { step(italic_, on); }
    void underline(bool on) { step(underline_, on); }
    // Longer addresses stay text: nobody clicks them, and each would be written out again at
    // every change of formatting.
    void link(const QString& href) {
        const QString wanted = href.size() > kMaxLinkChars ? QString() : href;
        if (wanted == href_)
            return;
        href_ = wanted;
        ++hrefGeneration_;
    }

    QString finish() {
        close();
        if (full_)
            out_.append(QLatin1String("<br><br><i>(the rest of the page is not shown)</i>"));
        return out_;
    }

private:
    static void step(int& depth, bool on) { depth = on ? depth + 1 : qMax(0, depth - 1); }

    void space() {
        if (budget_ <= 0)
            return;
        --budget_;
        flush();
        out_.append(u' ');
        run_ = 0;
        lastWasSpace_ = true;
    }

    // Brings the written formatting in line with the wanted one before text goes out.
    void flush() {
        const bool b = bold_ > 0, i = italic_ > 0, u = underline_ > 0;
        if (breaks_ > 0 || b != wroteBold_ || i != wroteItalic_ || u != wroteUnderline_ ||
            hrefGeneration_ != wroteGeneration_) {
            const qsizetype before = out_.size();
            close();
            for (; breaks_ > 0; --breaks_)
                out_.append(QLatin1String("<br>"));
            if (hrefGeneration_ != wroteGeneration_) {
                escapedHref_ = href_.toHtmlEscaped();
                wroteGeneration_ = hrefGeneration_;
            }
            if (!href_.isEmpty()) {
                out_.append(QLatin1String("<a href=\"") + escapedHref_ + QLatin1String("\">"));
                wroteLink_ = true;
            }
            if (b)
                out_.append(QLatin1String("<b>"));
            if (i)
                out_.append(QLatin1String("<i>"));
            if (u)
                out_.append(QLatin1String("<u>"));
            wroteBold_ = b;
            wroteItalic_ = i;
            wroteUnderline_ = u;
            markupLeft_ -= out_.size() - before;
            if (markupLeft_ < 0)
                budget_ = 0;
        }
    }
    void close() {
        if (wroteUnderline_)
            out_.append(QLatin1String("</u>"));
        if (wroteItalic_)
            out_.append(QLatin1String("</i>"));
        if (wroteBold_)
            out_.append(QLatin1String("</b>"));
        if (wroteLink_)
            out_.append(QLatin1String("</a>"));
        wroteBold_ = wroteItalic_ = wroteUnderline_ = wroteLink_ = false;
    }

    static constexpr qsizetype kMaxLinkChars = 2048;
    static constexpr qsizetype kMarkupPerChar = 16;

    QString out_;
    qsizetype budget_;
    bool full_ = false;
    bool keepLines_ = false;
    bool lastWasSpace_ = false;
    int breaks_ = 0;
    int run_ = 0;
    int bold_ = 0, italic_ = 0, underline_ = 0;
    qsizetype markupLeft_;
    QString href_;
    QString escapedHref_;
    quint64 hrefGeneration_ = 0;
    quint64 wroteGeneration_ = 0;
    bool wroteBold_ = false, wroteItalic_ = false, wroteUnderline_ = false, wroteLink_ = false;
};

QString attribute(const QList<Attribute>& attributes, QLatin1String key) {
    for (const Attribute& a : attributes)
        if (a.name == key)
            return a.value;
    return QString();
}

void startTag(PreviewWriter& w, Tag tag, const QList<Attribute>& attributes) {
    switch (tag) {
        case Tag::Bold:
            w.bold(true);
            break;
        case Tag::Italic:
            w.italic(true);
            break;
        case Tag::Underline:
            w.underline(true);
            break;
        case Tag::Link:
            w.link(
                decodeCharacterReferences(attribute(attributes, QLatin1String("href"))).trimmed());
            break;
        case Tag::Break:
            w.lineBreak();
            break;
        case Tag::Cell:
            w.cell();
            break;
        case Tag::Item:
            w.lineBreak();
            w.text(QStringLiteral("\u2022 "));
            break;
        case Tag::Image: {
            const QString alt =
                decodeCharacterReferences(attribute(attributes, QLatin1String("alt"))).trimmed();
            if (!alt.isEmpty())
                w.text(QLatin1Char('[') + alt + QLatin1Char(']'));
            break;
        }
        case Tag::Heading:
            w.paragraph();
            w.bold(true);
            break;
        case Tag::Line:
            w.lineBreak();
            break;
        case Tag::Block:
        case Tag::Opening:
            w.paragraph();
            break;
        default:
            break;
    }
}

void endTag(PreviewWriter& w, Tag tag) {
    switch (tag) {
        case Tag::Bold:
            w.bold(false);
            break;
        case Tag::Italic:
            w.italic(false);
            break;
        case Tag::Underline:
            w.underline(false);
            break;
        case Tag::Link:
            w.link(QString());
            break;
        case Tag::Heading:
            w.bold(false);
            w.paragraph();
            break;
        case Tag::Item:
        case Tag::Line:
            w.lineBreak();
            break;
        case Tag::Block:
            w.paragraph();
            break;
        default:
            break;
    }
}

}  // namespace

QString previewHtml(QStringView s, qsizetype maxChars) {
    PreviewWriter w(maxChars);
    qsizetype pos = 0;
    while (pos < s.size() && !w.full()) {
        const qsizetype lt = s.indexOf(u'<', pos);
        const qsizetype textEnd = lt < 0 ? s.size() : lt;
        if (textEnd > pos)
            w.text(decodeCharacterReferences(s.mid(pos, textEnd - pos)));
        if (lt < 0 || lt + 1 >= s.size())
            break;
        const QChar next = s[lt + 1];
        if (next == u'!') {
            pos = s.mid(lt).startsWith(u"<!--") ? skipComment(s, lt) : skipToGreaterThan(s, lt);
        } else if (next == u'?') {
            pos = skipToGreaterThan(s, lt);
        } else if (next == u'/') {
            if (lt + 2 < s.size() && isAsciiAlpha(s[lt + 2])) {
                TagName name;
                pos = readTag(s, lt + 2, &name);
                endTag(w, tagOf(name.view()));
            } else {
                pos = skipToGreaterThan(s, lt + 2);
            }
        } else if (isAsciiAlpha(next)) {
            TagName name;
            const qsizetype afterName = readTagName(s, lt + 1, &name);
            const Tag tag = tagOf(name.view());
            // Only links and pictures have attributes the preview uses.
            QList<Attribute> attributes;
            const bool wanted = tag == Tag::Link || tag == Tag::Image;
            bool selfClosing = false;
            pos = readAttributes(s, afterName, wanted ? &attributes : nullptr, &selfClosing);
            // A drawing or a formula shows nothing here; "<svg/>" holds nothing at all.
            if (tag == Tag::Foreign && selfClosing)
                continue;
            if (tag == Tag::Plaintext) {
                w.plainLines();
                w.text(s.mid(pos));
                break;
            }
            if (tag == Tag::RawText || tag == Tag::Title || tag == Tag::Foreign) {
                const qsizetype end = findEndTag(s, pos, name.view());
                if (end < 0)
                    break;
                pos = readTag(s, end + 2, nullptr);
                continue;
            }
            startTag(w, tag, attributes);
        } else {
            w.text(u"<");
            pos = lt + 1;
        }
    }
    return w.finish();
}

QString previewText(QStringView text, qsizetype maxChars) {
    PreviewWriter w(maxChars);
    w.plainLines();
    w.text(text);
    return w.finish();
}

QByteArray charsetParameter(const QByteArray& contentType) {
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray p = parts[i].trimmed();
        const qsizetype eq = p.indexOf('=');
        if (eq > 0 && p.left(eq).trimmed().toLower() == "charset")
            return canonicalLabel(p.mid(eq + 1), false);
    }
    return QByteArray();
}

QByteArray metaCharset(const QByteArray& body) {
    const QString text = QString::fromLatin1(body.left(1024));
    const QStringView s(text);
    qsizetype pos = 0;
    for (qsizetype lt = s.indexOf(u'<', pos); lt >= 0 && lt + 1 < s.size();
         lt = s.indexOf(u'<', pos)) {
        const QChar next = s[lt + 1];
        if (s.mid(lt).startsWith(u"<!--")) {
            pos = skipComment(s, lt);
        } else if (isAsciiAlpha(next)) {
            TagName name;
            const qsizetype afterName = readTagName(s, lt + 1, &name);
            if (tagOf(name.view()) != Tag::Meta) {
                pos = readAttributes(s, afterName, nullptr);
                continue;
            }
            QList<Attribute> attributes;
            pos = readAttributes(s, afterName, &attributes);
            QString content;
            bool contentType = false;
            for (const Attribute& a : attributes) {
                if (a.name == QLatin1String("charset") && !a.value.trimmed().isEmpty())
                    return canonicalLabel(a.value.toLatin1(), true);
                if (a.name == QLatin1String("http-equiv"))
                    contentType = a.value.trimmed().compare(QLatin1String("content-type"),
                                                            Qt::CaseInsensitive) == 0;
                if (a.name == QLatin1String("content"))
                    content = a.value;
            }
            if (!contentType)
                continue;
            const qsizetype at = content.indexOf(QLatin1String("charset"), 0, Qt::CaseInsensitive);
            if (at < 0)
                continue;
            qsizetype i = at + 7;
            while (i < content.size() && isAsciiWhitespace(content[i]))
                ++i;
            if (i >= content.size() || content[i] != u'=')
                continue;
            ++i;
            while (i < content.size() && isAsciiWhitespace(content[i]))
                ++i;
            qsizetype end = i;
            if (i < content.size() && (content[i] == u'"' || content[i] == u'\'')) {
                const qsizetype close = content.indexOf(content[i], i + 1);
                if (close < 0)
                    continue;
                ++i;
                end = close;
            } else {
                while (end < content.size() && !isAsciiWhitespace(content[end]) &&
                       content[end] != u';')
                    ++end;
            }
            if (end > i)
                return canonicalLabel(content.mid(i, end - i).toLatin1(), true);
        } else if (next == u'/' && lt + 2 < s.size() && isAsciiAlpha(s[lt + 2])) {
            pos = readTag(s, lt + 2, nullptr);
        } else if (next == u'!' || next == u'/' || next == u'?') {
            pos = skipToGreaterThan(s, lt + 1);
        } else {
            pos = lt + 1;
        }
    }
    return QByteArray();
}

Kind kindOf(const QByteArray& contentType, const QUrl& address, const QByteArray& body) {
    const QByteArray mime = contentType.split(';').value(0).trimmed().toLower();
    if (!mime.isEmpty()) {
        if (mime == "text/html" || mime == "application/xhtml+xml")
            return Kind::Html;
        if (mime.startsWith("text/") || mime.endsWith("+xml") || mime.endsWith("/xml") ||
            mime.endsWith("/json") || mime.endsWith("/javascript"))
            return Kind::Text;
        return Kind::Binary;
    }

    // No media type (a local file, a careless server): the name, then the bytes decide.
    const QString path = address.path().toLower();
    for (const char* ext : {".html", ".htm", ".xhtml", ".shtml"})
        if (path.endsWith(QLatin1String(ext)))
            return Kind::Html;
    const bool utf16 = body.startsWith("\xFE\xFF") || body.startsWith("\xFF\xFE");
    if (!utf16) {
        for (char b : body.left(512)) {
            const uchar u = uchar(b);
            if (u <= 0x08 || u == 0x0B || (u >= 0x0E && u <= 0x1A) || (u >= 0x1C && u <= 0x1F))
                return Kind::Binary;
        }
    }
    QByteArray head = body.left(512);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    head = head.trimmed().toLower();
    if (head.startsWith("<!--"))
        return Kind::Html;
    static const char* const kOpeners[] = {
        "<!doctype html", "<html", "<head",  "<script", "<iframe", "<h1",   "<div", "<font",
        "<table",         "<a",    "<style", "<title",  "<b",      "<body", "<br",  "<p"};
    for (const char* opener : kOpeners) {
        const QByteArray o(opener);
        if (head.startsWith(o) && head.size() > o.size() &&
            (head[o.size()] == ' ' || head[o.size()] == '>'))
            return Kind::Html;
    }
    return Kind::Text;
}

QString decodeDocument(const QByteArray& body, const QByteArray& headerCharset, Kind kind,
                       QByteArray* used) {
    QString text;
    const auto done = [&](const QByteArray& encoding) {
        if (used)
            *used = encoding;
        return text;
    };
    if (body.startsWith("\xEF\xBB\xBF") && decodeWith("utf-8", body.mid(3), &text))
        return done("utf-8");
    if (body.startsWith("\xFE\xFF") && decodeWith("utf-16be", body.mid(2), &text))
        return done("utf-16be");
    if (body.startsWith("\xFF\xFE") && decodeWith("utf-16le", body.mid(2), &text))
        return done("utf-16le");
    if (decodeWith(headerCharset, body, &text))
        return done(headerCharset);
    if (kind == Kind::Html) {
        const QByteArray declared = metaCharset(body);
        if (decodeWith(declared, body, &text))
            return done(declared);
    }
    text = decodeWindows1252(body);
    return done("windows-1252");
}

QString decodeCharacterReferences(QStringView text) {
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        if (text[i] != u'&') {
            out.append(text[i++]);
            continue;
        }
        const qsizetype j = i + 1;
        if (j < n && text[j] == u'#') {
            qsizetype k = j + 1;
            const bool hex = k < n && (text[k] == u'x' || text[k] == u'X');
            if (hex)
                ++k;
            const qsizetype digits = k;
            char32_t value = 0;
            for (; k < n; ++k) {
                const char16_t u = text[k].unicode();
                int d = -1;
                if (u >= '0' && u <= '9')
                    d = u - '0';
                else if (hex && u >= 'a' && u <= 'f')
                    d = u - 'a' + 10;
                else if (hex && u >= 'A' && u <= 'F')
                    d = u - 'A' + 10;
                if (d < 0)
                    break;
                // Past the last code point the exact value no longer matters.
                value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + char32_t(d);
            }
            if (k == digits) {  // "&#" or "&#x" with no digits is plain text
                out.append(u'&');
                ++i;
                continue;
            }
            if (k < n && text[k] == u';')
                ++k;
            appendCodePoint(out, value);
            i = k;
            continue;
        }

        // Named: the longest name in the table, ';' included where the text has one.
        char key[64];
        const qsizetype longest = qMin(qsizetype(longestEntityName()), qsizetype(sizeof key - 1));
        qsizetype run = j;
        while (run < n && run - j < longest && isAsciiAlnum(text[run])) {
            key[run - j] = char(text[run].unicode());
            ++run;
        }
        std::size_t keyLength = std::size_t(run - j);
        if (run < n && text[run] == u';')
            key[keyLength++] = ';';
        std::size_t length = 0;
        char32_t first = 0;
        char32_t second = 0;
        const bool matched = longestEntity(key, keyLength, &length, &first, &second);
        if (matched) {
            appendUcs4(out, first);
            if (second)
                appendUcs4(out, second);
            i = j + qsizetype(length);
        }
        if (!matched) {
            out.append(u'&');
            ++i;
        }
    }
    return out;
}

namespace {

// The open SVG and MathML elements, as a browser's parser keeps them, as far as the title needs:
// inside them a <title> is the drawing's or the formula's, except where they let HTML in again
// (their integration points: an SVG foreignObject, desc or title, a MathML mi, mo, mn, ms, mtext
// or an annotation-xml that says it holds HTML). Elements HTML knows well (p, div, b, table...)
// end the foreign content at once. Every element is pushed and popped once, so the cost stays
// linear in the page.
class ForeignContent {
public:
    bool active() const { return !open_.empty(); }

    // Whether a start tag with this name is read as HTML here.
    bool startIsHtml(QStringView name) const {
        if (open_.empty())
            return true;
        const Open& top = open_.back();
        if (top.kind == Point::Html)
            return true;
        return top.kind == Point::Text && name != u"mglyph" && name != u"malignmark";
    }

    // Elements that a browser will not keep inside a drawing or a formula.
    static bool breaksOut(QStringView name, const QList<Attribute>& attributes) {
        static const char16_t* const kNames[] = {
            u"b",       u"big",   u"blockquote", u"body",   u"br",     u"center", u"code", u"dd",
            u"div",     u"dl",    u"dt",         u"em",     u"embed",  u"h1",     u"h2",   u"h3",
            u"h4",      u"h5",    u"h6",         u"head",   u"hr",     u"i",      u"img",  u"li",
            u"listing", u"menu",  u"meta",       u"nobr",   u"ol",     u"p",      u"pre",  u"ruby",
            u"s",       u"small", u"span",       u"strong", u"strike", u"sub",    u"sup",  u"table",
            u"tt",      u"u",     u"ul",         u"var"};
        for (const char16_t* n : kNames)
            if (name == QStringView(n))
                return true;
        if (name == u"font")
            for (const Attribute& a : attributes)
                if (a.name == QLatin1String("color") || a.name == QLatin1String("face") ||
                    a.name == QLatin1String("size"))
                    return true;
        return false;
    }

    // Back to the nearest point that lets HTML in, or out of foreign content altogether.
    void breakOut() {
        while (!open_.empty() && open_.back().kind == Point::None)
            pop();
    }

    // A start tag inside foreign content, or (`asHtml`) an <svg> or <math> met as HTML, which
    // starts a drawing or a formula.
    void start(QStringView name, const QList<Attribute>& attributes, bool selfClosing,
               bool asHtml) {
        if (selfClosing)
            return;
        Space space = Space::Svg;
        if (asHtml)
            space = name == u"math" ? Space::Math : Space::Svg;
        else if (open_.back().space == Space::Math &&
                 !(open_.back().name == u"annotation-xml" && name == u"svg"))
            space = Space::Math;
        Point kind = Point::None;
        if (space == Space::Svg &&
            (name == u"foreignobject" || name == u"desc" || name == u"title")) {
            kind = Point::Html;
        } else if (space == Space::Math && (name == u"mi" || name == u"mo" || name == u"mn" ||
                                            name == u"ms" || name == u"mtext")) {
            kind = Point::Text;
        } else if (space == Space::Math && name == u"annotation-xml") {
            for (const Attribute& a : attributes) {
                const QString v = a.value.toLower();
                if (a.name == QLatin1String("encoding") &&
                    (v == QLatin1String("text/html") ||
                     v == QLatin1String("application/xhtml+xml")))
                    kind = Point::Html;
            }
        }
        const QString n = name.toString();
        ++count_[n];
        open_.push_back({n, space, kind});
    }

    // A foreign end tag: closes the innermost open element of that name and all inside it.
    void end(QStringView name) {
        if (name == u"p" || name == u"br") {
            if (!open_.empty() && open_.back().kind == Point::None)
                breakOut();
            return;
        }
        const auto it = count_.constFind(name.toString());
        if (it == count_.constEnd() || *it == 0)
            return;
        while (!open_.empty()) {
            const bool last = open_.back().name == name;
            pop();
            if (last)
                break;
        }
    }

    static bool wantsAttributes(QStringView name) {
        return name == u"font" || name == u"annotation-xml";
    }

private:
    enum class Space { Svg, Math };
    enum class Point { None, Html, Text };
    struct Open {
        QString name;
        Space space;
        Point kind;
    };
    void pop() {
        --count_[open_.back().name];
        open_.pop_back();
    }

    std::vector<Open> open_;
    QHash<QString, int> count_;
};

}  // namespace

QString documentTitle(QStringView s, bool* found) {
    if (found)
        *found = false;
    ForeignContent foreign;
    qsizetype pos = 0;
    for (qsizetype lt = s.indexOf(u'<', pos); lt >= 0 && lt + 1 < s.size();
         lt = s.indexOf(u'<', pos)) {
        const QChar next = s[lt + 1];
        if (next == u'!') {
            if (foreign.active() && s.mid(lt).startsWith(u"<![CDATA[")) {
                // Only a drawing or a formula has character data sections; they hold text.
                const qsizetype close = s.indexOf(u"]]>", lt + 9);
                pos = close < 0 ? s.size() : close + 3;
            } else {
                pos = s.mid(lt).startsWith(u"<!--") ? skipComment(s, lt) : skipToGreaterThan(s, lt);
            }
        } else if (next == u'?') {
            pos = skipToGreaterThan(s, lt);
        } else if (next == u'/') {
            if (lt + 2 < s.size() && isAsciiAlpha(s[lt + 2])) {
                TagName name;
                pos = readTag(s, lt + 2, &name);
                if (foreign.active())
                    foreign.end(name.view());
            } else {
                pos = skipToGreaterThan(s, lt + 2);
            }
        } else if (isAsciiAlpha(next)) {
            TagName name;
            const qsizetype afterName = readTagName(s, lt + 1, &name);
            QList<Attribute> attributes;
            bool selfClosing = false;
            const bool wanted = ForeignContent::wantsAttributes(name.view());
            pos = readAttributes(s, afterName, wanted ? &attributes : nullptr, &selfClosing);
            if (!foreign.startIsHtml(name.view())) {
                if (!ForeignContent::breaksOut(name.view(), attributes)) {
                    foreign.start(name.view(), attributes, selfClosing, false);
                    continue;
                }
                foreign.breakOut();
            }
            const Tag tag = tagOf(name.view());
            if (tag == Tag::Foreign) {
                foreign.start(name.view(), attributes, selfClosing, true);
            } else if (tag == Tag::Title) {
                const qsizetype end = findEndTag(s, pos, name.view());
                QString raw = (end < 0 ? s.mid(pos) : s.mid(pos, end - pos)).toString();
                raw.replace(QChar(0), QChar(0xFFFD));
                if (found)
                    *found = true;
                return decodeCharacterReferences(raw);
            } else if (tag == Tag::Plaintext) {
                break;
            } else if (tag == Tag::RawText) {
                const qsizetype end = findEndTag(s, pos, name.view());
                if (end < 0)
                    break;
                pos = readTag(s, end + 2, nullptr);
            }
        } else {
            pos = lt + 1;
        }
    }
    return QString();
}

}  // namespace platform::html
