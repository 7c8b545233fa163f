// The PE version reader on executables built by mingw-w64 from
// tests/fixtures/pe (see make_pe_fixtures.sh there), and on those files
// broken in the ways hostile input breaks them.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "common/pe_version_info.h"

namespace tarnwick {
namespace {

std::vector<uint8_t> Fixture(const std::string& name) {
    std::ifstream file(std::string(TARNWICK_PE_FIXTURES) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// Where the structures of a well-formed fixture lie in its file.
struct TLayout {
    size_t Pe = 0;            // "PE\0\0"
    size_t Sections = 0;      // the section table
    size_t SectionCount = 0;
    size_t Rsrc = 0;          // the .rsrc section's header
    size_t Root = 0;          // the resource directory
    size_t VersionEntry = 0;  // the RT_VERSION entry of the root directory
    size_t DataEntry = 0;     // the version resource's data entry
};

TLayout LayoutOf(const std::vector<uint8_t>& image) {
    TLayout layout;
    layout.Pe = Get32(image, 0x3C);
    layout.SectionCount = image[layout.Pe + 6] | (image[layout.Pe + 7] << 8);
    layout.Sections = layout.Pe + 24 + (image[layout.Pe + 20] | (image[layout.Pe + 21] << 8));
    for (size_t i = 0; i < layout.SectionCount; ++i) {
        const size_t header = layout.Sections + i * 40;
        if (std::string(reinterpret_cast<const char*>(&image[header]), 5) == ".rsrc") layout.Rsrc = header;
    }
    EXPECT_NE(layout.Rsrc, 0u);
    layout.Root = Get32(image, layout.Rsrc + 20);
    const size_t ids = image[layout.Root + 14];
    for (size_t i = 0; i < ids; ++i)
        if (Get32(image, layout.Root + 16 + i * 8) == 16) layout.VersionEntry = layout.Root + 16 + i * 8;
    EXPECT_NE(layout.VersionEntry, 0u);
    size_t directory = layout.Root + (Get32(image, layout.VersionEntry + 4) & 0x7FFFFFFF);
    directory = layout.Root + (Get32(image, directory + 16 + 4) & 0x7FFFFFFF);
    layout.DataEntry = layout.Root + Get32(image, directory + 16 + 4);
    return layout;
}

TEST(PeVersionInfoTest, ReadsEveryStringOfTheUnicodeFixture) {
    const auto image = Fixture("fixture64.exe");
    ASSERT_GT(image.size(), 1000u);
    const TAppObj app(ReadPeVersionInfo(image));
    ASSERT_TRUE(app.HasBlock());
    EXPECT_EQ(app.KeyCount(), 11);
    EXPECT_EQ(app.GetTranslation(), "040904B0");
    EXPECT_EQ(app.GetValue("CompanyName"), "Tarnwick Test Works");
    EXPECT_EQ(app.GetValue("FileDescription"), "Fixture for the version reader");  // blanks trimmed
    EXPECT_EQ(app.GetValue("FileVersion"), "1.2.3.4");                            // tab, CR, LF trimmed
    EXPECT_EQ(app.GetValue("InternalName"), "pe_fixture");
    EXPECT_EQ(app.GetValue("LegalCopyright"), "Copyright \u00A9 2024 Tarnwick Test Works");
    EXPECT_EQ(app.GetValue("OriginalFilename"), "pe_fixture.exe");
    EXPECT_EQ(app.GetValue("ProductName"), "Tarnwick Fixture");
    EXPECT_EQ(app.GetValue("ProductVersion"), "5.6.7.8");
    EXPECT_EQ(app.GetValue("Comments"), "Built by make_pe_fixtures.sh \u00E4\u00F6\u00FC \u4E2D");
    EXPECT_EQ(app.GetValue("productname"), "Tarnwick Fixture");  // keys match without regard to case
    EXPECT_EQ(app.GetValue("Author"), "");
    EXPECT_EQ(app.GetValue("LegalTradeMarks"), "");

    EXPECT_EQ(ProcessInfoValues(app),
              (std::array<std::string, 8>{"Tarnwick Fixture", "5.6.7.8", "Tarnwick Test Works",
                                          "Copyright \u00A9 2024 Tarnwick Test Works", "pe_fixture",
                                          "Fixture for the version reader",
                                          "Built by make_pe_fixtures.sh \u00E4\u00F6\u00FC \u4E2D", "1.2.3.4"}));

    const auto fixed = ReadPeVersionInfo(image)->Fixed();
    ASSERT_TRUE(fixed);
    EXPECT_EQ(fixed->FileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->FileVersionLS, 0x00030004u);
    EXPECT_EQ(fixed->ProductVersionMS, 0x00050006u);
    EXPECT_EQ(fixed->ProductVersionLS, 0x00070008u);
}

TEST(PeVersionInfoTest, ReadsThePe32FixtureUnderItsOwnTranslation) {
    const auto image = Fixture("fixture32.exe");
    const TAppObj app(ReadPeVersionInfo(image));
    EXPECT_EQ(app.GetTranslation(), "040704E4");
    EXPECT_EQ(app.GetValue("ProductName"), "Tarnwick Testprogramm");
    EXPECT_EQ(app.GetValue("InternalName"), "pe_fixture32");
    EXPECT_EQ(app.GetValue("Comments"), "");  // no such entry
    ASSERT_TRUE(ReadPeVersionInfo(image)->Fixed());
    EXPECT_EQ(ReadPeVersionInfo(image)->Fixed()->FileVersionMS, 0x000A0000u);
}

TEST(PeVersionInfoTest, FromStringsKeepsUnicodeText) {
    const TAppObj app(TVersionBlock::FromStrings(0x0407, 0x04E4, {{"ProductName", "  Gr\u00FC\u00DFe \U0001F600 \n"}}));
    EXPECT_EQ(app.GetTranslation(), "040704E4");
    EXPECT_EQ(app.GetValue("ProductName"), "Gr\u00FC\u00DFe \U0001F600");
}

TEST(PeVersionInfoTest, Utf16Conversion) {
    EXPECT_EQ(Utf16LeToUtf8(std::vector<uint8_t>{'A', 0, 0xE4, 0, 0x2D, 0x4E}), "A\u00E4\u4E2D");
    EXPECT_EQ(Utf16LeToUtf8(std::vector<uint8_t>{0x3D, 0xD8, 0x00, 0xDE}), "\U0001F600");  // surrogate pair
    EXPECT_EQ(Utf16LeToUtf8(std::vector<uint8_t>{0x3D, 0xD8, 'A', 0}), "\uFFFDA");          // lone high surrogate
    EXPECT_EQ(Utf16LeToUtf8(std::vector<uint8_t>{0x00, 0xDC}), "\uFFFD");                   // lone low surrogate
    EXPECT_EQ(Utf16LeToUtf8(std::vector<uint8_t>{'A', 0, 'B'}), "A");                       // odd byte dropped
}

// Every prefix of the file: either rejected, or (once the resource is whole)
// read exactly as from the whole file.
TEST(PeMalformedTest, TruncatedImagesAreRejectedOrReadWhole) {
    for (const char* name : {"fixture64.exe", "fixture32.exe"}) {
        const auto image = Fixture(name);
        const std::string whole = TAppObj(ReadPeVersionInfo(image)).GetValue("ProductName");
        const TLayout layout = LayoutOf(image);
        const size_t dataEnd = Get32(image, layout.Rsrc + 20) + Get32(image, layout.Rsrc + 16);
        for (size_t size = 0; size < image.size(); ++size) {
            const std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<long>(size));
            const auto block = ReadPeVersionInfo(cut);
            if (block) {
                EXPECT_EQ(TAppObj(block).GetValue("ProductName"), whole) << name << " cut at " << size;
            } else {
                EXPECT_LT(size, dataEnd) << name << " cut at " << size;
            }
        }
    }
}

TEST(PeMalformedTest, TruncatedBlocksAreRejected) {
    const auto resource = *FindVersionResource(Fixture("fixture64.exe"));
    const size_t rootLength = resource[0] | (resource[1] << 8);
    ASSERT_LE(rootLength, resource.size());
    for (size_t size = 0; size < rootLength; ++size)
        EXPECT_FALSE(TVersionBlock::Parse(std::span(resource.data(), size))) << "cut at " << size;
}

TEST(PeMalformedTest, HeadersPointingOutsideTheFile) {
    const auto good = Fixture("fixture64.exe");
    const TLayout layout = LayoutOf(good);
    auto broken = [&](auto change) {
        auto image = good;
        change(image);
        return ReadPeVersionInfo(image).has_value();
    };
    ASSERT_TRUE(broken([](auto&) {}));
    EXPECT_FALSE(broken([](auto& b) { b[0] = 'X'; }));                               // no MZ
    EXPECT_FALSE(broken([](auto& b) { Put32(b, 0x3C, 0xFFFFFFF0u); }));              // e_lfanew past the end
    EXPECT_FALSE(broken([&](auto& b) { Put32(b, 0x3C, b.size() - 10); }));           // PE header cut by the end
    EXPECT_FALSE(broken([&](auto& b) { b[layout.Pe + 1] = 'X'; }));                  // no PE signature
    EXPECT_FALSE(broken([&](auto& b) { Put16(b, layout.Pe + 24, 0x0107); }));        // unknown optional magic
    EXPECT_FALSE(broken([&](auto& b) { Put16(b, layout.Pe + 20, 0xFFFF); }));        // optional header too long
    EXPECT_FALSE(broken([&](auto& b) { Put16(b, layout.Pe + 20, 100); }));           // too short for directories
    EXPECT_FALSE(broken([&](auto& b) { Put16(b, layout.Pe + 6, 0xFFFF); }));         // section count past the end
    EXPECT_FALSE(broken([&](auto& b) { Put32(b, layout.Pe + 24 + 108, 2); }));       // no resource directory slot
    EXPECT_FALSE(broken([&](auto& b) { Put32(b, layout.Pe + 24 + 112 + 16, 0); }));  // resource RVA 0
    EXPECT_FALSE(broken([&](auto& b) { Put32(b, layout.Pe + 24 + 112 + 16, 0x7FFFFFF0u); }));  // in no section
    EXPECT_FALSE(broken([&](auto& b) { Put32(b, layout.Rsrc + 20, 0xFFFFFF00u); }));  // raw data past the end
    EXPECT_FALSE(broken([&](auto& b) { Put32(b, layout.Rsrc + 16, 0); }));            // no raw data
    EXPECT_FALSE(broken([&](auto& b) { Put32(b, layout.VersionEntry, 17); }));        // no RT_VERSION
    EXPECT_FALSE(broken([&](auto& b) { Put32(b, layout.VersionEntry + 4, 0xFFFFFFFFu); }));  // subdirectory far off
    EXPECT_FALSE(broken([&](auto& b) { Put32(b, layout.DataEntry, 0xFFFFFFF0u); }));  // data RVA in no section
    EXPECT_FALSE(broken([&](auto& b) { Put32(b, layout.DataEntry + 4, 0xFFFFFFFFu); }));  // data size past the end
    EXPECT_FALSE(broken([&](auto& b) { Put32(b, layout.DataEntry + 4, 0); }));            // empty resource
}

TEST(PeMalformedTest, LoopsAndHugeCountsInTheResourceTree) {
    const auto good = Fixture("fixture64.exe");
    const TLayout layout = LayoutOf(good);
    auto image = good;
    // The type's subdirectory is the root itself: the walk meets a directory
    // where the language's data entry belongs and stops.
    Put32(image, layout.VersionEntry + 4, 0x80000000u);
    EXPECT_FALSE(ReadPeVersionInfo(image));
    // The type entry names a data entry where a directory belongs.
    image = good;
    Put32(image, layout.VersionEntry + 4, Get32(good, layout.VersionEntry + 4) & 0x7FFFFFFF);
    EXPECT_FALSE(ReadPeVersionInfo(image));
    // Entry counts far beyond the section.
    image = good;
    Put16(image, layout.Root + 12, 0xFFFF);
    Put16(image, layout.Root + 14, 0xFFFF);
    EXPECT_FALSE(ReadPeVersionInfo(image));
}

// A block header: wLength, wValueLength, wType, then the key and padding.
std::vector<uint8_t> Node(std::u16string_view key, uint16_t valueLength, uint16_t type,
                          const std::vector<uint8_t>& value, const std::vector<uint8_t>& children) {
    std::vector<uint8_t> node(6);
    for (char16_t c : key) node.insert(node.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
    node.insert(node.end(), {0, 0});
    while (node.size() % 4) node.push_back(0);
    node.insert(node.end(), value.begin(), value.end());
    while (node.size() % 4) node.push_back(0);
    node.insert(node.end(), children.begin(), children.end());
    Put16(node, 0, static_cast<uint16_t>(node.size()));
    Put16(node, 2, valueLength);
    Put16(node, 4, type);
    return node;
}

TEST(PeVersionInfoTest, WithoutBlockOrTranslationEveryValueIsEmpty) {
    const TAppObj none(std::nullopt);
    EXPECT_FALSE(none.HasBlock());
    EXPECT_EQ(none.GetTranslation(), "");
    EXPECT_EQ(none.GetValue("CompanyName"), "");

    // A string table, but no Translation entry that names it.
    const auto strings = Node(u"StringFileInfo", 0, 1, {},
                              Node(u"040904B0", 0, 1, {}, Node(u"CompanyName", 2, 1, {'x', 0, 0, 0}, {})));
    const auto block = TVersionBlock::Parse(Node(u"VS_VERSION_INFO", 0, 0, {}, strings));
    ASSERT_TRUE(block);
    EXPECT_EQ(block->Find("StringFileInfo\\040904b0\\companyname")->Text, "x");
    EXPECT_EQ(block->Find("\\"), &block->Root());
    EXPECT_FALSE(block->Find("\\VarFileInfo\\Translation"));
    EXPECT_FALSE(block->Fixed());
    const TAppObj app(block);
    EXPECT_EQ(app.GetTranslation(), "");
    EXPECT_EQ(app.GetValue("CompanyName"), "");
}

TEST(PeMalformedTest, BlocksWithBadLengthsDepthsAndCounts) {
    const auto text = Node(u"Key", 2, 1, {'v', 0, 0, 0}, {});
    ASSERT_TRUE(TVersionBlock::Parse(Node(u"Root", 0, 0, {}, text)));

    auto longer = Node(u"Root", 0, 0, {}, text);
    Put16(longer, 0, static_cast<uint16_t>(longer.size() + 4));  // wLength past the data
    EXPECT_FALSE(TVersionBlock::Parse(longer));

    auto childTooLong = Node(u"Root", 0, 0, {}, text);
    Put16(childTooLong, childTooLong.size() - text.size(), 0x400);  // child past its parent
    EXPECT_FALSE(TVersionBlock::Parse(childTooLong));

    auto childTooShort = Node(u"Root", 0, 0, {}, text);
    Put16(childTooShort, childTooShort.size() - text.size(), 3);  // shorter than a header
    EXPECT_FALSE(TVersionBlock::Parse(childTooShort));

    EXPECT_FALSE(TVersionBlock::Parse(Node(u"Root", 0, 7, {}, {})));          // unknown type
    EXPECT_FALSE(TVersionBlock::Parse(Node(u"Root", 200, 0, {1, 2}, {})));   // binary value past the node
    auto noNul = Node(u"Root", 0, 0, {}, {});
    noNul.resize(noNul.size() - 4);  // the key's NUL and padding gone
    Put16(noNul, 0, static_cast<uint16_t>(noNul.size()));
    EXPECT_FALSE(TVersionBlock::Parse(noNul));

    // A text length counted in bytes (or past the node) is cut at the node's end.
    const auto block = TVersionBlock::Parse(Node(u"Root", 0, 0, {}, Node(u"K", 500, 1, {'a', 0, 'b', 0}, {})));
    ASSERT_TRUE(block);
    EXPECT_EQ(block->Find("K")->Text, "ab");

    // Nesting deeper than the reader goes, and more nodes than it reads.
    std::vector<uint8_t> deep = text;
    for (int i = 0; i < kMaxVersionDepth + 1; ++i) deep = Node(u"D", 0, 0, {}, deep);
    EXPECT_FALSE(TVersionBlock::Parse(deep));
    std::vector<uint8_t> many;
    const auto leaf = Node(u"", 0, 0, {}, {});
    for (size_t i = 0; i < kMaxVersionNodes + 1 && many.size() + leaf.size() < 0xFFF0; ++i)
        many.insert(many.end(), leaf.begin(), leaf.end());
    // 8-byte leaves fit 8189 times in a block's 64 KiB: past the cap.
    EXPECT_GT(many.size() / leaf.size(), kMaxVersionNodes);
    EXPECT_FALSE(TVersionBlock::Parse(Node(u"", 0, 0, {}, many)));
}

}  // namespace
}  // namespace tarnwick
