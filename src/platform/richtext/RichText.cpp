#include "platform/richtext/RichText.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include "platform/Errors.h"
#include "platform/text/Windows1252.h"
#include "platform/ui/Twips.h"

namespace platform {
namespace {

// Sane ranges for the numbers a document may carry. Real documents stay far inside them; a
// damaged or hostile one is held to them instead of being trusted.
constexpr int kMaxTwips = 31680;  // 22 inches, more than any page is wide
constexpr int kDefaultHalfPoints = 24;
// Below 2 pt Qt's superscript and subscript sizes round to nothing.
constexpr int kMinHalfPoints = 4;
constexpr int kMaxHalfPoints = 576;  // 288 pt
constexpr int kMaxTabs = 32;
constexpr int kMaxCells = 64;
constexpr int kMaxFonts = 4096;
constexpr int kMaxColours = 4096;
constexpr int kMaxFontName = 256;
constexpr int kMaxFallbackSkip = 255;
constexpr int kMaxWordLength = 32;
constexpr qsizetype kPendingBytesFlush = 4096;
constexpr int kDefaultCodePage = 1252;

// ---- code pages ---------------------------------------------------------------------------

// The code pages RTF writers name, with the converter for each. Anything else reads as 1252;
// keeping the list closed also keeps a document from making us look up thousands of names.
struct Converter {
    int codePage;
    const char* name;
};
constexpr Converter kConverters[] = {
    {437, "IBM437"},        {737, "IBM737"},        {775, "IBM775"},        {850, "IBM850"},
    {852, "IBM852"},        {855, "IBM855"},        {857, "IBM857"},        {860, "IBM860"},
    {861, "IBM861"},        {862, "IBM862"},        {863, "IBM863"},        {864, "IBM864"},
    {865, "IBM865"},        {866, "IBM866"},        {869, "IBM869"},        {874, "windows-874"},
    {932, "Shift_JIS"},     {936, "GBK"},           {949, "windows-949"},   {950, "Big5"},
    {1250, "windows-1250"}, {1251, "windows-1251"}, {1253, "windows-1253"}, {1254, "windows-1254"},
    {1255, "windows-1255"}, {1256, "windows-1256"}, {1257, "windows-1257"}, {1258, "windows-1258"},
    {10000, "macintosh"},   {65001, "UTF-8"},
};

const char* converterName(int codePage) {
    for (const Converter& c : kConverters)
        if (c.codePage == codePage)
            return c.name;
    return nullptr;
}

// \fcharset values and the code page each stands for; any other character set means "the
// document's code page".
struct Charset {
    int charset;
    int codePage;
};
constexpr Charset kCharsets[] = {
    {77, 10000}, {128, 932},  {129, 949},  {134, 936},  {136, 950},
    {161, 1253}, {162, 1254}, {163, 1258}, {177, 1255}, {178, 1256},
    {186, 1257}, {204, 1251}, {222, 874},  {238, 1250}, {254, 437},
};

int codePageForCharset(int charset) {
    for (const Charset& c : kCharsets)
        if (c.charset == charset)
            return c.codePage;
    return 0;
}

int knownCodePage(int codePage) {
    return codePage == kDefaultCodePage || converterName(codePage) ? codePage : kDefaultCodePage;
}

class CodePages {
public:
    void decode(int codePage, const QByteArray& bytes, QString& out) {
        if (QStringDecoder* d = decoder(codePage)) {
            d->resetState();
            out += d->decode(bytes);
            return;
        }
        // Read as windows-1252, which needs no converter. A byte it has no character for marks
        // the document as damaged there.
        out.reserve(out.size() + bytes.size());
        for (char ch : bytes) {
            const auto b = static_cast<unsigned char>(ch);
            out += QChar(windows1252Char(b, 0xFFFD));
        }
    }

private:
    QStringDecoder* decoder(int codePage) {
        auto it = decoders_.find(codePage);
        if (it == decoders_.end()) {
            std::unique_ptr<QStringDecoder> d;
            if (const char* name = converterName(codePage)) {
                d = std::make_unique<QStringDecoder>(name, QStringDecoder::Flag::Stateless);
                if (!d->isValid())
                    d.reset();
            }
            it = decoders_.emplace(codePage, std::move(d)).first;
        }
        return it->second.get();
    }

    std::unordered_map<int, std::unique_ptr<QStringDecoder>> decoders_;
};

// ---- control words ------------------------------------------------------------------------

enum class Word {
    Unknown,
    // document
    Ansi,
    Mac,
    Pc,
    Pca,
    AnsiCpg,
    Deff,
    DefTab,
    Bin,
    // destinations
    FontTable,
    ColourTable,
    SkippedDestination,
    // font and colour tables
    Font,
    FontCharset,
    Red,
    Green,
    Blue,
    // characters
    Plain,
    Bold,
    Italic,
    Underline,
    UnderlineNone,
    Strike,
    Super,
    Sub,
    NoSuperSub,
    Hidden,
    FontSize,
    Foreground,
    Background,
    // paragraphs
    Pard,
    Par,
    Line,
    Tab,
    Page,
    Sect,
    AlignLeft,
    AlignCentre,
    AlignRight,
    AlignJustify,
    LeftIndent,
    RightIndent,
    FirstIndent,
    SpaceBefore,
    SpaceAfter,
    TabStop,
    // tables
    InTable,
    RowDefaults,
    CellEdge,
    Cell,
    Row,
    // Unicode
    Unicode,
    FallbackCount,
    // special characters
    Special,
};

struct WordInfo {
    Word word;
    char16_t ch;  // for Special
};

struct WordEntry {
    std::string_view name;
    Word word;
    char16_t ch = 0;
};

// The control words the reader acts on; any other is skipped with its parameter.
constexpr WordEntry kWords[] = {
    {"ansi", Word::Ansi},
    {"mac", Word::Mac},
    {"pc", Word::Pc},
    {"pca", Word::Pca},
    {"ansicpg", Word::AnsiCpg},
    {"deff", Word::Deff},
    {"deftab", Word::DefTab},
    {"bin", Word::Bin},
    {"fonttbl", Word::FontTable},
    {"colortbl", Word::ColourTable},
    {"f", Word::Font},
    {"fcharset", Word::FontCharset},
    {"red", Word::Red},
    {"green", Word::Green},
    {"blue", Word::Blue},
    {"plain", Word::Plain},
    {"b", Word::Bold},
    {"i", Word::Italic},
    {"ulnone", Word::UnderlineNone},
    {"strike", Word::Strike},
    {"striked", Word::Strike},
    {"super", Word::Super},
    {"sub", Word::Sub},
    {"nosupersub", Word::NoSuperSub},
    {"v", Word::Hidden},
    {"fs", Word::FontSize},
    {"cf", Word::Foreground},
    {"cb", Word::Background},
    {"chcbpat", Word::Background},
    {"highlight", Word::Background},
    {"pard", Word::Pard},
    {"par", Word::Par},
    {"line", Word::Line},
    {"tab", Word::Tab},
    {"page", Word::Page},
    {"sect", Word::Sect},
    {"ql", Word::AlignLeft},
    {"qc", Word::AlignCentre},
    {"qr", Word::AlignRight},
    {"qj", Word::AlignJustify},
    {"li", Word::LeftIndent},
    {"ri", Word::RightIndent},
    {"fi", Word::FirstIndent},
    {"sb", Word::SpaceBefore},
    {"sa", Word::SpaceAfter},
    {"tx", Word::TabStop},
    {"tb", Word::TabStop},
    {"intbl", Word::InTable},
    {"trowd", Word::RowDefaults},
    {"cellx", Word::CellEdge},
    {"cell", Word::Cell},
    {"nestcell", Word::Cell},
    {"row", Word::Row},
    {"nestrow", Word::Row},
    {"u", Word::Unicode},
    {"uc", Word::FallbackCount},
    {"emdash", Word::Special, 0x2014},
    {"endash", Word::Special, 0x2013},
    {"bullet", Word::Special, 0x2022},
    {"lquote", Word::Special, 0x2018},
    {"rquote", Word::Special, 0x2019},
    {"ldblquote", Word::Special, 0x201C},
    {"rdblquote", Word::Special, 0x201D},
    {"enspace", Word::Special, 0x2002},
    {"emspace", Word::Special, 0x2003},
    {"qmspace", Word::Special, 0x2005},
    {"zwj", Word::Special, 0x200D},
    {"zwnj", Word::Special, 0x200C},
    {"ltrmark", Word::Special, 0x200E},
    {"rtlmark", Word::Special, 0x200F},
};

// Destinations whose content is not body text. Those starting with \* are skipped anyway;
// these are the ones writers emit without it.
constexpr std::string_view kSkippedDestinations[] = {"author",
                                                     "buptim",
                                                     "comment",
                                                     "creatim",
                                                     "doccomm",
                                                     "docvar",
                                                     "falt",
                                                     "fldinst",
                                                     "footer",
                                                     "footerf",
                                                     "footerl",
                                                     "footerr",
                                                     "footnote",
                                                     "ftncn",
                                                     "ftnsep",
                                                     "ftnsepc",
                                                     "aftncn",
                                                     "aftnsep",
                                                     "aftnsepc",
                                                     "generator",
                                                     "header",
                                                     "headerf",
                                                     "headerl",
                                                     "headerr",
                                                     "info",
                                                     "keywords",
                                                     "list",
                                                     "listoverridetable",
                                                     "listpicture",
                                                     "listtable",
                                                     "nonshppict",
                                                     "object",
                                                     "objdata",
                                                     "operator",
                                                     "panose",
                                                     "pgdsctbl",
                                                     "pict",
                                                     "pn",
                                                     "printim",
                                                     "private",
                                                     "revtbl",
                                                     "revtim",
                                                     "rsidtbl",
                                                     "shp",
                                                     "shpinst",
                                                     "shprslt",
                                                     "stylesheet",
                                                     "subject",
                                                     "tc",
                                                     "template",
                                                     "title",
                                                     "txe",
                                                     "userprops",
                                                     "xe",
                                                     "xmlnstbl",
                                                     "annotation",
                                                     "atnid",
                                                     "atnauthor",
                                                     "bkmkstart",
                                                     "bkmkend",
                                                     "datastore",
                                                     "themedata",
                                                     "colorschememapping",
                                                     "latentstyles"};

// Every underline style reads as a plain underline.
constexpr std::string_view kUnderlines[] = {
    "ul",         "uld",       "uldash",     "uldashd", "uldashdd", "uldb",
    "ulhwave",    "ulldash",   "ulth",       "ulthd",   "ulthdash", "ulthdashd",
    "ulthdashdd", "ulthldash", "ululdbwave", "ulw",     "ulwave"};

const std::unordered_map<std::string_view, WordInfo>& words() {
    static const std::unordered_map<std::string_view, WordInfo> table = [] {
        std::unordered_map<std::string_view, WordInfo> t;
        for (std::string_view d : kSkippedDestinations)
            t[d] = {Word::SkippedDestination, 0};
        for (std::string_view u : kUnderlines)
            t[u] = {Word::Underline, 0};
        // Listed words come last, so that they win over a list above, as they always did.
        for (const WordEntry& w : kWords)
            t[w.name] = {w.word, w.ch};
        return t;
    }();
    return table;
}

// ---- reader state -------------------------------------------------------------------------

enum class Destination : std::uint8_t { Text, FontTable, ColourTable, Skip };
enum class Align : std::uint8_t { Left, Centre, Right, Justify };

struct CharState {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool hidden = false;
    std::int8_t script = 0;  // 1 superscript, -1 subscript
    int font = -1;           // -1: the document's default font
    int halfPoints = kDefaultHalfPoints;
    int foreground = -1;  // colour table indexes; -1: automatic
    int background = -1;

    bool operator==(const CharState& o) const {
        return bold == o.bold && italic == o.italic && underline == o.underline &&
               strike == o.strike && hidden == o.hidden && script == o.script && font == o.font &&
               halfPoints == o.halfPoints && foreground == o.foreground &&
               background == o.background;
    }
    bool operator!=(const CharState& o) const { return !(*this == o); }
};

struct ParaState {
    Align align = Align::Left;
    bool inTable = false;
    int left = 0;
    int right = 0;
    int first = 0;
    int before = 0;
    int after = 0;
    int tabCount = 0;
    std::array<int, kMaxTabs> tabs{};
};

// Everything a group saves on '{' and gets back on '}'.
struct Group {
    Destination dest = Destination::Text;
    int fallbackSkip = 1;  // \ucN
    CharState chr;
    ParaState para;
};

int clampInt(int v, int lo, int hi) {
    return std::min(std::max(v, lo), hi);
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

qreal pixels(int twips) {
    return qreal(twips) / kTwipsPerPixel;
}

class Reader {
public:
    Reader(const QByteArray& data, QTextDocument* document)
        : p_(data.constData()),
          end_(data.constData() + data.size()),
          document_(document),
          cursor_(document) {}

    void read() {
        // One edit for the whole document: outside an edit block every insertion lays out its
        // paragraph again, which makes a long paragraph of many small runs quadratic.
        cursor_.beginEditBlock();
        while (p_ < end_ && !done_) {
            const char c = *p_++;
            switch (c) {
                case '{':
                    openGroup();
                    break;
                case '}':
                    closeGroup();
                    break;
                case '\\':
                    controlSequence();
                    break;
                case '\r':
                case '\n':
                    break;
                default:
                    textByte(static_cast<unsigned char>(c));
                    break;
            }
        }
        if (!done_)  // cut short: keep what was read
            finishDocument();
        cursor_.endEditBlock();
        QTextOption option = document_->defaultTextOption();
        option.setTabStopDistance(pixels(defaultTab_));
        document_->setDefaultTextOption(option);
    }

private:
    // ---- groups -------------------------------------------------------------------------

    void openGroup() {
        flushBytes();
        fallbackPending_ = 0;
        if (overflow_ > 0 || static_cast<int>(stack_.size()) >= kRtfMaxDepth) {
            ++overflow_;
            return;
        }
        stack_.push_back(g_);
    }

    void closeGroup() {
        if (overflow_ > 0) {
            --overflow_;
            return;
        }
        flushBytes();
        fallbackPending_ = 0;
        if (g_.dest == Destination::FontTable)
            commitFont();
        if (stack_.size() <= 1) {
            // The document's own group ends here; whatever follows it is not part of it.
            finishDocument();
            done_ = true;
            return;
        }
        g_ = stack_.back();
        stack_.pop_back();
    }

    // ---- tokens -------------------------------------------------------------------------

    void textByte(unsigned char c) {
        if (overflow_ > 0)
            return;
        if (fallbackPending_ > 0) {
            --fallbackPending_;
            return;
        }
        switch (g_.dest) {
            case Destination::Skip:
                return;
            case Destination::ColourTable:
                if (c == ';')
                    commitColour();
                return;
            case Destination::FontTable:
                if (c == ';') {
                    flushBytes();
                    commitFont();
                    return;
                }
                break;
            case Destination::Text:
                break;
        }
        if (c == '\t') {
            flushBytes();
            put(u'\t');
            return;
        }
        if (c < 0x20)
            return;
        pendingBytes_.append(static_cast<char>(c));
        if (pendingBytes_.size() >= kPendingBytesFlush)
            flushBytes();
    }

    void controlSequence() {
        if (p_ >= end_)
            return;
        if (!isLetter(*p_)) {
            controlSymbol(*p_++);
            return;
        }
        char name[kMaxWordLength];
        int length = 0;
        bool tooLong = false;
        while (p_ < end_ && isLetter(*p_)) {
            if (length < kMaxWordLength)
                name[length++] = *p_;
            else
                tooLong = true;
            ++p_;
        }
        bool negative = false;
        if (p_ + 1 < end_ && *p_ == '-' && isDigit(p_[1])) {
            negative = true;
            ++p_;
        }
        bool hasParam = false;
        long long value = 0;
        while (p_ < end_ && isDigit(*p_)) {
            hasParam = true;
            if (value <= INT_MAX)  // further digits only make it larger: saturate
                value = value * 10 + (*p_ - '0');
            ++p_;
        }
        if (p_ < end_ && *p_ == ' ')
            ++p_;
        value = std::min<long long>(value, INT_MAX);
        const int param = static_cast<int>(negative ? -value : value);
        WordInfo info{Word::Unknown, 0};
        if (!tooLong) {
            const auto it = words().find(std::string_view(name, length));
            if (it != words().end())
                info = it->second;
        }
        controlWord(info, hasParam, param);
    }

    void controlSymbol(char c) {
        if (c == '\'') {
            hexByte();
            return;
        }
        if (overflow_ > 0)
            return;
        flushBytes();
        if (fallbackPending_ > 0) {
            --fallbackPending_;
            return;
        }
        switch (c) {
            case '*':
                g_.dest = Destination::Skip;
                break;
            case '\\':
            case '{':
            case '}':
                put(static_cast<char16_t>(c));
                break;
            case '~':
                put(u'\u00A0');
                break;
            case '_':
                put(u'\u2011');
                break;
            case '\t':
                put(u'\t');
                break;
            case '\r':
            case '\n':
                endParagraph(false);
                break;
            default:
                break;  // \- optional hyphen, \: index entry, \| formula: nothing to show
        }
    }

    void hexByte() {
        int value = 0;
        for (int digits = 0; digits < 2 && p_ < end_; ++digits) {
            const int h = hexValue(*p_);
            if (h < 0)
                break;
            value = value * 16 + h;
            ++p_;
        }
        if (overflow_ > 0)
            return;
        if (fallbackPending_ > 0) {
            --fallbackPending_;
            return;
        }
        if (g_.dest != Destination::Text && g_.dest != Destination::FontTable)
            return;
        if (value < 0x20 && value != '\t')
            return;
        pendingBytes_.append(static_cast<char>(value));
        if (pendingBytes_.size() >= kPendingBytesFlush)
            flushBytes();
    }

    void controlWord(const WordInfo& info, bool hasParam, int param) {
        if (info.word == Word::Bin) {
            // Raw bytes follow; they must not be read as braces or backslashes.
            const long long n = hasParam ? std::max(param, 0) : 0;
            p_ += std::min<long long>(n, end_ - p_);
            if (fallbackPending_ > 0 && overflow_ == 0)
                --fallbackPending_;
            return;
        }
        if (overflow_ > 0)
            return;
        flushBytes();
        if (fallbackPending_ > 0) {
            --fallbackPending_;
            return;
        }
        switch (g_.dest) {
            case Destination::Skip:
                return;
            case Destination::ColourTable:
                colourTableWord(info.word, param);
                return;
            case Destination::FontTable:
                fontTableWord(info.word, param);
                return;
            case Destination::Text:
                break;
        }
        // Each family leaves the words that are not its own to the next.
        if (documentWord(info.word, param) || destinationWord(info.word) ||
            characterWord(info.word, hasParam, param) || paragraphWord(info.word, param) ||
            tableWord(info.word, param))
            return;
        if (info.word == Word::Unicode)
            unicode(param);
        else if (info.word == Word::FallbackCount)
            g_.fallbackSkip = clampInt(param, 0, kMaxFallbackSkip);
        else if (info.word == Word::Special)
            put(info.ch);
    }

    void colourTableWord(Word word, int param) {
        int* channel = word == Word::Red     ? &red_
                       : word == Word::Green ? &green_
                       : word == Word::Blue  ? &blue_
                                             : nullptr;
        if (!channel)
            return;
        *channel = clampInt(param, 0, 255);
        colourSet_ = true;
    }

    void fontTableWord(Word word, int param) {
        switch (word) {
            case Word::Font:
                commitFont();
                fontIndex_ = param;
                fontCharset_ = -1;
                break;
            case Word::FontCharset:
                fontCharset_ = param;
                break;
            case Word::Unicode:
                unicode(param);
                break;
            case Word::FallbackCount:
                g_.fallbackSkip = clampInt(param, 0, kMaxFallbackSkip);
                break;
            case Word::SkippedDestination:
                g_.dest = Destination::Skip;
                break;
            default:
                break;
        }
    }

    // The document's code page, default font and default tab width.
    bool documentWord(Word word, int param) {
        struct CodePageWord {
            Word word;
            int codePage;
        };
        static constexpr CodePageWord kCodePages[] = {
            {Word::Ansi, 1252}, {Word::Mac, 10000}, {Word::Pc, 437}, {Word::Pca, 850}};
        for (const CodePageWord& w : kCodePages) {
            if (w.word == word) {
                codePage_ = w.codePage;
                return true;
            }
        }
        switch (word) {
            case Word::AnsiCpg:
                codePage_ = knownCodePage(param);
                return true;
            case Word::Deff:
                defaultFont_ = param;
                return true;
            case Word::DefTab:
                if (param > 0)
                    defaultTab_ = clampInt(param, kTwipsPerPixel, kMaxTwips);
                return true;
            default:
                return false;
        }
    }

    // Words that send the text that follows elsewhere than into the document.
    bool destinationWord(Word word) {
        switch (word) {
            case Word::FontTable:
                g_.dest = Destination::FontTable;
                fontIndex_ = -1;
                return true;
            case Word::ColourTable:
                g_.dest = Destination::ColourTable;
                colourSet_ = false;
                return true;
            case Word::SkippedDestination:
                g_.dest = Destination::Skip;
                return true;
            default:
                return false;
        }
    }

    // Switches of the character state that a bare word turns on and a zero parameter turns off.
    static bool CharState::*toggle(Word word) {
        switch (word) {
            case Word::Bold:
                return &CharState::bold;
            case Word::Italic:
                return &CharState::italic;
            case Word::Underline:
                return &CharState::underline;
            case Word::Strike:
                return &CharState::strike;
            case Word::Hidden:
                return &CharState::hidden;
            default:
                return nullptr;
        }
    }

    bool characterWord(Word word, bool hasParam, int param) {
        CharState& c = g_.chr;
        if (bool CharState::*flag = toggle(word)) {
            c.*flag = !hasParam || param != 0;
            return true;
        }
        switch (word) {
            case Word::Font:
                c.font = param;
                return true;
            case Word::Plain:
                c = CharState();
                return true;
            case Word::UnderlineNone:
                c.underline = false;
                return true;
            case Word::Super:
                c.script = 1;
                return true;
            case Word::Sub:
                c.script = -1;
                return true;
            case Word::NoSuperSub:
                c.script = 0;
                return true;
            case Word::FontSize:
                c.halfPoints = hasParam && param > 0
                                   ? clampInt(param, kMinHalfPoints, kMaxHalfPoints)
                                   : kDefaultHalfPoints;
                return true;
            case Word::Foreground:
                c.foreground = param;
                return true;
            case Word::Background:
                c.background = param;
                return true;
            default:
                return false;
        }
    }

    bool paragraphWord(Word word, int param) {
        ParaState& p = g_.para;
        switch (word) {
            case Word::Pard:
                p = ParaState();
                return true;
            case Word::Par:
            case Word::Page:
            case Word::Sect:
                endParagraph(false);
                return true;
            case Word::Line:
                put(u'\u2028');
                return true;
            case Word::Tab:
                put(u'\t');
                return true;
            case Word::AlignLeft:
                p.align = Align::Left;
                return true;
            case Word::AlignCentre:
                p.align = Align::Centre;
                return true;
            case Word::AlignRight:
                p.align = Align::Right;
                return true;
            case Word::AlignJustify:
                p.align = Align::Justify;
                return true;
            default:
                return paragraphMeasure(word, param);
        }
    }

    // Indents, spacing and tab stops, in twips.
    bool paragraphMeasure(Word word, int param) {
        ParaState& p = g_.para;
        switch (word) {
            case Word::LeftIndent:
                p.left = clampInt(param, -kMaxTwips, kMaxTwips);
                return true;
            case Word::RightIndent:
                p.right = clampInt(param, -kMaxTwips, kMaxTwips);
                return true;
            case Word::FirstIndent:
                p.first = clampInt(param, -kMaxTwips, kMaxTwips);
                return true;
            case Word::SpaceBefore:
                p.before = clampInt(param, 0, kMaxTwips);
                return true;
            case Word::SpaceAfter:
                p.after = clampInt(param, 0, kMaxTwips);
                return true;
            case Word::TabStop:
                if (p.tabCount < kMaxTabs)
                    p.tabs[p.tabCount++] = clampInt(param, 0, kMaxTwips);
                return true;
            default:
                return false;
        }
    }

    bool tableWord(Word word, int param) {
        switch (word) {
            case Word::InTable:
                g_.para.inTable = true;
                return true;
            case Word::RowDefaults:
                cellCount_ = 0;
                return true;
            case Word::CellEdge:
                if (cellCount_ < kMaxCells)
                    cells_[cellCount_++] = clampInt(param, 0, kMaxTwips);
                return true;
            case Word::Cell:
                // Cells are separated by tabs; the separator waits for the next cell's text so
                // that a row does not end in a tab.
                ++pendingCells_;
                return true;
            case Word::Row:
                endParagraph(true);
                return true;
            default:
                return false;
        }
    }

    void unicode(int param) {
        // The parameter is a signed 16-bit number: code points above 32767 come negative.
        int code = param < 0 ? param + 65536 : param;
        if (code < 0 || code > 0xFFFF)
            code = 0xFFFD;
        put(static_cast<char16_t>(code));
        fallbackPending_ = g_.fallbackSkip;
    }

    // ---- tables of fonts and colours -----------------------------------------------------

    void commitFont() {
        if (fontIndex_ >= 0 || !fontName_.isEmpty()) {
            const QString name = fontName_.trimmed();
            if (fontIndex_ >= 0 && (fonts_.size() < kMaxFonts || fonts_.contains(fontIndex_)))
                fonts_.insert(fontIndex_, {name, codePageForCharset(fontCharset_)});
        }
        fontIndex_ = -1;
        fontCharset_ = -1;
        fontName_.clear();
    }

    void commitColour() {
        if (colours_.size() < kMaxColours)
            colours_.append(colourSet_ ? QColor(red_, green_, blue_) : QColor());
        red_ = green_ = blue_ = 0;
        colourSet_ = false;
    }

    QColor colour(int index) const {
        return index >= 0 && index < colours_.size() ? colours_.at(index) : QColor();
    }

    // ---- text ---------------------------------------------------------------------------

    int codePage() const {
        if (g_.dest == Destination::FontTable) {
            const int cp = codePageForCharset(fontCharset_);
            return cp ? cp : codePage_;
        }
        const auto it = fonts_.constFind(g_.chr.font >= 0 ? g_.chr.font : defaultFont_);
        if (it != fonts_.constEnd() && it->codePage)
            return it->codePage;
        return codePage_;
    }

    void flushBytes() {
        if (pendingBytes_.isEmpty())
            return;
        decoded_.clear();
        codePages_.decode(codePage(), pendingBytes_, decoded_);
        pendingBytes_.clear();
        for (QChar ch : std::as_const(decoded_))
            put(ch.unicode());
    }

    // One UTF-16 unit of text for the current destination.
    void put(char16_t ch) {
        if (g_.dest == Destination::FontTable) {
            if (fontName_.size() < kMaxFontName && (ch >= 0x20 || ch == u'\t'))
                fontName_ += QChar(ch);
            return;
        }
        if (g_.dest != Destination::Text || g_.chr.hidden)
            return;
        if ((ch < 0x20 && ch != u'\t') || (ch >= 0x7F && ch < 0xA0))
            return;  // control characters have no place in a page of text
        // Surrogates only travel in pairs; a half pair is shown as a replacement character.
        if (QChar::isHighSurrogate(ch)) {
            if (highSurrogate_)
                append(0xFFFD);
            highSurrogate_ = ch;
            return;
        }
        if (QChar::isLowSurrogate(ch)) {
            if (highSurrogate_) {
                append(highSurrogate_);
                highSurrogate_ = 0;
                append(ch);
            } else {
                append(0xFFFD);
            }
            return;
        }
        dropHalfSurrogate();
        append(ch);
    }

    void dropHalfSurrogate() {
        if (highSurrogate_) {
            highSurrogate_ = 0;
            append(0xFFFD);
        }
    }

    void append(char16_t ch) {
        if (runState_ != g_.chr) {
            flushRun();
            runState_ = g_.chr;
        }
        for (; pendingCells_ > 0; --pendingCells_)
            run_ += QLatin1Char('\t');
        run_ += QChar(ch);
    }

    void flushRun() {
        if (run_.isEmpty())
            return;
        cursor_.insertText(run_, charFormat(runState_));
        run_.clear();
    }

    void endParagraph(bool endOfRow) {
        if (g_.dest != Destination::Text)
            return;
        if (!endOfRow && g_.para.inTable) {
            // A paragraph inside a cell: the row stays one paragraph.
            put(u'\u2028');
            return;
        }
        dropHalfSurrogate();
        flushRun();
        pendingCells_ = 0;
        cursor_.setBlockFormat(blockFormat(g_.para, endOfRow));
        cursor_.insertBlock(QTextBlockFormat(), charFormat(g_.chr));
    }

    void finishDocument() {
        flushBytes();
        dropHalfSurrogate();
        flushRun();
        cursor_.setBlockFormat(blockFormat(g_.para, false));
    }

    QTextCharFormat charFormat(const CharState& s) const {
        QTextCharFormat f;
        f.setFontWeight(s.bold ? QFont::Bold : QFont::Normal);
        f.setFontItalic(s.italic);
        f.setFontUnderline(s.underline);
        f.setFontStrikeOut(s.strike);
        f.setFontPointSize(s.halfPoints / 2.0);
        if (s.script != 0)
            f.setVerticalAlignment(s.script > 0 ? QTextCharFormat::AlignSuperScript
                                                : QTextCharFormat::AlignSubScript);
        const auto font = fonts_.constFind(s.font >= 0 ? s.font : defaultFont_);
        if (font != fonts_.constEnd() && !font->name.isEmpty())
            f.setFontFamilies(QStringList{font->name});
        if (const QColor c = colour(s.foreground); c.isValid())
            f.setForeground(c);
        if (const QColor c = colour(s.background); c.isValid())
            f.setBackground(c);
        return f;
    }

    QTextBlockFormat blockFormat(const ParaState& p, bool row) const {
        QTextBlockFormat f;
        switch (p.align) {
            case Align::Left:
                f.setAlignment(Qt::AlignLeft);
                break;
            case Align::Centre:
                f.setAlignment(Qt::AlignHCenter);
                break;
            case Align::Right:
                f.setAlignment(Qt::AlignRight);
                break;
            case Align::Justify:
                f.setAlignment(Qt::AlignJustify);
                break;
        }
        f.setLeftMargin(pixels(std::max(p.left, 0)));
        f.setRightMargin(pixels(std::max(p.right, 0)));
        f.setTextIndent(pixels(p.first));
        f.setTopMargin(pixels(p.before));
        f.setBottomMargin(pixels(p.after));
        QList<QTextOption::Tab> tabs;
        if (row || p.inTable) {
            // A row's cells line up on tab stops at the cells' right edges.
            for (int i = 0; i + 1 < cellCount_; ++i)
                tabs.append(QTextOption::Tab(pixels(cells_[i]), QTextOption::LeftTab));
        } else {
            for (int i = 0; i < p.tabCount; ++i)
                tabs.append(QTextOption::Tab(pixels(p.tabs[i]), QTextOption::LeftTab));
        }
        std::sort(tabs.begin(), tabs.end(),
                  [](const QTextOption::Tab& a, const QTextOption::Tab& b) {
                      return a.position < b.position;
                  });
        if (!tabs.isEmpty())
            f.setTabPositions(tabs);
        return f;
    }

    struct FontEntry {
        QString name;
        int codePage = 0;
    };

    const char* p_;
    const char* end_;
    QTextDocument* document_;
    QTextCursor cursor_;
    bool done_ = false;

    std::vector<Group> stack_;
    Group g_;
    int overflow_ = 0;  // groups opened beyond kRtfMaxDepth, dropped with their content

    int codePage_ = kDefaultCodePage;
    CodePages codePages_;
    int defaultFont_ = -1;
    int defaultTab_ = 720;
    QByteArray pendingBytes_;  // 8-bit text waiting to be decoded in one go
    QString decoded_;
    int fallbackPending_ = 0;  // \uN fallback characters still to skip
    char16_t highSurrogate_ = 0;

    QString run_;
    CharState runState_;
    int pendingCells_ = 0;

    QHash<int, FontEntry> fonts_;
    int fontIndex_ = -1;
    int fontCharset_ = -1;
    QString fontName_;

    QList<QColor> colours_;
    int red_ = 0;
    int green_ = 0;
    int blue_ = 0;
    bool colourSet_ = false;

    std::array<int, kMaxCells> cells_{};
    int cellCount_ = 0;
};

}  // namespace

bool looksLikeRtf(const QByteArray& data) {
    return data.startsWith("{\\rtf");
}

bool readRtf(const QByteArray& data, QTextDocument* document) {
    document->clear();
    // The document is filled by thousands of small edits; none of them is to be undone.
    document->setUndoRedoEnabled(false);
    if (!looksLikeRtf(data))
        return false;
    Reader(data, document).read();
    return true;
}

void loadRtfFile(const QString& path, QTextDocument* document) {
    const QFileInfo info(path);
    if (!info.exists())
        throw RuntimeError(QStringLiteral("File not found: %1").arg(path));
    // A directory, a pipe or a device is not a document (a pipe could also block for ever).
    if (!info.isFile())
        throw RuntimeError(QStringLiteral("Not a file: %1").arg(path));
    if (info.size() > kRtfMaxFileBytes)
        throw RuntimeError(QStringLiteral("File too large: %1").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    const QByteArray data = file.read(kRtfMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw RuntimeError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    if (data.size() > kRtfMaxFileBytes)
        throw RuntimeError(QStringLiteral("File too large: %1").arg(path));
    if (!looksLikeRtf(data))
        throw RuntimeError(QStringLiteral("Not a rich-text file: %1").arg(path));
    readRtf(data, document);
}

}  // namespace platform
