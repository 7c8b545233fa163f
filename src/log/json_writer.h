// A small writer of JSON objects of strings and whole numbers, one object a
// line, for log pipelines that read JSON lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

// Appends `text` to `out` as a JSON string, quotes included. Texts here are
// bytes that are mostly UTF-8 but need not be (process names are whatever a
// program set), and the result must be valid JSON in UTF-8 all the same:
//   - valid UTF-8 sequences are copied as they are;
//   - '"' and '\' are escaped with a backslash;
//   - control bytes (below 0x20, and 0x7F) are written \u00XX;
//   - every byte that is not part of a valid UTF-8 sequence (a stray
//     continuation byte, a cut-off sequence, an overlong form, a surrogate,
//     a value past U+10FFFF) becomes U+FFFD, written \ufffd: the byte cannot
//     be told apart from a genuine character once written, so it is said to
//     be lost rather than guessed at.
void AppendJsonString(std::string& out, std::string_view text);

// One JSON object, members in the order they are added. Keys are written
// with AppendJsonString too; the writer does not check them for repeats.
class TJsonObjectWriter {
public:
    TJsonObjectWriter& AddString(std::string_view key, std::string_view value);
    TJsonObjectWriter& AddNumber(std::string_view key, int64_t value);

    // The object so far, braces included.
    std::string Text() const { return Body_ + "}"; }

private:
    void AddKey(std::string_view key);

    std::string Body_ = "{";
};

}  // namespace tarnwick
