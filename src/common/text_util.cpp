#include "common/text_util.h"

#include <array>
#include <charconv>

namespace tarnwick {

std::string AsciiLowerCase(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return result;
}

std::string DottedText(uint32_t addrField) {
    std::string text;
    text.reserve(15);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) text += '.';
        char octet[3];  // at most "255"
        text.append(octet, std::to_chars(octet, octet + sizeof octet, (addrField >> (8 * i)) & 0xFFu).ptr);
    }
    return text;
}

std::string EscapeForLine(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127 || c == '\\') {
            result += "\\x";
            result += kHex[byte >> 4];
            result += kHex[byte & 0xF];
        } else {
            result += c;
        }
    }
    return result;
}

}  // namespace tarnwick
