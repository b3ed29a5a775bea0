#pragma once

#include <cstddef>

// The named character references of HTML ("&amp;", "&eacute;", "&not"...), complete.
namespace platform::html {

// Looks up a reference name (without '&'; with its ';' where the reference has one). Fills in
// one or two code points; `second` is 0 for references that stand for one character.
bool lookupEntity(const char* name, std::size_t length, char32_t* first, char32_t* second);

// The length of the longest name, so a decoder knows how far to look.
std::size_t longestEntityName();

}  // namespace platform::html
