// libFuzzer target for the INI parser: any bytes parse, and writing the text
// back and parsing it again keeps every value; a write changes only its key.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/ini_file.h"
#include "common/text_util.h"

namespace {

using tarnwick::AsciiLowerCase;
using tarnwick::TIniFile;

void Check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "INI round trip broken: %s\n", what);
    std::abort();
}

constexpr std::string_view kUnset = "\x01<unset>";

// Every section and key of `ini`, as the first sections and keys of their names.
std::vector<std::pair<std::string, std::string>> AllKeys(const TIniFile& ini) {
    std::vector<std::pair<std::string, std::string>> keys;
    for (const std::string& section : ini.ReadSections()) {
        for (const std::string& key : ini.ReadSection(section)) keys.emplace_back(section, key);
    }
    return keys;
}

void CheckSameValues(const TIniFile& before, const TIniFile& after, std::string_view skipSection,
                     std::string_view skipKey) {
    for (const auto& [section, key] : AllKeys(before)) {
        if (AsciiLowerCase(section) == AsciiLowerCase(skipSection) && AsciiLowerCase(key) == AsciiLowerCase(skipKey))
            continue;  // the key that was written on purpose
        Check(before.ReadString(section, key, kUnset) == after.ReadString(section, key, kUnset), "value kept");
        Check(before.ReadInteger(section, key, -7) == after.ReadInteger(section, key, -7), "integer kept");
    }
}

// A value from the input that reads back unchanged: one line, no blanks
// around it, no enclosing quotes.
std::string SafeValue(std::string_view input) {
    std::string value(input.substr(input.size() / 2));
    for (char& c : value) {
        if (c == '\r' || c == '\n') c = '_';
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    while (!value.empty() && blank(value.front())) value.erase(value.begin());
    while (!value.empty() && blank(value.back())) value.pop_back();
    if (value.size() >= 2 && value.front() == value.back() && (value.front() == '"' || value.front() == '\''))
        value += 'z';
    return value;
}

// Writes `value`, then checks that it reads back and that nothing else moved.
void CheckWrite(const TIniFile& original, const std::string& section, const std::string& key,
                const std::string& value) {
    TIniFile written = original;
    try {
        written.WriteString(section, key, value);
    } catch (const std::invalid_argument&) {
        return;  // a name that can be read but not written
    }
    const TIniFile reread = TIniFile::Parse(written.Text());
    Check(reread.ReadString(section, key, kUnset) == value.substr(0, TIniFile::kMaxValueLength), "written value");
    CheckSameValues(original, reread, section, key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const TIniFile first = TIniFile::Parse(input);
    const std::string text = first.Text();
    const TIniFile second = TIniFile::Parse(text);

    Check(second.Text() == text, "text is stable after one pass");
    Check(first.ReadSections() == second.ReadSections(), "sections kept");
    for (const std::string& section : first.ReadSections())
        Check(first.ReadSection(section) == second.ReadSection(section), "keys kept");
    CheckSameValues(first, second, "", "");

    const std::string value = SafeValue(input);
    const auto keys = AllKeys(first);
    if (!keys.empty()) {
        CheckWrite(first, keys.front().first, keys.front().second, value);
        CheckWrite(first, keys.back().first, "FuzzNewKey", value);
    }
    CheckWrite(first, "FuzzNewSection", "Key", value);
    return 0;
}
