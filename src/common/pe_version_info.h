// Version information of executables: the VS_VERSIONINFO resource of PE
// images, read from bytes, and TAppObj, which looks strings up in it.
//
// The reader takes untrusted input. Every read is bounds-checked; a malformed
// image or block is rejected as a whole (nullopt). Work is bounded: the
// resource tree is walked exactly three levels down (type, name, language),
// and the block's tree is cut at kMaxVersionDepth levels and kMaxVersionNodes
// nodes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick {

inline constexpr int kMaxVersionDepth = 8;
inline constexpr size_t kMaxVersionNodes = 4096;

// One node of a version block: VS_VERSIONINFO, StringFileInfo, a string
// table, a String, VarFileInfo, Var.
struct TVersionNode {
    std::string Key;             // UTF-8
    bool IsText = false;         // wType 1: the value is UTF-16 text
    std::vector<uint8_t> Value;  // the value's bytes as stored
    std::string Text;            // IsText: the value up to its first NUL, as UTF-8
    std::vector<TVersionNode> Children;
};

struct TFixedFileInfo {
    uint32_t FileVersionMS = 0, FileVersionLS = 0;
    uint32_t ProductVersionMS = 0, ProductVersionLS = 0;
    uint32_t FileFlags = 0, FileOS = 0, FileType = 0;
};

// A parsed version-information block.
class TVersionBlock {
public:
    // Parses a VS_VERSIONINFO block (UTF-16 keys, 32-bit aligned children).
    static std::optional<TVersionBlock> Parse(std::span<const uint8_t> data);

    // A block holding one string table `translation` (eight hex digits,
    // language then code page) with `strings`, and the matching Translation
    // entry. Stands in for files that carry no resource of their own.
    static TVersionBlock FromStrings(uint16_t language, uint16_t codePage,
                                     const std::vector<std::pair<std::string, std::string>>& strings);

    const TVersionNode& Root() const { return Root_; }

    // The node at `path`: keys separated by backslashes, matched without
    // regard to ASCII case; a leading backslash is optional and "\" alone is
    // the root. Null when there is none.
    const TVersionNode* Find(std::string_view path) const;

    // The VS_FIXEDFILEINFO of the root, when it carries a valid one.
    std::optional<TFixedFileInfo> Fixed() const;

private:
    TVersionNode Root_;
};

// The bytes of the first RT_VERSION resource of a PE32 or PE32+ image, or
// nullopt when `image` is no well-formed PE image or has none.
std::optional<std::vector<uint8_t>> FindVersionResource(std::span<const uint8_t> image);

// FindVersionResource, then TVersionBlock::Parse.
std::optional<TVersionBlock> ReadPeVersionInfo(std::span<const uint8_t> image);

// True when `head` (a file's first bytes) starts with the DOS signature "MZ".
bool HasDosSignature(std::span<const uint8_t> head);

// UTF-16LE code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::span<const uint8_t> bytes);

// The standard version-string keys with their display labels.
struct TVersionKey {
    const char* Key;
    const char* Label;
};
inline constexpr std::array<TVersionKey, 11> kVersionKeys{{
    {"CompanyName", "Company Name"},
    {"FileDescription", "Description"},
    {"FileVersion", "File Version"},
    {"InternalName", "Internal Name"},
    {"LegalCopyright", "Copyright"},
    {"LegalTradeMarks", "TradeMarks"},
    {"OriginalFilename", "Original File Name"},
    {"ProductName", "Product Name"},
    {"ProductVersion", "Product Version"},
    {"Comments", "Comments"},
    {"Author", "Author"},
}};

// Reads strings out of one file's version block.
class TAppObj {
public:
    explicit TAppObj(std::optional<TVersionBlock> block) : Block_(std::move(block)) {}

    bool HasBlock() const { return Block_.has_value(); }
    int KeyCount() const { return static_cast<int>(kVersionKeys.size()); }

    // The first entry of \VarFileInfo\Translation as eight upper-case hex
    // digits, language first (040904B0); empty when there is none.
    std::string GetTranslation() const;

    // The string "StringFileInfo\<translation>\<key>" without leading and
    // trailing blanks and control characters; empty when absent.
    std::string GetValue(std::string_view key) const;

private:
    std::optional<TVersionBlock> Block_;
};

// The eight fields of the process information dialog, in its order.
struct TProcessInfoField {
    const char* Key;
    const char* Caption;
};
inline constexpr std::array<TProcessInfoField, 8> kProcessInfoFields{{
    {"ProductName", "Product Name:"},
    {"ProductVersion", "Product Version:"},
    {"CompanyName", "Company:"},
    {"LegalCopyright", "Copyright:"},
    {"InternalName", "Internal Name:"},
    {"FileDescription", "Description:"},
    {"Comments", "Comments:"},
    {"FileVersion", "File Version:"},
}};

// What the dialog shows of one executable besides its path.
struct TProcessInfoFields {
    std::array<std::string, kProcessInfoFields.size()> Values;  // in kProcessInfoFields order
    std::string IconName;  // a desktop icon name (theme name or absolute file), or empty
};

// A version string as the fields show it: without leading and trailing
// blanks and control characters.
std::string_view TrimVersionText(std::string_view text);

// The values of the eight fields read from `app`.
std::array<std::string, kProcessInfoFields.size()> ProcessInfoValues(const TAppObj& app);

}  // namespace tarnwick
