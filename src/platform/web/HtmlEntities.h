#pragma once

#include <cstddef>

// The named character references of HTML ("&amp;", "&eacute;", "&not"...), complete.
namespace platform::html {

// Looks up a reference name (without '&'; with its ';' where the reference has one). Fills in
// one or two code points; `second` is 0 for references that stand for one character.
bool lookupEntity(const char* name, std::size_t length, char32_t* first, char32_t* second);

// The longest name that begins `text` (of which `available` characters may be read), as the
// decoder of a document's text wants it: fills in its length and its code points.
bool longestEntity(const char* text, std::size_t available, std::size_t* length, char32_t* first,
                   char32_t* second);

// The length of the longest name, so a decoder knows how far to look.
std::size_t longestEntityName();

}  // namespace platform::html
