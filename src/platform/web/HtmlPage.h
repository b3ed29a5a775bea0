#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QUrl>

// Reading a fetched page the way a browser would, as far as the page loader needs it: what kind
// of document the bytes are, which character set they are in, and the document's title.
namespace platform::html {

enum class Kind { Html, Text, Binary };

// The media type decides; without one, the address's extension and the first bytes do.
Kind kindOf(const QByteArray& contentType, const QUrl& address, const QByteArray& body);

// The charset parameter of a Content-Type value, or empty.
QByteArray charsetParameter(const QByteArray& contentType);

// The character set a <meta> element in the first 1024 bytes declares, or empty.
QByteArray metaCharset(const QByteArray& body);

// Decodes the bytes of a document: a byte order mark wins, then the charset the server named,
// then (for HTML) a <meta> declaration, then windows-1252. Labels nobody can decode are passed
// over. `used` receives the encoding finally used.
QString decodeDocument(const QByteArray& body, const QByteArray& headerCharset, Kind kind,
                       QByteArray* used = nullptr);

// Replaces character references as they are replaced in the text of a document: named ones
// (including the legacy forms without ';'), decimal and hexadecimal ones.
QString decodeCharacterReferences(QStringView text);

// The text of the document's first <title> element with its character references decoded and
// nothing else changed: no blank is stripped or collapsed, because the poller compares the title
// exactly and a title beginning with a blank must not read as a command. NUL reads as U+FFFD.
// `found` tells a document without a <title> element apart from one with an empty title.
//
// This and previewHtml take time linear in the length of the page, whatever its markup.
QString documentTitle(QStringView html, bool* found = nullptr);

// What the preview shows of a document: its text with the plainest formatting (paragraphs,
// line breaks, bold, italic, underline, links), at most `maxChars` characters of it. Rich-text
// layout of arbitrary markup can take minutes (nested tables, deep nesting, endless words), so
// the preview never gets the page's own markup: this output is flat, its cost grows with the
// text only, and long runs without a break get invisible break opportunities. Pictures, style
// sheets, scripts and frames are left out, so showing it fetches nothing.
QString previewHtml(QStringView html, qsizetype maxChars);
// The same for a plain-text document: its lines, as they are.
QString previewText(QStringView text, qsizetype maxChars);

}  // namespace platform::html
