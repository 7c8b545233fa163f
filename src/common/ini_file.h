// INI files (rules.dat, Option.ini), read and written key by key; the files
// on disk are read and written by rules/ini_file_io.h.
//
// The text is held line by line, so a save changes only the lines of the keys
// written: unknown sections and keys, comments, blank lines and lines that are
// none of these stay as they stand, in place.
//
//   - A section starts at a line whose first non-blank character is '[' and
//     that has a ']' after it; the name is the text between them, without
//     surrounding blanks. A line starting with ';' is a comment. Any other line
//     with an '=' after a non-blank key is a key line: the key is the text
//     before the first '=', the value the text after it. Other lines are kept
//     and otherwise ignored.
//   - Section and key names match without regard to ASCII case. When a name
//     occurs twice, the first occurrence is read and rewritten; a key that is
//     only in the second of two equally named sections cannot be reached.
//     Keys above the first section belong to no section and are only kept.
//   - A value as read loses surrounding blanks and then one pair of enclosing
//     quotes (both ' or both "), and is cut to 2,047 characters.
//   - Integers are decimal with an optional sign, or hexadecimal after "0x",
//     "0X" or "$" (no sign; up to 32 bits, FFFFFFFF reading as -1). Anything
//     else, or a decimal beyond 32 signed bits, reads as the default. Booleans
//     are integers, non-zero meaning true; they are written as "1" and "0".
//   - A written key replaces its line where it stands; a new key goes after the
//     last key of its section (after the heading when it has none), a new
//     section at the end of the file.
//   - A value is written as it stands, in double quotes when it has blanks at
//     either end or one pair of enclosing quotes, so that it reads back as
//     written. A key whose value already reads as the one written keeps its
//     line byte for byte (its quotes, blanks and bytes in any code page).
//   - Lines end in LF or CR LF; a file without any LF has lines ending in CR
//     (as old Mac editors save). The text is written back with the line end
//     of the file's first line: CR LF when it had CR LF, CR for a file of CR
//     lines, else LF. A new file gets LF.
//   - Texts are bytes, UTF-8 here. A file that starts with a UTF-16 byte
//     order mark (either byte order) is read as UTF-16 and written back so,
//     with its mark; a UTF-8 byte order mark is kept. Bytes of a written value
//     that are not UTF-8 survive a UTF-16 file (see utf16_text.h).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/result.h"

namespace tarnwick {

// A file that could not be read or written: what() says which and how
// ("Unable to read <path>"), Cause() why, as the file call failed.
//
// An exception rather than a result: a settings or rules file that cannot be
// read or written is rare, it ends the whole load or save at once, and the one
// place that tells the user (a message box, the command line's error) sits
// above the many reads and writes of keys that would otherwise pass it on.
class TIniFileError : public std::runtime_error {
public:
    TIniFileError(const std::string& message, TFailure cause)
        : std::runtime_error(message), Cause_(std::move(cause)) {}
    const TFailure& Cause() const { return Cause_; }

private:
    TFailure Cause_;
};

// The text for the user of a failure to read or write a settings file: the
// message, and the reason where the error carries one: the system's message
// for its errno, or the words of a refusal ("Unable to read <path>: Not a
// regular file").
std::string FileErrorText(const std::exception& error);

// "Unable to write to <path>", with <path> as given to SaveIniFile.
class TIniWriteError : public TIniFileError {
public:
    TIniWriteError(const std::string& path, TFailure cause);
};

// "Unable to read <path>": the file is there but cannot be read.
class TIniReadError : public TIniFileError {
public:
    TIniReadError(const std::string& path, TFailure cause);
};

class TIniFile {
public:
    // The longest value a read returns, in bytes.
    static constexpr size_t kMaxValueLength = 2047;

    // An empty file.
    TIniFile() = default;

    // The document in `text`. Never fails: every byte sequence is some INI text.
    static TIniFile Parse(std::string_view text);

    // The whole text as it would be saved.
    std::string Text() const;

    std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    // The value is written as the format rules above say, except that a line
    // break in it, which the format cannot hold, becomes a blank. Section names must not hold ']',
    // keys not '='; neither may be empty, hold a line break, start or end with
    // a blank, or (keys) start with ';' or '[': std::invalid_argument.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    // The section names in file order, each name once (first spelling).
    std::vector<std::string> ReadSections() const;
    // The key names of a section in file order, each name once (first spelling).
    std::vector<std::string> ReadSection(std::string_view section) const;

    // The integer in `text` by the rules above, or nullopt.
    static std::optional<int32_t> ParseInteger(std::string_view text);

private:
    struct TLine {
        std::string Text;
        std::string Key;  // lower case; empty when not a key line
    };
    struct TSection {
        std::string Name;  // as spelt in the heading
        std::vector<TLine> Lines;  // the heading first, unless this is the part above the first heading
    };

    const TSection* FindSection(std::string_view section) const;
    TSection* FindSection(std::string_view section);
    static const TLine* FindKey(const TSection& section, std::string_view key);
    // The value of a key line as ReadString gives it.
    static std::string ValueOf(const TLine& line);

    enum class TEncoding { Utf8, Utf8WithMark, Utf16Le, Utf16Be };

    TEncoding Encoding_ = TEncoding::Utf8;
    std::string LineEnd_ = "\n";
    // Sections_[0] is the part above the first heading; it has no heading line.
    std::vector<TSection> Sections_{TSection{}};
    // Lower-case name to the first section of that name.
    std::unordered_map<std::string, size_t> SectionIndex_;
};

}  // namespace tarnwick
