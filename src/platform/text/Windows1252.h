#pragma once

// Windows-1252 differs from Latin-1 only in 0x80..0x9F. Having the table here keeps the common
// case independent of which converters the Qt build carries. Header-only, so that a reader built
// on its own (the RTF fuzzer) needs nothing else of the program.
namespace platform {

// Five bytes of that range have no character in the code page. Readers disagree on what to show
// for them (the web keeps the byte as it is, documents show a replacement character), so the
// table only says so and each reader picks its own fallback.
constexpr char16_t kWindows1252Undefined = 0;

constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The character of one byte; `undefined` for the bytes the code page leaves out.
constexpr char16_t windows1252Char(unsigned char byte, char16_t undefined) {
    if (byte < 0x80 || byte > 0x9F)
        return byte;
    const char16_t c = kWindows1252High[byte - 0x80];
    return c == kWindows1252Undefined ? undefined : c;
}

}  // namespace platform
