// UTF-16 text to the program's 8-bit texts (UTF-8) and back, for settings
// files that Windows editors save as "Unicode".
//
// The conversion is lossless both ways for what the program itself writes:
// a byte of a text that is not part of valid UTF-8 (a name typed in an 8-bit
// code page, say) goes to UTF-16 as the lone low surrogate U+DC00 + byte and
// comes back as that byte. Of a damaged UTF-16 text, any other lone surrogate
// reads as U+FFFD and an odd last byte is dropped.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

enum class TByteOrder { LittleEndian, BigEndian };

// Appends the UTF-8 bytes of the code point `code` (up to U+10FFFF).
void AppendUtf8(std::string& out, uint32_t code);

// The UTF-16 code units in `bytes` (no byte order mark) as UTF-8.
std::string Utf16ToUtf8(std::string_view bytes, TByteOrder order);

// `text` as UTF-16 code units in `order`, without a byte order mark.
std::string Utf8ToUtf16(std::string_view text, TByteOrder order);

}  // namespace tarnwick
