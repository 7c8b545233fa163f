#include "log/json_writer.h"

namespace tarnwick {

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 when the byte there
// starts none. The ranges are those of the Unicode standard's table of
// well-formed byte sequences (chapter 3, table 3-7), which leave out
// overlong forms, surrogates and values past U+10FFFF.
size_t ValidUtf8Length(std::string_view text, size_t at) {
    const auto byte = [&text](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80;   // the second byte's range
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead == 0xE0) {
        length = 3;
        low = 0xA0;
    } else if (lead == 0xED) {
        length = 3;
        high = 0x9F;
    } else if (lead >= 0xE1 && lead <= 0xEF) {
        length = 3;
    } else if (lead == 0xF0) {
        length = 4;
        low = 0x90;
    } else if (lead >= 0xF1 && lead <= 0xF3) {
        length = 4;
    } else if (lead == 0xF4) {
        length = 4;
        high = 0x8F;
    } else {
        return 0;
    }
    if (length > text.size() - at) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if ((byte(at + k) & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
            ++i;
        } else if (const size_t length = ValidUtf8Length(text, i)) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    out += '"';
}

void TJsonObjectWriter::AddKey(std::string_view key) {
    if (Body_.size() > 1) Body_ += ',';
    AppendJsonString(Body_, key);
    Body_ += ':';
}

TJsonObjectWriter& TJsonObjectWriter::AddString(std::string_view key, std::string_view value) {
    AddKey(key);
    AppendJsonString(Body_, value);
    return *this;
}

TJsonObjectWriter& TJsonObjectWriter::AddNumber(std::string_view key, int64_t value) {
    AddKey(key);
    Body_ += std::to_string(value);
    return *this;
}

}  // namespace tarnwick
