#pragma once

#include <QByteArray>
#include <QString>

class QTextDocument;

// Reading Rich Text Format into a Qt text document.
//
// What is read: groups, control words with their numeric parameters, control symbols; \par,
// \line, \tab, \pard, \plain; bold, italic, underline, strike-through, super- and subscript,
// hidden text, font size; the font table (family names and character sets) and the colour table
// with \cf, \cb, \chcbpat and \highlight; paragraph alignment, indents, spacing and tab stops;
// \'hh in the document's code page (\ansicpg, 1252 when absent) or the font's character set;
// \uN with \ucN fallback skipping; \\, \{, \} and the special characters (\emdash, \bullet...).
// Table rows become one paragraph each, their cells separated by tabs set at the cell edges;
// list labels (\listtext, \pntext) are kept as written. Pictures, objects, the document
// information, the style sheet, headers, footers, footnotes, field instructions and every
// \* destination are skipped.
//
// Damaged input never fails the read: whatever text can be made out is kept. The reader works in
// one pass over the bytes, groups nested deeper than kRtfMaxDepth are dropped with their content,
// and every numeric parameter is clamped to a sane range, so hostile input costs time and memory
// in proportion to its length only.
namespace platform {

constexpr int kRtfMaxDepth = 256;
// Larger files are refused rather than read: a help file is a few dozen kilobytes.
constexpr qint64 kRtfMaxFileBytes = 64 * 1024 * 1024;

// True when the bytes begin the way every RTF document begins: "{\rtf".
bool looksLikeRtf(const QByteArray& data);

// Replaces the document's content with the RTF text. Returns false, leaving the document empty,
// when the data is not RTF.
bool readRtf(const QByteArray& data, QTextDocument* document);

// Fills the document from an RTF file. Throws RuntimeError, leaving the document as it was, when
// the file is missing, cannot be read, is larger than kRtfMaxFileBytes or is not RTF.
void loadRtfFile(const QString& path, QTextDocument* document);

}  // namespace platform
