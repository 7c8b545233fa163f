#include "common/utf16_text.h"

#include <cstdint>

namespace tarnwick {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
// Lone low surrogates that stand for the bytes 0x80..0xFF of a text that is not UTF-8.
constexpr uint32_t kEscapedByteFirst = 0xDC80;
constexpr uint32_t kEscapedByteLast = 0xDCFF;

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUnit(std::string& out, uint32_t unit, TByteOrder order) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    if (order == TByteOrder::BigEndian) {
        out += high;
        out += low;
    } else {
        out += low;
        out += high;
    }
}

// The length of the well-formed UTF-8 sequence at the start of `text` (RFC
// 3629: no overlong forms, no surrogates, nothing past U+10FFFF) with its
// code point, or 0 when there is none.
size_t DecodeUtf8(std::string_view text, uint32_t& code) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(0);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    size_t length = 0;
    uint8_t secondLow = 0x80;
    uint8_t secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) secondLow = 0xA0;
        if (lead == 0xED) secondHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) secondLow = 0x90;
        if (lead == 0xF4) secondHigh = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < secondLow || byte(1) > secondHigh) return 0;
    code = lead & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    return length;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string Utf16ToUtf8(std::string_view bytes, TByteOrder order) {
    const size_t units = bytes.size() / 2;
    const auto unitAt = [&](size_t i) -> uint32_t {
        const uint32_t first = static_cast<uint8_t>(bytes[2 * i]);
        const uint32_t second = static_cast<uint8_t>(bytes[2 * i + 1]);
        return order == TByteOrder::BigEndian ? (first << 8) | second : (second << 8) | first;
    };
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < units; ++i) {
        const uint32_t unit = unitAt(i);
        if (IsHighSurrogate(unit) && i + 1 < units && IsLowSurrogate(unitAt(i + 1))) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
            ++i;
        } else if (unit >= kEscapedByteFirst && unit <= kEscapedByteLast) {
            out += static_cast<char>(unit & 0xFF);
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::string Utf8ToUtf16(std::string_view text, TByteOrder order) {
    std::string out;
    out.reserve(text.size() * 2);
    while (!text.empty()) {
        uint32_t code = 0;
        size_t length = DecodeUtf8(text, code);
        if (length == 0) {
            code = 0xDC00 | static_cast<uint8_t>(text.front());  // always 0x80 or above here
            length = 1;
        }
        if (code >= 0x10000) {
            AppendUnit(out, 0xD800 + ((code - 0x10000) >> 10), order);
            AppendUnit(out, 0xDC00 + ((code - 0x10000) & 0x3FF), order);
        } else {
            AppendUnit(out, code, order);
        }
        text.remove_prefix(length);
    }
    return out;
}

}  // namespace tarnwick
