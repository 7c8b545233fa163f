// The INI module: reading and writing key by key, keeping everything else.
#include "common/ini_file.h"

#include <gtest/gtest.h>

#include <string>

#include "common/utf16_text.h"

namespace tarnwick {
namespace {

TEST(IniFileRead, NamesMatchWithoutCaseAndFirstOccurrenceWins) {
    const TIniFile ini = TIniFile::Parse(
        "Orphan=above every section\n"
        "[ All ]\n"
        "COUNT = 2\n"
        "count=3\n"
        "; Hidden=comment\n"
        "no equals sign here\n"
        "[all]\n"
        "Count=4\n"
        "Late=only in the second [all]\n");
    EXPECT_EQ(ini.ReadString("ALL", "Count", "-"), "2");
    EXPECT_EQ(ini.ReadString("aLl", "cOuNt", "-"), "2");
    EXPECT_EQ(ini.ReadString("ALL", "Late", "-"), "-");
    EXPECT_EQ(ini.ReadString("ALL", "; Hidden", "-"), "-");
    EXPECT_EQ(ini.ReadString("ALL", "Orphan", "-"), "-");
    EXPECT_EQ(ini.ReadString("", "Orphan", "-"), "-");
    EXPECT_EQ(ini.ReadString("Other", "Count", "-"), "-");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"All"}));
    EXPECT_EQ(ini.ReadSection("all"), (std::vector<std::string>{"COUNT"}));
}

TEST(IniFileRead, ValuesLoseBlanksAndOnePairOfQuotesThenAreCut) {
    const std::string long2047(2047, 'x');
    const TIniFile ini = TIniFile::Parse(
        "[S]\n"
        "Double= \t\"Boss\"  \n"
        "Nested='\"Boss\"'\n"
        "Mixed=\"Boss'\n"
        "Lone=\"\n"
        "Empty=\n"
        "Equals=a=b\n"
        "Long=\"" + long2047 + "yz\"\n");
    EXPECT_EQ(ini.ReadString("S", "Double", "-"), "Boss");
    EXPECT_EQ(ini.ReadString("S", "Nested", "-"), "\"Boss\"");
    EXPECT_EQ(ini.ReadString("S", "Mixed", "-"), "\"Boss'");
    EXPECT_EQ(ini.ReadString("S", "Lone", "-"), "\"");
    EXPECT_EQ(ini.ReadString("S", "Empty", "-"), "");  // present but empty: not the default
    EXPECT_EQ(ini.ReadString("S", "Equals", "-"), "a=b");
    EXPECT_EQ(ini.ReadString("S", "Long", "-"), long2047);  // quotes go first, then the cut
}

TEST(IniFileRead, IntegersAndTheirDefaults) {
    const std::pair<const char*, std::optional<int32_t>> cases[] = {
        {"+42", 42},         {"-42", -42},           {"007", 7},
        {"-2147483648", INT32_MIN},                  {"2147483648", std::nullopt},
        {"99999999999999999999", std::nullopt},      {"0X1f", 31},
        {"$10", 16},         {"0xFFFFFFFF", -1},     {"0x000000000010", 16},
        {"0x100000000", std::nullopt},               {"0x", std::nullopt},
        {"-0x10", std::nullopt},                     {"-", std::nullopt},
        {"1 2", std::nullopt},                       {"12abc", std::nullopt},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(TIniFile::ParseInteger(text), value) << '"' << text << '"';

    const TIniFile ini = TIniFile::Parse("[S]\nWord=yes\nBlank=\nZero=0\n");
    EXPECT_EQ(ini.ReadInteger("S", "Word", -5), -5);
    EXPECT_TRUE(ini.ReadBool("S", "Word", true));
    EXPECT_TRUE(ini.ReadBool("S", "Blank", true));
    EXPECT_TRUE(ini.ReadBool("S", "Missing", true));
    EXPECT_FALSE(ini.ReadBool("S", "Zero", true));
}

TEST(IniFileWrite, ChangesOnlyTheLinesOfTheKeysWritten) {
    const std::string text =
        "; rules of the house\n"
        "Orphan=1\n"
        "\n"
        "[First]\n"
        "  keep = me  \n"
        "Target = \"old\"\n"
        "target=second copy\n"
        "garbage line\n"
        "\n"
        "; about Second\n"
        "[Second]\n"
        "x=1\n";
    TIniFile ini = TIniFile::Parse(text);
    EXPECT_EQ(ini.Text(), text);

    ini.WriteString("FIRST", "TARGET", "new");
    ini.WriteInteger("first", "Added", -12);
    ini.WriteBool("Second", "Flag", true);
    ini.WriteBool("Third", "Flag", false);
    EXPECT_EQ(ini.Text(),
              "; rules of the house\n"
              "Orphan=1\n"
              "\n"
              "[First]\n"
              "  keep = me  \n"
              "Target=new\n"
              "target=second copy\n"
              "Added=-12\n"
              "garbage line\n"
              "\n"
              "; about Second\n"
              "[Second]\n"
              "x=1\n"
              "Flag=1\n"
              "[Third]\n"
              "Flag=0\n");

    // A section without keys takes its first one right after the heading.
    TIniFile bare = TIniFile::Parse("[S]\n; note\n");
    bare.WriteString("S", "K", "v");
    // A line break in a value would start a new line: it becomes a blank.
    bare.WriteString("S", "Injected", "x\r\n[ALL]\nCount=99");
    EXPECT_EQ(bare.Text(), "[S]\nK=v\nInjected=x  [ALL] Count=99\n; note\n");
    EXPECT_THROW(bare.WriteString("S]", "K", "v"), std::invalid_argument);
    EXPECT_THROW(bare.WriteString("S", "K=1", "v"), std::invalid_argument);
    EXPECT_THROW(bare.WriteString("S", " K", "v"), std::invalid_argument);
}

TEST(IniFileLineEnds, KeptFromTheFirstLineNewFilesGetLf) {
    TIniFile crlf = TIniFile::Parse("[S]\r\nA=1\r\n\r\n");
    EXPECT_EQ(crlf.ReadString("S", "A", "-"), "1");
    crlf.WriteString("S", "B", "2");
    EXPECT_EQ(crlf.Text(), "[S]\r\nA=1\r\nB=2\r\n\r\n");

    // Mixed ends read alike; the first line decides how the file is written.
    const TIniFile mixed = TIniFile::Parse("[S]\nA=1\r\nB=2\r\r\nC=3");
    EXPECT_EQ(mixed.ReadString("S", "A", "-"), "1");
    EXPECT_EQ(mixed.ReadString("S", "B", "-"), "2");
    EXPECT_EQ(mixed.ReadString("S", "C", "-"), "3");
    EXPECT_EQ(mixed.Text(), "[S]\nA=1\nB=2\nC=3\n");

    TIniFile fresh;
    fresh.WriteString("S", "A", "1");
    EXPECT_EQ(fresh.Text(), "[S]\nA=1\n");

    const TIniFile marked = TIniFile::Parse("\xEF\xBB\xBF[S]\r\nA=1\r\n");
    EXPECT_EQ(marked.ReadString("S", "A", "-"), "1");
    EXPECT_EQ(marked.Text(), "\xEF\xBB\xBF[S]\r\nA=1\r\n");
}

TEST(IniFileLineEnds, CrOnlyLinesAreLinesAndStaySo) {
    TIniFile ini = TIniFile::Parse("[ALL]\rCount=2\r\r[Item1]\rRulesName=one\r");
    EXPECT_EQ(ini.ReadInteger("ALL", "Count", 0), 2);
    EXPECT_EQ(ini.ReadString("Item1", "RulesName", "-"), "one");
    ini.WriteString("Item1", "PopupMsg", "hi");
    EXPECT_EQ(ini.Text(), "[ALL]\rCount=2\r\r[Item1]\rRulesName=one\rPopupMsg=hi\r");
}

// `text` as UTF-16 code units in the given byte order, after a byte order mark.
std::string Utf16File(std::u16string_view text, bool bigEndian) {
    std::string bytes;
    for (const char16_t unit : std::u16string(u"\uFEFF") + std::u16string(text)) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

TEST(IniFileEncoding, Utf16WithAByteOrderMarkIsReadAndWrittenBackAsUtf16) {
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big endian" : "little endian");
        const std::string file = Utf16File(u"[ALL]\r\nCount=1\r\n[Item1]\r\nRulesName=Caf\u00E9 \U0001F512\r\n", bigEndian);
        TIniFile ini = TIniFile::Parse(file);
        EXPECT_EQ(ini.ReadInteger("ALL", "Count", 0), 1);
        EXPECT_EQ(ini.ReadString("Item1", "RulesName", "-"), "Caf\u00E9 \U0001F512");
        EXPECT_EQ(ini.Text(), file);

        ini.WriteString("Item1", "PopupMsg", "\u00DCber");
        // Bytes of a text that is not UTF-8 survive the file too.
        ini.WriteString("Item1", "RunAction", "C:\\Programme\\M\xFCller.exe");
        EXPECT_EQ(ini.Text(), Utf16File(u"[ALL]\r\nCount=1\r\n[Item1]\r\nRulesName=Caf\u00E9 \U0001F512\r\n"
                                        u"PopupMsg=\u00DCber\r\nRunAction=C:\\Programme\\M\xDCFCller.exe\r\n",
                                        bigEndian));
        EXPECT_EQ(TIniFile::Parse(ini.Text()).ReadString("Item1", "RunAction", "-"), "C:\\Programme\\M\xFCller.exe");
    }
}

TEST(IniFileEncoding, ASequenceCutOffByTheEndOfTheTextGoesToUtf16AsItsBytes) {
    // The bytes after the text in memory would complete it (to U+20AC).
    const std::string euro = "a\xe2\x82\xac";
    EXPECT_EQ(Utf8ToUtf16(std::string_view(euro).substr(0, 3), TByteOrder::LittleEndian),
              std::string("a\0\xe2\xdc\x82\xdc", 6));
}

TEST(IniFileWrite, ValuesReadBackAsWrittenAndLinesThatAlreadySayItStay) {
    const std::string text = "[S]\nName = 'M\xFCller'  \nPort=25\n";
    TIniFile ini = TIniFile::Parse(text);
    ini.WriteString("S", "Name", "M\xFC" "ller");
    ini.WriteInteger("S", "Port", 25);
    EXPECT_EQ(ini.Text(), text);

    ini.WriteString("S", "Padded", "  two blanks before");
    ini.WriteString("S", "Quoted", "\"Boss\"");
    EXPECT_EQ(ini.ReadString("S", "Padded", "-"), "  two blanks before");
    EXPECT_EQ(ini.ReadString("S", "Quoted", "-"), "\"Boss\"");
}

}  // namespace
}  // namespace tarnwick
