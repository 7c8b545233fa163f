// The rule list and rules.dat, against files written by hand.
#include "rules/rule_items.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>  // mkfifo: Windows has no FIFOs
#endif

#include "common/ini_file.h"
#include "common/temp_folder.h"
#include "platform/atomic_file.h"
#include "rules/ini_file_io.h"

namespace tarnwick {
namespace {

using testing::TTempFolder;

void ExpectDefaultRule(const TRuleItem& rule, const std::string& ipFilter) {
    EXPECT_EQ(rule.RulesName, "");
    EXPECT_FALSE(rule.EnabledRules || rule.EnIPFilter || rule.EnLocalPortFilter || rule.EnRemotePortFilter ||
                 rule.EnRunAction || rule.EnWavAction || rule.EnKillAction || rule.EnPopupAction);
    EXPECT_EQ(rule.IPFilter, ipFilter);
    EXPECT_EQ(rule.LocalPortFilter, 0);
    EXPECT_EQ(rule.RemotePortFilter, 0);
    EXPECT_EQ(rule.RunAction, "");
    EXPECT_EQ(rule.WavAction, "");
    EXPECT_EQ(rule.PopupMsg, "");
}

TEST(RuleItems, ListOperations) {
    TRuleItems rules;
    TRuleItem& first = rules.Add();
    ExpectDefaultRule(first, "");  // a new rule's address is empty, not "0.0.0.0"
    EXPECT_EQ(first.Collection(), &rules);
    first.RulesName = "a";
    rules.Add().RulesName = "b";
    rules.Add().RulesName = "c";
    // Rules stay where they are in memory while others come and go.
    TRuleItem& third = rules.Items(2);
    rules.Delete(1);
    ASSERT_EQ(rules.Count(), 2);
    EXPECT_EQ(&rules.Items(1), &third);
    EXPECT_EQ(rules.Items(0).RulesName, "a");
    EXPECT_THROW(rules.Items(2), std::out_of_range);
    EXPECT_THROW(rules.Items(-1), std::out_of_range);
    EXPECT_THROW(rules.Delete(2), std::out_of_range);
    rules.Clear();
    EXPECT_EQ(rules.Count(), 0);
}

TEST(RuleItemsLoad, MissingFileLeavesTheListAndCountDecidesTheRest) {
    TTempFolder folder;
    TRuleItems rules;
    rules.Add().RulesName = "kept";
    rules.LoadFromFile(folder.File("rules.dat"));
    ASSERT_EQ(rules.Count(), 1);
    EXPECT_EQ(rules.Items(0).RulesName, "kept");

    for (const char* count : {"0", "-3", "many", ""}) {
        const std::string text = std::string("[ALL]\nCount=") + count + "\n[Item1]\nRulesName=x\n";
        rules.LoadFromFile(folder.Write("rules.dat", text));
        EXPECT_EQ(rules.Count(), 0) << "Count=" << count;
    }
    rules.LoadFromFile(folder.Write("rules.dat", "[Item1]\nRulesName=x\n"));
    EXPECT_EQ(rules.Count(), 0);

    // More rules counted than stored: the others get every default.
    rules.LoadFromFile(folder.Write("rules.dat", "[ALL]\nCount=3\n[Item1]\nRulesName=only one\n"));
    ASSERT_EQ(rules.Count(), 3);
    EXPECT_EQ(rules.Items(0).RulesName, "only one");
    EXPECT_EQ(rules.Items(0).IPFilter, "0.0.0.0");
    ExpectDefaultRule(rules.Items(1), "0.0.0.0");
    ExpectDefaultRule(rules.Items(2), "0.0.0.0");
}

TEST(RuleItemsLoad, ValuesAsWrittenByHand) {
    TTempFolder folder;
    TRuleItems rules;
    // Keys in another order, names in other cases, extra keys, quotes, CR LF.
    rules.LoadFromFile(folder.Write("rules.dat",
                                    "[all]\r\n"
                                    "count=1\r\n"
                                    "[ITEM1]\r\n"
                                    "PopupMsg=  \"Someone is on the web server\"  \r\n"
                                    "Comment=added by hand\r\n"
                                    "RulesName=\"Web\"\r\n"
                                    "enabledrules=2\r\n"
                                    "EnIPFilter=0x1\r\n"
                                    "EnLocalPortFilter=$10\r\n"
                                    "EnRemotePortFilter=yes\r\n"
                                    "EnKillAction=0\r\n"
                                    "IPFilter='10.0.0.1'\r\n"
                                    "LocalPortFilter=http\r\n"
                                    "RemotePortFilter=0x1BB\r\n"
                                    "RunAction=/usr/bin/notify-send\r\n"));
    ASSERT_EQ(rules.Count(), 1);
    const TRuleItem& rule = rules.Items(0);
    EXPECT_EQ(rule.RulesName, "Web");
    EXPECT_EQ(rule.PopupMsg, "Someone is on the web server");
    EXPECT_TRUE(rule.EnabledRules);
    EXPECT_TRUE(rule.EnIPFilter);
    EXPECT_TRUE(rule.EnLocalPortFilter);
    EXPECT_FALSE(rule.EnRemotePortFilter);
    EXPECT_FALSE(rule.EnKillAction);
    EXPECT_EQ(rule.IPFilter, "10.0.0.1");
    EXPECT_EQ(rule.LocalPortFilter, 0);
    EXPECT_EQ(rule.RemotePortFilter, 443);
    EXPECT_EQ(rule.RunAction, "/usr/bin/notify-send");
    EXPECT_EQ(rule.WavAction, "");
}

TEST(RuleItemsLoad, TenthRuleIsFoundByNameWhereverItStands) {
    TTempFolder folder;
    std::string text = "[Item10]\nRulesName=tenth\n[Item01]\nRulesName=not the first\n";
    for (int n = 9; n >= 1; --n) text += "[Item" + std::to_string(n) + "]\nRulesName=r" + std::to_string(n) + "\n";
    text += "[ALL]\nCount=10\n";
    TRuleItems rules;
    rules.LoadFromFile(folder.Write("rules.dat", text));
    ASSERT_EQ(rules.Count(), 10);
    EXPECT_EQ(rules.Items(0).RulesName, "r1");
    EXPECT_EQ(rules.Items(8).RulesName, "r9");
    EXPECT_EQ(rules.Items(9).RulesName, "tenth");
}

TEST(RuleItemsSave, EveryFieldRoundTripsInTheFilesKeyOrder) {
    TTempFolder folder;
    TRuleItems rules;
    rules.Add();
    TRuleItem& rule = rules.Add();
    rule.RulesName = "Mail";
    rule.EnabledRules = rule.EnRemotePortFilter = rule.EnPopupAction = rule.EnKillAction = true;
    rule.IPFilter = "192.168.1.9";  // kept although its condition is off
    rule.LocalPortFilter = -1;
    rule.RemotePortFilter = 25;
    rule.RunAction = "/opt/run me";
    rule.WavAction = "/usr/share/sounds/bell.wav";
    rule.PopupMsg = "Mail is leaving";
    const std::string path = folder.File("rules.dat");
    rules.SaveToFile(path);

    const TIniFile ini = LoadIniFile(path);
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"ALL", "Item1", "Item2"}));
    EXPECT_EQ(ini.ReadSection("Item2"),
              (std::vector<std::string>{"RulesName", "EnabledRules", "EnIPFilter", "EnLocalPortFilter",
                                        "EnRemotePortFilter", "EnRunAction", "EnWavAction", "EnKillAction",
                                        "EnPopupAction", "IPFilter", "LocalPortFilter", "RemotePortFilter",
                                        "RunAction", "WavAction", "PopupMsg"}));
    EXPECT_TRUE(folder.Read("rules.dat").starts_with("[ALL]\nCount=2\n[Item1]\nRulesName=\nEnabledRules=0\n"));

    TRuleItems loaded;
    loaded.LoadFromFile(path);
    ASSERT_EQ(loaded.Count(), 2);
    ExpectDefaultRule(loaded.Items(0), "");  // an empty address was saved: it is not "0.0.0.0" now
    const TRuleItem& back = loaded.Items(1);
    EXPECT_EQ(back.RulesName, "Mail");
    EXPECT_TRUE(back.EnabledRules && back.EnRemotePortFilter && back.EnPopupAction && back.EnKillAction);
    EXPECT_FALSE(back.EnIPFilter || back.EnLocalPortFilter || back.EnRunAction || back.EnWavAction);
    EXPECT_EQ(back.IPFilter, "192.168.1.9");
    EXPECT_EQ(back.LocalPortFilter, -1);
    EXPECT_EQ(back.RemotePortFilter, 25);
    EXPECT_EQ(back.RunAction, "/opt/run me");
    EXPECT_EQ(back.WavAction, "/usr/share/sounds/bell.wav");
    EXPECT_EQ(back.PopupMsg, "Mail is leaving");
}

TEST(RuleItemsSave, KeepsWhatItDoesNotWriteAndOldSectionsBeyondCount) {
    TTempFolder folder;
    const std::string path = folder.Write("rules.dat",
                                          "; hand-made\r\n"
                                          "[Item1]\r\n"
                                          "Comment=mine\r\n"
                                          "rulesname=one\r\n"
                                          "[ALL]\r\n"
                                          "Count=3\r\n"
                                          "[Item2]\r\n"
                                          "RulesName=two\r\n"
                                          "[Item3]\r\n"
                                          "RulesName=three\r\n"
                                          "[Extra]\r\n"
                                          "Key=value\r\n");
    TRuleItems rules;
    rules.LoadFromFile(path);
    ASSERT_EQ(rules.Count(), 3);
    rules.Delete(0);
    rules.Items(0).RulesName = "two, now first";
    rules.SaveToFile(path);

    const std::string text = folder.Read("rules.dat");
    const TIniFile ini = TIniFile::Parse(text);
    EXPECT_EQ(ini.ReadInteger("ALL", "Count", 0), 2);
    EXPECT_EQ(ini.ReadString("Item1", "RulesName", "-"), "two, now first");
    EXPECT_EQ(ini.ReadString("Item1", "Comment", "-"), "mine");
    EXPECT_EQ(ini.ReadString("Item2", "RulesName", "-"), "three");
    EXPECT_EQ(ini.ReadString("Item3", "RulesName", "-"), "three");  // the old third rule stays
    EXPECT_EQ(ini.ReadString("Extra", "Key", "-"), "value");
    // Rewritten keys stay where they stood, with their spelling; the file keeps CR LF.
    EXPECT_EQ(text.substr(0, text.find("EnabledRules")),
              "; hand-made\r\n[Item1]\r\nComment=mine\r\nrulesname=two, now first\r\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(text.begin(), text.end(), '\r'));

    TRuleItems loaded;
    loaded.LoadFromFile(path);
    ASSERT_EQ(loaded.Count(), 2);
    EXPECT_EQ(loaded.Items(1).RulesName, "three");
}

TEST(RuleItemsSave, FailedSaveLeavesFileAndListAlone) {
    TTempFolder folder;
    TRuleItems rules;
    rules.Add().RulesName = "new";

    // A target that cannot be read cannot be kept: the save refuses to write over it.
    std::filesystem::create_directory(folder.File("rules.dat"));
    try {
        rules.SaveToFile(folder.File("rules.dat"));
        FAIL() << "wrote over a folder";
    } catch (const TIniWriteError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + folder.File("rules.dat"));
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder.File("rules.dat")));
    EXPECT_THROW(rules.LoadFromFile(folder.File("rules.dat")), TIniReadError);
    ASSERT_EQ(rules.Count(), 1);
    EXPECT_EQ(rules.Items(0).RulesName, "new");
}

TEST(RuleItemsLoad, SpecialAndOversizedFilesAreRefusedAtOnce) {
    TTempFolder folder;
    TRuleItems rules;
    rules.Add().RulesName = "kept";
#ifndef _WIN32
    // A FIFO nobody writes to: reading would wait for ever.
    ASSERT_EQ(::mkfifo(folder.File("rules.dat").c_str(), 0600), 0);
    try {
        rules.LoadFromFile(folder.File("rules.dat"));
        FAIL() << "read a FIFO";
    } catch (const TIniReadError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to read " + folder.File("rules.dat"));
        EXPECT_EQ(FileErrorText(error), "Unable to read " + folder.File("rules.dat") + ": Not a regular file");
    }
#endif
    // A file far beyond any rules file, as a damaged disk or a wrong link gives.
    const std::string huge = folder.File("huge.dat");
    std::filesystem::resize_file(folder.Write("huge.dat", "[ALL]\nCount=1\n"), kMaxReadFileSize + 1);
    try {
        rules.LoadFromFile(huge);
        FAIL() << "read a file beyond the bound";
    } catch (const TIniReadError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to read " + huge);
        EXPECT_EQ(FileErrorText(error), "Unable to read " + huge + ": File larger than 16 MiB");
    }
    ASSERT_EQ(rules.Count(), 1);
    EXPECT_EQ(rules.Items(0).RulesName, "kept");
}

TEST(RuleItemsSave, TextsInAnEightBitCodePageSurviveAnEditOfOtherFields) {
    // cp1252 bytes, which are not UTF-8, as an old Windows copy wrote them.
    TTempFolder folder;
    const std::string before =
        "[ALL]\r\nCount=1\r\n[Item1]\r\nRulesName=M\xFCller's \x80 rule\r\nEnabledRules=1\r\nEnIPFilter=0\r\n"
        "EnLocalPortFilter=0\r\nEnRemotePortFilter=1\r\nEnRunAction=1\r\nEnWavAction=0\r\nEnKillAction=0\r\n"
        "EnPopupAction=1\r\nIPFilter=0.0.0.0\r\nLocalPortFilter=0\r\nRemotePortFilter=25\r\n"
        "RunAction=C:\\Programme\\Gr\xFC\xDF" "e.exe\r\nWavAction=\r\nPopupMsg=\"Achtung: \xC4nderung\"  \r\n";
    const std::string path = folder.Write("rules.dat", before);
    TRuleItems rules;
    rules.LoadFromFile(path);
    ASSERT_EQ(rules.Count(), 1);
    rules.Items(0).RemotePortFilter = 587;
    rules.SaveToFile(path);

    std::string expected = before;
    expected.replace(expected.find("RemotePortFilter=25"), 19, "RemotePortFilter=587");
    EXPECT_EQ(folder.Read("rules.dat"), expected);
}

TEST(RulesFilePath, FindsTheFileInAnyCase) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows's file names ignore case: no two files differ in case alone";
#endif
    TTempFolder folder;
    EXPECT_EQ(RulesFilePath(folder.Path()), folder.File("rules.dat"));
    std::filesystem::create_directory(folder.File("RULES.dat"));  // a folder does not count
    EXPECT_EQ(RulesFilePath(folder.Path()), folder.File("rules.dat"));
    folder.Write("RULES.DAT", "");
    folder.Write("Rules.dat", "");
    EXPECT_EQ(RulesFilePath(folder.Path()), folder.File("RULES.DAT"));
    folder.Write("rules.dat", "");
    EXPECT_EQ(RulesFilePath(folder.Path()), folder.File("rules.dat"));
    EXPECT_EQ(RulesFilePath(folder.File("missing")), folder.File("missing/rules.dat"));

    // A folder of the exact name gives way to a file of another case.
    TTempFolder other;
    std::filesystem::create_directory(other.File("rules.dat"));
    other.Write("Rules.DAT", "");
    EXPECT_EQ(RulesFilePath(other.Path()), other.File("Rules.DAT"));
}

}  // namespace
}  // namespace tarnwick
