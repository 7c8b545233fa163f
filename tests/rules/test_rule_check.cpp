// Which rules fire for a new connection, and what their actions do, in order.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "rules/rule_check.h"
#include "rules/rule_items.h"

namespace tarnwick {
namespace {

class TRecordingActions final : public TRuleActions {
public:
    std::set<std::string> Files;
    bool Established = true;
    std::vector<std::string> Calls;

    bool FileExists(const std::string& path) override { return Files.contains(path); }
    void RunProgram(const std::string& path) override { Calls.push_back("run " + path); }
    void PlayWav(const std::string& path) override { Calls.push_back("wav " + path); }
    bool IsEstablished(int) override { return Established; }
    void KillConnection(int row) override { Calls.push_back("kill " + std::to_string(row)); }
    void ShowPopup(const std::string& header, const std::string& text) override {
        Calls.push_back("popup " + header + "|" + text);
    }
    void AddLog(const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection) override {
        Calls.push_back("log " + std::to_string(kind) + " " + text);
        LogConnections.push_back(connection);
    }
    std::vector<std::optional<TLogConnection>> LogConnections;  // beside the log calls
};

class RuleCheck : public ::testing::Test {
protected:
    TRuleItem& AddRule(const std::string& name) {
        TRuleItem& rule = Rules.Add();
        rule.RulesName = name;
        rule.EnabledRules = true;
        return rule;
    }
    std::vector<std::string> Check(const std::string& addr, int localPort, int remotePort) {
        Actions.Calls.clear();
        CheckRules(Rules, TRuleConnection{3, addr, localPort, remotePort}, Actions);
        return Actions.Calls;
    }
    TRuleItems Rules;
    TRecordingActions Actions;
};

TEST_F(RuleCheck, AddressIsComparedAsWholeText) {
    TRuleItem& rule = AddRule("lan");
    rule.EnIPFilter = true;
    rule.IPFilter = "192.168.1.10";
    rule.EnPopupAction = true;
    rule.PopupMsg = "hello";
    EXPECT_EQ(Check("192.168.1.10", 1, 2),
              (std::vector<std::string>{"popup lan|hello", "log 1 Enabled Rules:lan,Popup Messages:hello"}));
    EXPECT_TRUE(Check("192.168.1.100", 1, 2).empty());
    EXPECT_TRUE(Check("10.192.168.1", 1, 2).empty());
}

TEST_F(RuleCheck, Ip6AddressIsComparedByAddressAndMappedConnectionsShowDotted) {
    TRuleItem& v6 = AddRule("v6");
    v6.EnIPFilter = true;
    v6.IPFilter = "2001:0DB8:0:0::0001";  // as a rules file written by hand may spell it
    v6.EnKillAction = true;
    TRuleItem& v4 = AddRule("v4");
    v4.EnIPFilter = true;
    v4.IPFilter = "192.0.2.7";
    v4.EnKillAction = true;
    const std::vector<std::string> v6Fired{"kill 3", "log 1 Enabled Rules:v6,Kill the Connection!"};
    const std::vector<std::string> v4Fired{"kill 3", "log 1 Enabled Rules:v4,Kill the Connection!"};

    EXPECT_EQ(Check("2001:db8::1", 1, 2), v6Fired);
    EXPECT_TRUE(Check("2001:db8::10", 1, 2).empty());
    // An IPv6 socket with IPv4-mapped ends is an IPv4 connection, dotted.
    EXPECT_EQ(Check("192.0.2.7", 1, 2), v4Fired);
    v6.IPFilter = "::ffff:192.0.2.7";
    EXPECT_EQ(Check("192.0.2.7", 1, 2).size(), 4u);
}

TEST_F(RuleCheck, ConditionsAreAlternativesAndNoneMeansNever) {
    TRuleItem& ports = AddRule("ports");
    ports.EnLocalPortFilter = true;
    ports.LocalPortFilter = 80;
    ports.EnRemotePortFilter = true;
    ports.RemotePortFilter = 5000;
    ports.EnKillAction = true;
    TRuleItem& none = AddRule("none");
    none.EnRunAction = none.EnWavAction = none.EnKillAction = none.EnPopupAction = true;
    none.RunAction = none.WavAction = "/bin/true";
    Actions.Files = {"/bin/true"};
    const std::vector<std::string> fired{"kill 3", "log 1 Enabled Rules:ports,Kill the Connection!"};
    EXPECT_EQ(Check("10.0.0.1", 80, 1234), fired);
    EXPECT_EQ(Check("10.0.0.1", 8080, 5000), fired);
    EXPECT_TRUE(Check("10.0.0.1", 8080, 1234).empty());
}

TEST_F(RuleCheck, ActionsRunInOrderAndEveryMatchingRuleFires) {
    for (const char* name : {"first", "second"}) {
        TRuleItem& rule = AddRule(name);
        rule.EnRemotePortFilter = true;
        rule.RemotePortFilter = 443;
        rule.EnPopupAction = rule.EnKillAction = rule.EnWavAction = rule.EnRunAction = true;
        rule.RunAction = "/opt/run me";
        rule.WavAction = "/snd/a.wav";
    }
    Rules.Items(1).EnabledRules = true;
    Actions.Files = {"/opt/run me", "/snd/a.wav"};
    const auto calls = Check("10.0.0.1", 5, 443);
    ASSERT_EQ(calls.size(), 16u);
    EXPECT_EQ(calls[0], "run /opt/run me");
    EXPECT_EQ(calls[1], "log 1 Enabled Rules:first,Run the Program files:/opt/run me");
    EXPECT_EQ(calls[2], "wav /snd/a.wav");
    EXPECT_EQ(calls[3], "log 1 Enabled Rules:first,Play the wave files:/snd/a.wav");
    EXPECT_EQ(calls[4], "kill 3");
    EXPECT_EQ(calls[6], "popup first|");
    EXPECT_EQ(calls[7], "log 1 Enabled Rules:first,Popup Messages:");
    EXPECT_EQ(calls[15], "log 1 Enabled Rules:second,Popup Messages:");
}

TEST_F(RuleCheck, MissingFilesSkipTheirActionsAndSwitchedOffRulesNothing) {
    TRuleItem& rule = AddRule("r");
    rule.EnLocalPortFilter = true;
    rule.LocalPortFilter = 22;
    rule.EnRunAction = rule.EnWavAction = rule.EnPopupAction = true;
    rule.RunAction = "/missing";
    rule.WavAction = "";
    rule.PopupMsg = "ssh";
    EXPECT_EQ(Check("1.2.3.4", 22, 9), (std::vector<std::string>{"popup r|ssh", "log 1 Enabled Rules:r,Popup Messages:ssh"}));
    rule.EnabledRules = false;
    EXPECT_TRUE(Check("1.2.3.4", 22, 9).empty());
}

TEST_F(RuleCheck, KillIsLoggedEvenWhenTheRowIsNoLongerEstablished) {
    TRuleItem& rule = AddRule("k");
    rule.EnLocalPortFilter = true;
    rule.LocalPortFilter = 22;
    rule.EnKillAction = true;
    Actions.Established = false;
    EXPECT_EQ(Check("1.2.3.4", 22, 9), std::vector<std::string>{"log 1 Enabled Rules:k,Kill the Connection!"});
}

TEST_F(RuleCheck, KillOfAConnectionThatEndedUnlistedTouchesNoRowAndSaysSo) {
    TRuleItem& rule = AddRule("k");
    rule.EnRemotePortFilter = true;
    rule.RemotePortFilter = 9;
    rule.EnKillAction = true;
    Actions.Calls.clear();
    CheckRules(Rules, TRuleConnection{kEndedConnectionRow, "1.2.3.4", 22, 9}, Actions);
    EXPECT_EQ(Actions.Calls,
              std::vector<std::string>{"log 1 Enabled Rules:k,Kill the Connection! It had already closed."});
}

TEST_F(RuleCheck, RuleLinesAreAboutTheConnectionChecked) {
    TRuleItem& rule = AddRule("k");
    rule.EnRemotePortFilter = rule.EnKillAction = rule.EnPopupAction = true;
    rule.RemotePortFilter = 443;
    const TLogConnection details{"TCP", "10.0.0.2", 5, "10.0.0.1", 443, "Established", 7, "curl"};
    CheckRules(Rules, TRuleConnection{3, "10.0.0.1", 5, 443, details}, Actions);
    EXPECT_EQ(Actions.LogConnections,
              (std::vector<std::optional<TLogConnection>>{details, details}));
}

TEST(IsExistingFileTest, FilesYesFoldersAndNothingNo) {
    EXPECT_TRUE(IsExistingFile("/bin/sh"));
    EXPECT_FALSE(IsExistingFile("/tmp"));
    EXPECT_FALSE(IsExistingFile(""));
    EXPECT_FALSE(IsExistingFile("/no/such/file"));
}

}  // namespace
}  // namespace tarnwick
