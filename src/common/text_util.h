// Small text and address helpers shared by every subsystem.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

// 'A'..'Z' become 'a'..'z'; every other byte (also letters beyond ASCII) stays.
std::string AsciiLowerCase(std::string_view text);
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// Dotted-decimal text of an address field (network byte order, first byte in
// memory is the first number).
std::string DottedText(uint32_t addrField);
// Writes the same text at `out`, which has room for 15 bytes; returns its end.
char* WriteDottedText(uint32_t addrField, char* out);

// The four bytes of `value` in reverse order: turns an address field into the
// number whose most significant byte is the first number of the dotted form.
constexpr uint32_t SwapIPBytes(uint32_t value) {
    return ((value & 0x000000FFu) << 24) | ((value & 0x0000FF00u) << 8) | ((value & 0x00FF0000u) >> 8) |
           ((value & 0xFF000000u) >> 24);
}

// `text` kept on one line for line-based output: bytes below 32, byte 127 and
// the backslash are written as \xNN (two upper-case hex digits).
std::string EscapeForLine(std::string_view text);

// At most `maxLength` leading bytes of `text`.
inline std::string_view CutText(std::string_view text, size_t maxLength) {
    return text.substr(0, maxLength);
}

// At most `maxLength` leading bytes of the UTF-8 `text`, never ending inside
// a character: a character the limit falls in is dropped whole.
inline std::string_view CutUtf8(std::string_view text, size_t maxLength) {
    if (text.size() <= maxLength) return text;
    // Back off over continuation bytes (10xxxxxx) to the start of the character.
    while (maxLength > 0 && (static_cast<unsigned char>(text[maxLength]) & 0xC0) == 0x80) --maxLength;
    return text.substr(0, maxLength);
}

}  // namespace tarnwick
