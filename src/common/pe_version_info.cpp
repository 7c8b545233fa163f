#include "common/pe_version_info.h"
#include "common/utf16_text.h"

#include <cstdio>

namespace tarnwick {

namespace {

constexpr uint32_t kRtVersion = 16;
constexpr size_t kResourceDirectoryIndex = 2;
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
constexpr size_t kNodeHeaderSize = 6;  // wLength, wValueLength, wType

// Bounds-checked little-endian reads: false when [offset, offset + size) is
// not inside `data`.
bool Fits(std::span<const uint8_t> data, uint64_t offset, uint64_t size) {
    return offset <= data.size() && size <= data.size() - offset;
}

uint16_t U16(std::span<const uint8_t> data, size_t offset) {
    return static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
}

uint32_t U32(std::span<const uint8_t> data, size_t offset) {
    return static_cast<uint32_t>(data[offset]) | (static_cast<uint32_t>(data[offset + 1]) << 8) |
           (static_cast<uint32_t>(data[offset + 2]) << 16) | (static_cast<uint32_t>(data[offset + 3]) << 24);
}

size_t Align4(size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); }

struct TSection {
    uint32_t VirtualAddress = 0;
    uint32_t VirtualSize = 0;
    uint32_t RawSize = 0;
    uint32_t RawOffset = 0;
};

// The file bytes from `rva` to the end of its section's data in the file, or
// an empty span when no section holds it.
std::span<const uint8_t> MapRva(std::span<const uint8_t> image, const std::vector<TSection>& sections, uint32_t rva) {
    for (const TSection& section : sections) {
        const uint64_t start = section.VirtualAddress;
        const uint64_t extent = section.VirtualSize != 0 ? section.VirtualSize : section.RawSize;
        if (rva < start || rva - start >= extent) continue;
        const uint64_t delta = rva - start;
        if (delta >= section.RawSize) return {};  // in the section's zero-filled tail
        if (!Fits(image, section.RawOffset, section.RawSize)) {
            // Raw data cut short by the end of the file: keep what is there.
            if (section.RawOffset + delta >= image.size()) return {};
            return image.subspan(section.RawOffset + delta);
        }
        return image.subspan(section.RawOffset + delta, section.RawSize - delta);
    }
    return {};
}

// Entry `wantedId` of the resource directory at `offset` in `resources`, or
// with wantedId unset the first entry; gives its OffsetToData field.
std::optional<uint32_t> DirectoryEntry(std::span<const uint8_t> resources, uint32_t offset,
                                       std::optional<uint32_t> wantedId) {
    if (!Fits(resources, offset, 16)) return std::nullopt;
    const uint32_t named = U16(resources, offset + 12);
    const uint32_t ids = U16(resources, offset + 14);
    const uint64_t entries = offset + 16ull;
    if (!Fits(resources, entries, (named + ids) * 8ull)) return std::nullopt;
    if (!wantedId) {
        if (named + ids == 0) return std::nullopt;
        return U32(resources, entries + 4);
    }
    // Named entries come first; ids follow.
    for (uint32_t i = named; i < named + ids; ++i) {
        const size_t entry = entries + i * 8ull;
        const uint32_t name = U32(resources, entry);
        if ((name & kSubdirectoryBit) == 0 && name == *wantedId) return U32(resources, entry + 4);
    }
    return std::nullopt;
}

class TBlockParser {
public:
    explicit TBlockParser(std::span<const uint8_t> data) : Data_(data) {}

    // The node at `offset`, which must end by `limit`; sets `end` to its end.
    bool ParseNode(size_t offset, size_t limit, int depth, TVersionNode& node, size_t& end) {
        if (depth > kMaxVersionDepth || ++Nodes_ > kMaxVersionNodes) return false;
        if (limit > Data_.size() || offset > limit || limit - offset < kNodeHeaderSize) return false;
        const size_t length = U16(Data_, offset);
        const size_t valueLength = U16(Data_, offset + 2);
        const uint16_t type = U16(Data_, offset + 4);
        if (length < kNodeHeaderSize || length > limit - offset || type > 1) return false;
        end = offset + length;

        // The key: UTF-16 up to its NUL, which must lie inside the node.
        size_t at = offset + kNodeHeaderSize;
        const size_t keyStart = at;
        while (true) {
            if (end - at < 2) return false;
            if (U16(Data_, at) == 0) break;
            at += 2;
        }
        node.Key = Utf16LeToUtf8(Data_.subspan(keyStart, at - keyStart));
        at = Align4(at + 2);

        // The value: wValueLength counts characters for text, bytes otherwise.
        // Some tools count bytes for text too; a length that runs past the
        // node is cut at its end.
        node.IsText = type == 1;
        size_t valueBytes = node.IsText ? valueLength * 2 : valueLength;
        if (at > end) {
            if (valueBytes != 0) return false;
            at = end;
        }
        if (valueBytes > end - at) {
            if (!node.IsText) return false;
            valueBytes = end - at;
        }
        const auto value = Data_.subspan(at, valueBytes);
        node.Value.assign(value.begin(), value.end());
        if (node.IsText) {
            size_t units = 0;
            while (units + 1 < value.size() && U16(value, units) != 0) units += 2;
            node.Text = Utf16LeToUtf8(value.subspan(0, units));
        }
        at = Align4(at + valueBytes);

        // The children fill the rest of the node.
        while (at < end && end - at >= kNodeHeaderSize) {
            if (U16(Data_, at) == 0) break;  // zero padding at the end of the node
            TVersionNode child;
            size_t childEnd = 0;
            if (!ParseNode(at, end, depth + 1, child, childEnd)) return false;
            node.Children.push_back(std::move(child));
            at = Align4(childEnd);
        }
        return true;
    }

private:
    std::span<const uint8_t> Data_;
    size_t Nodes_ = 0;
};

bool KeyEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// UTF-8 to UTF-16LE bytes, for blocks made from strings. Input is taken as
// well-formed UTF-8; a stray byte becomes U+FFFD.
void AppendUtf16(std::vector<uint8_t>& out, std::string_view text) {
    auto unit = [&out](uint32_t u) {
        out.push_back(static_cast<uint8_t>(u & 0xFF));
        out.push_back(static_cast<uint8_t>(u >> 8));
    };
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<uint8_t>(text[i]);
        uint32_t code = 0xFFFD;
        size_t length = 1;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead >> 5) == 6 && i + 1 < text.size()) {
            code = ((lead & 0x1Fu) << 6) | (static_cast<uint8_t>(text[i + 1]) & 0x3Fu), length = 2;
        } else if ((lead >> 4) == 14 && i + 2 < text.size()) {
            code = ((lead & 0x0Fu) << 12) | ((static_cast<uint8_t>(text[i + 1]) & 0x3Fu) << 6) |
                   (static_cast<uint8_t>(text[i + 2]) & 0x3Fu);
            length = 3;
        } else if ((lead >> 3) == 30 && i + 3 < text.size()) {
            code = ((lead & 0x07u) << 18) | ((static_cast<uint8_t>(text[i + 1]) & 0x3Fu) << 12) |
                   ((static_cast<uint8_t>(text[i + 2]) & 0x3Fu) << 6) | (static_cast<uint8_t>(text[i + 3]) & 0x3Fu);
            length = 4;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            unit(0xD800 | (code >> 10));
            unit(0xDC00 | (code & 0x3FF));
        } else {
            unit(code);
        }
        i += length;
    }
}

TVersionNode TextNode(std::string key, std::string text) {
    TVersionNode node;
    node.Key = std::move(key);
    node.IsText = true;
    AppendUtf16(node.Value, text);
    node.Value.push_back(0);
    node.Value.push_back(0);
    node.Text = std::move(text);
    return node;
}

TVersionNode ParentNode(std::string key, std::vector<TVersionNode> children) {
    TVersionNode node;
    node.Key = std::move(key);
    node.IsText = true;
    node.Children = std::move(children);
    return node;
}

}  // namespace

std::string Utf16LeToUtf8(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    const size_t units = bytes.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        const uint32_t unit = U16(bytes, i * 2);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const uint32_t low = U16(bytes, (i + 1) * 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
    }
    return out;
}

bool HasDosSignature(std::span<const uint8_t> head) { return head.size() >= 2 && head[0] == 'M' && head[1] == 'Z'; }

std::optional<std::vector<uint8_t>> FindVersionResource(std::span<const uint8_t> image) {
    if (!Fits(image, 0, 0x40) || !HasDosSignature(image)) return std::nullopt;
    const uint64_t pe = U32(image, 0x3C);
    if (!Fits(image, pe, 24) || U32(image, pe) != 0x00004550u) return std::nullopt;  // "PE\0\0"
    const uint32_t sectionCount = U16(image, pe + 6);
    const uint32_t optionalSize = U16(image, pe + 20);
    const uint64_t optional = pe + 24;
    if (!Fits(image, optional, optionalSize) || optionalSize < 2) return std::nullopt;

    uint64_t directories = 0;
    uint64_t countField = 0;
    switch (U16(image, optional)) {
        case 0x10B: countField = 92, directories = 96; break;   // PE32
        case 0x20B: countField = 108, directories = 112; break; // PE32+
        default: return std::nullopt;
    }
    if (optionalSize < directories) return std::nullopt;
    const uint32_t directoryCount = U32(image, optional + countField);
    const uint64_t resourceEntry = directories + kResourceDirectoryIndex * 8;
    if (directoryCount <= kResourceDirectoryIndex || resourceEntry + 8 > optionalSize) return std::nullopt;
    const uint32_t resourceRva = U32(image, optional + resourceEntry);
    if (resourceRva == 0) return std::nullopt;

    const uint64_t table = optional + optionalSize;
    if (!Fits(image, table, sectionCount * 40ull)) return std::nullopt;
    std::vector<TSection> sections(sectionCount);
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const size_t at = table + i * 40ull;
        sections[i] = {U32(image, at + 12), U32(image, at + 8), U32(image, at + 16), U32(image, at + 20)};
    }

    // Type RT_VERSION, then the first name, then the first language; each
    // level above the last must be a subdirectory and the last a data entry.
    const auto resources = MapRva(image, sections, resourceRva);
    uint32_t offset = 0;
    const std::optional<uint32_t> wanted[3] = {kRtVersion, std::nullopt, std::nullopt};
    for (int level = 0; level < 3; ++level) {
        const auto entry = DirectoryEntry(resources, offset, wanted[level]);
        if (!entry) return std::nullopt;
        const bool subdirectory = (*entry & kSubdirectoryBit) != 0;
        if (subdirectory != (level < 2)) return std::nullopt;
        offset = *entry & ~kSubdirectoryBit;
    }
    if (!Fits(resources, offset, 16)) return std::nullopt;
    const uint32_t dataRva = U32(resources, offset);
    const uint32_t dataSize = U32(resources, offset + 4);
    const auto data = MapRva(image, sections, dataRva);
    if (dataSize == 0 || dataSize > data.size()) return std::nullopt;
    return std::vector<uint8_t>(data.begin(), data.begin() + dataSize);
}

std::optional<TVersionBlock> ReadPeVersionInfo(std::span<const uint8_t> image) {
    const auto resource = FindVersionResource(image);
    if (!resource) return std::nullopt;
    return TVersionBlock::Parse(*resource);
}

std::optional<TVersionBlock> TVersionBlock::Parse(std::span<const uint8_t> data) {
    if (data.size() < kNodeHeaderSize) return std::nullopt;
    TVersionBlock block;
    size_t end = 0;
    TBlockParser parser(data);
    // The root's wLength bounds the block; bytes after it are padding.
    if (!parser.ParseNode(0, data.size(), 0, block.Root_, end)) return std::nullopt;
    return block;
}

TVersionBlock TVersionBlock::FromStrings(uint16_t language, uint16_t codePage,
                                         const std::vector<std::pair<std::string, std::string>>& strings) {
    char translation[9];
    std::snprintf(translation, sizeof translation, "%.4X%.4X", language, codePage);
    std::vector<TVersionNode> texts;
    for (const auto& [key, value] : strings) texts.push_back(TextNode(key, value));

    TVersionNode var;
    var.Key = "Translation";
    var.Value = {static_cast<uint8_t>(language & 0xFF), static_cast<uint8_t>(language >> 8),
                 static_cast<uint8_t>(codePage & 0xFF), static_cast<uint8_t>(codePage >> 8)};

    TVersionBlock block;
    block.Root_.Key = "VS_VERSION_INFO";
    block.Root_.Children.push_back(
        ParentNode("StringFileInfo", {ParentNode(translation, std::move(texts))}));
    TVersionNode varFileInfo = ParentNode("VarFileInfo", {});
    varFileInfo.Children.push_back(std::move(var));
    block.Root_.Children.push_back(std::move(varFileInfo));
    return block;
}

const TVersionNode* TVersionBlock::Find(std::string_view path) const {
    const TVersionNode* node = &Root_;
    size_t at = 0;
    while (at < path.size()) {
        size_t next = path.find('\\', at);
        if (next == std::string_view::npos) next = path.size();
        const std::string_view key = path.substr(at, next - at);
        at = next + 1;
        if (key.empty()) continue;
        const TVersionNode* found = nullptr;
        for (const TVersionNode& child : node->Children) {
            if (KeyEquals(child.Key, key)) {
                found = &child;
                break;
            }
        }
        if (!found) return nullptr;
        node = found;
    }
    return node;
}

std::optional<TFixedFileInfo> TVersionBlock::Fixed() const {
    const auto& v = Root_.Value;
    if (v.size() < 52 || U32(v, 0) != kFixedFileInfoSignature) return std::nullopt;
    return TFixedFileInfo{U32(v, 8), U32(v, 12), U32(v, 16), U32(v, 20), U32(v, 28), U32(v, 32), U32(v, 36)};
}

std::string TAppObj::GetTranslation() const {
    if (!Block_) return {};
    const TVersionNode* node = Block_->Find("\\VarFileInfo\\Translation");
    if (!node || node->Value.size() < 4) return {};
    char text[9];
    std::snprintf(text, sizeof text, "%.4X%.4X", U16(node->Value, 0), U16(node->Value, 2));
    return text;
}

std::string TAppObj::GetValue(std::string_view key) const {
    const std::string translation = GetTranslation();
    if (translation.empty()) return {};
    const TVersionNode* node = Block_->Find("StringFileInfo\\" + translation + "\\" + std::string(key));
    if (!node) return {};
    return std::string(TrimVersionText(node->Text));
}

std::string_view TrimVersionText(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
    return text;
}

std::array<std::string, kProcessInfoFields.size()> ProcessInfoValues(const TAppObj& app) {
    std::array<std::string, kProcessInfoFields.size()> values;
    for (size_t i = 0; i < values.size(); ++i) values[i] = app.GetValue(kProcessInfoFields[i].Key);
    return values;
}

}  // namespace tarnwick
