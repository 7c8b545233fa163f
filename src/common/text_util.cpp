#include "common/text_util.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace tarnwick {

std::string AsciiLowerCase(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = AsciiLower(c);
    return result;
}

char* WriteDottedText(uint32_t addrField, char* out) {
    for (int i = 0; i < 4; ++i) {
        if (i > 0) *out++ = '.';
        out = std::to_chars(out, out + 3, (addrField >> (8 * i)) & 0xFFu).ptr;  // at most "255"
    }
    return out;
}

std::string DottedText(uint32_t addrField) {
    char text[15];
    return std::string(text, WriteDottedText(addrField, text));
}

std::string EscapeForLine(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto escaped = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 32 || byte == 127 || c == '\\';
    };
    // Most texts need no escape: copied whole.
    const auto first = std::find_if(text.begin(), text.end(), escaped);
    std::string result(text.begin(), first);
    if (first == text.end()) return result;
    result.reserve(text.size() + 3);
    for (char c : text.substr(static_cast<size_t>(first - text.begin()))) {
        const auto byte = static_cast<unsigned char>(c);
        if (escaped(c)) {
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
