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
    std::array<char, 16> buffer{};
    char* out = buffer.data();
    char* const end = buffer.data() + buffer.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) *out++ = '.';
        out = std::to_chars(out, end, (addrField >> (8 * i)) & 0xFFu).ptr;
    }
    return std::string(buffer.data(), out);
}

}  // namespace tarnwick
