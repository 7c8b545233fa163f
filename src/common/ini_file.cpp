#include "common/ini_file.h"

#include <algorithm>
#include <utility>

#include "common/text_util.h"
#include "common/utf16_text.h"

namespace tarnwick {

TIniWriteError::TIniWriteError(const std::string& path, TFailure cause)
    : TIniFileError("Unable to write to " + path, std::move(cause)) {}

TIniReadError::TIniReadError(const std::string& path, TFailure cause)
    : TIniFileError("Unable to read " + path, std::move(cause)) {}

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

// Blanks around names and values. A CR among them lets a line that ended in
// CR CR LF, or a stray CR, read like any other.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The name in a heading line, or nullopt when the line is not a heading.
std::optional<std::string_view> HeadingName(std::string_view line) {
    const std::string_view rest = TrimBlanks(line);
    if (rest.empty() || rest.front() != '[') return std::nullopt;
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return TrimBlanks(rest.substr(1, close - 1));
}

// The key of a key line as spelt, or empty when the line is not one.
std::string_view KeyOf(std::string_view line) {
    const std::string_view rest = TrimBlanks(line);
    if (rest.empty() || rest.front() == ';') return {};
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return {};
    return TrimBlanks(line.substr(0, equals));
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool HasOuterBlank(std::string_view text) {
    return !text.empty() && (IsBlank(text.front()) || IsBlank(text.back()));
}

// Enclosed in one pair of quotes, which a read takes off.
bool IsQuoted(std::string_view text) {
    return text.size() >= 2 && text.front() == text.back() && (text.front() == '"' || text.front() == '\'');
}

void CheckSectionName(std::string_view section) {
    if (section.empty() || HasLineBreak(section) || HasOuterBlank(section) ||
        section.find(']') != std::string_view::npos)
        throw std::invalid_argument("not a usable INI section name: " + std::string(section));
}

void CheckKeyName(std::string_view key) {
    if (key.empty() || HasLineBreak(key) || HasOuterBlank(key) || key.find('=') != std::string_view::npos ||
        key.front() == ';' || key.front() == '[')
        throw std::invalid_argument("not a usable INI key name: " + std::string(key));
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

TIniFile TIniFile::Parse(std::string_view bytes) {
    TIniFile ini;
    std::string decoded;
    std::string_view text = bytes;
    if (bytes.starts_with(kUtf8Mark)) {
        ini.Encoding_ = TEncoding::Utf8WithMark;
        text.remove_prefix(kUtf8Mark.size());
    } else if (bytes.starts_with(kUtf16LeMark) || bytes.starts_with(kUtf16BeMark)) {
        const bool little = bytes.starts_with(kUtf16LeMark);
        ini.Encoding_ = little ? TEncoding::Utf16Le : TEncoding::Utf16Be;
        decoded = Utf16ToUtf8(bytes.substr(2), little ? TByteOrder::LittleEndian : TByteOrder::BigEndian);
        text = decoded;
    }

    // Without any LF the lines end in CR; else CRs are only blanks at line ends.
    const bool crLines = text.find('\n') == std::string_view::npos && text.find('\r') != std::string_view::npos;
    const char lineEnd = crLines ? '\r' : '\n';
    if (crLines) {
        ini.LineEnd_ = "\r";
    } else if (const size_t firstEnd = text.find('\n'); firstEnd != std::string_view::npos && firstEnd > 0 &&
                                                         text[firstEnd - 1] == '\r') {
        ini.LineEnd_ = "\r\n";
    }

    while (!text.empty()) {
        const size_t end = text.find(lineEnd);
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // Every CR before the line end goes, so that any line reads and writes
        // back the same whichever line end the file is written with.
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        if (const auto name = HeadingName(line)) {
            ini.SectionIndex_.try_emplace(AsciiLowerCase(*name), ini.Sections_.size());
            ini.Sections_.push_back(TSection{std::string(*name), {TLine{std::string(line), {}}}});
        } else {
            ini.Sections_.back().Lines.push_back(TLine{std::string(line), AsciiLowerCase(KeyOf(line))});
        }
    }
    return ini;
}

std::string TIniFile::Text() const {
    std::string text;
    for (const TSection& section : Sections_) {
        for (const TLine& line : section.Lines) {
            text += line.Text;
            text += LineEnd_;
        }
    }
    switch (Encoding_) {
        case TEncoding::Utf8: return text;
        case TEncoding::Utf8WithMark: return std::string(kUtf8Mark) + text;
        case TEncoding::Utf16Le: return std::string(kUtf16LeMark) + Utf8ToUtf16(text, TByteOrder::LittleEndian);
        case TEncoding::Utf16Be: return std::string(kUtf16BeMark) + Utf8ToUtf16(text, TByteOrder::BigEndian);
    }
    return text;
}

const TIniFile::TSection* TIniFile::FindSection(std::string_view section) const {
    const auto it = SectionIndex_.find(AsciiLowerCase(TrimBlanks(section)));
    return it == SectionIndex_.end() ? nullptr : &Sections_[it->second];
}

TIniFile::TSection* TIniFile::FindSection(std::string_view section) {
    return const_cast<TSection*>(std::as_const(*this).FindSection(section));
}

const TIniFile::TLine* TIniFile::FindKey(const TSection& section, std::string_view key) {
    const std::string wanted = AsciiLowerCase(TrimBlanks(key));
    if (wanted.empty()) return nullptr;
    for (const TLine& line : section.Lines) {
        if (line.Key == wanted) return &line;
    }
    return nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const {
    const TSection* found = FindSection(section);
    const TLine* line = found ? FindKey(*found, key) : nullptr;
    if (line == nullptr) return std::string(defaultValue);
    return ValueOf(*line);
}

std::string TIniFile::ValueOf(const TLine& line) {
    std::string_view value = TrimBlanks(std::string_view(line.Text).substr(line.Text.find('=') + 1));
    if (IsQuoted(value)) value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, kMaxValueLength));
}

std::optional<int32_t> TIniFile::ParseInteger(std::string_view text) {
    std::string_view digits = text;
    bool hex = false;
    if (digits.starts_with('$')) {
        digits.remove_prefix(1);
        hex = true;
    } else if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
        hex = true;
    }
    if (hex) {
        if (digits.empty()) return std::nullopt;
        uint64_t value = 0;
        for (char c : digits) {
            const int digit = HexDigit(c);
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<uint64_t>(digit);
            if (value > UINT32_MAX) return std::nullopt;
        }
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }

    bool negative = false;
    if (digits.starts_with('-') || digits.starts_with('+')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) return std::nullopt;
    const int64_t limit = negative ? -int64_t{INT32_MIN} : int64_t{INT32_MAX};
    int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > limit) return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const {
    return ParseInteger(ReadString(section, key, "")).value_or(defaultValue);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    CheckSectionName(section);
    CheckKeyName(key);
    std::string cleanValue(value);
    std::replace_if(cleanValue.begin(), cleanValue.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    // Quotes keep what a read would strip.
    const std::string written = HasOuterBlank(cleanValue) || IsQuoted(cleanValue) ? '"' + cleanValue + '"' : cleanValue;

    TSection* found = FindSection(section);
    if (found == nullptr) {
        SectionIndex_.emplace(AsciiLowerCase(section), Sections_.size());
        found = &Sections_.emplace_back(TSection{std::string(section), {TLine{"[" + std::string(section) + "]", {}}}});
    }
    std::vector<TLine>& lines = found->Lines;
    const std::string wanted = AsciiLowerCase(key);
    auto it = std::find_if(lines.begin(), lines.end(), [&](const TLine& line) { return line.Key == wanted; });
    if (it != lines.end()) {
        // A line that already says this stays as the user wrote it.
        if (ValueOf(*it) != cleanValue.substr(0, kMaxValueLength)) it->Text = std::string(KeyOf(it->Text)) + "=" + written;
        return;
    }
    // After the last key line, or after the heading.
    auto last = std::find_if(lines.rbegin(), lines.rend(), [](const TLine& line) { return !line.Key.empty(); });
    const auto at = last == lines.rend() ? lines.begin() + 1 : last.base();
    lines.insert(at, TLine{std::string(key) + "=" + written, wanted});
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::SectionExists(std::string_view section) const {
    return FindSection(section) != nullptr;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
    const TSection* found = FindSection(section);
    return found != nullptr && FindKey(*found, key) != nullptr;
}

std::vector<std::string> TIniFile::ReadSections() const {
    std::vector<std::string> names;
    for (size_t i = 1; i < Sections_.size(); ++i) {
        if (SectionIndex_.at(AsciiLowerCase(Sections_[i].Name)) == i) names.push_back(Sections_[i].Name);
    }
    return names;
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
    std::vector<std::string> keys;
    const TSection* found = FindSection(section);
    if (found == nullptr) return keys;
    for (const TLine& line : found->Lines) {
        if (line.Key.empty() || FindKey(*found, line.Key) != &line) continue;
        keys.emplace_back(KeyOf(line.Text));
    }
    return keys;
}

std::string FileErrorText(const std::exception& error) {
    const auto* fileError = dynamic_cast<const TIniFileError*>(&error);
    if (!fileError) return error.what();
    // The call's own context (the step that failed) is the file layer's; the
    // user is told which file in what() and why by the errno or the refusal.
    const TFailure& cause = fileError->Cause();
    if (cause.Errno != 0) return TFailure{cause.Errno, error.what()}.Text();
    return cause.Context.empty() ? std::string(error.what()) : std::string(error.what()) + ": " + cause.Context;
}

}  // namespace tarnwick
