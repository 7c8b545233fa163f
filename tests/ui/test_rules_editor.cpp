// The rule editor and the Add, Edit and Remove commands of the rules page,
// with a scripted name dialog, editor and message boxes; and the reading of
// dotted addresses behind the editor's address field.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/inet_address.h"
#include "common/text_util.h"
#include "platform/ip_tables.h"
#include "rules/rule_items.h"
#include "ui/scripted_boxes.h"
#include "ui/app_title.h"
#include "ui/ip_address_edit.h"
#include "ui/message_boxes.h"
#include "ui/rule_commands.h"
#include "ui/rules_edit_form.h"
#include "ui/rules_list_view.h"

namespace tarnwick::testing {
namespace {


// Types into whatever has the focus, key by key, as a user would.
void TypeIntoFocus(const QString& text) {
    for (const QChar c : text) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

std::vector<QString> RowTexts(const QTreeWidget* list, int index) {
    std::vector<QString> texts;
    for (int column = 0; column < list->columnCount(); ++column) texts.push_back(list->topLevelItem(index)->text(column));
    return texts;
}

class RuleCommands : public ::testing::Test {
protected:
    TRuleItem& AddRule(const std::string& name, bool enabled) {
        TRuleItem& rule = Rules.Add();
        rule.RulesName = name;
        rule.EnabledRules = enabled;
        rule.IPFilter = "10.0.0." + std::to_string(Rules.Count());
        rule.LocalPortFilter = 100 + Rules.Count();
        rule.RemotePortFilter = 200 + Rules.Count();
        return rule;
    }
    void Select(int index) { List->setCurrentItem(List->topLevelItem(index)); }

    TRuleItems Rules;
    QWidget Host;
    QTreeWidget* List = CreateRulesListView(&Host);
    TRulesEdit_F Editor;
    TScriptedBoxes Boxes;

    std::optional<std::string> NameAnswer = "New Rules";
    std::vector<std::string> Proposed;
    // Stands for the user in the editor: sets controls, then OK (true) or Cancel.
    std::function<bool(TRulesEdit_F&)> User = [](TRulesEdit_F&) { return true; };
    std::vector<QString> Captions;  // the editor's caption each time it opened

    TRuleCommands Commands{Rules, List, Editor, Boxes,
                           [this](QWidget*, const std::string& proposed) {
                               Proposed.push_back(proposed);
                               return NameAnswer;
                           },
                           [this](TRulesEdit_F& editor) {
                               Captions.push_back(editor.windowTitle());
                               return User(editor);
                           }};
};

TEST_F(RuleCommands, AddWithTheProposedNameAndAnUntouchedEditorAddsARuleThatIsOff) {
    // The editor still holds the values of an earlier use.
    TRuleItem earlier(nullptr);
    earlier.EnIPFilter = earlier.EnLocalPortFilter = earlier.EnRemotePortFilter = true;
    earlier.EnRunAction = earlier.EnWavAction = earlier.EnKillAction = earlier.EnPopupAction = true;
    earlier.IPFilter = "9.9.9.9";
    earlier.LocalPortFilter = earlier.RemotePortFilter = 99;
    earlier.RunAction = earlier.WavAction = earlier.PopupMsg = "old";
    Editor.LoadFromRule(earlier);

    Commands.btnAddClick();

    EXPECT_EQ(Proposed, std::vector<std::string>{"New Rules"});
    EXPECT_EQ(Captions, std::vector<QString>{"Rule[New Rules]"});
    ASSERT_EQ(Rules.Count(), 1);
    const TRuleItem& rule = Rules.Items(0);
    EXPECT_EQ(rule.RulesName, "New Rules");
    EXPECT_FALSE(rule.EnabledRules || rule.EnIPFilter || rule.EnLocalPortFilter || rule.EnRemotePortFilter ||
                 rule.EnRunAction || rule.EnWavAction || rule.EnKillAction || rule.EnPopupAction);
    EXPECT_EQ(rule.IPFilter, "0.0.0.0");
    EXPECT_EQ(rule.LocalPortFilter, 1);
    EXPECT_EQ(rule.RemotePortFilter, 1);
    EXPECT_TRUE(rule.RunAction.empty() && rule.WavAction.empty() && rule.PopupMsg.empty());

    ASSERT_EQ(List->topLevelItemCount(), 1);
    EXPECT_EQ(RowTexts(List, 0), (std::vector<QString>{"", "New Rules", "0.0.0.0", "1", "1"}));
    EXPECT_FALSE(RuleRowChecked(List, 0));
    EXPECT_EQ(List->topLevelItem(0)->checkState(0), Qt::Unchecked);  // a box is there, cleared
}

TEST_F(RuleCommands, AddTakesEveryControlAndAppendsAfterTheExistingRules) {
    AddRule("first", true);
    FillRulesListView(List, Rules);
    NameAnswer = "";  // any name, the empty one too
    User = [](TRulesEdit_F& editor) {
        for (QCheckBox* box : {editor.chkIPFilter, editor.chkLocalPort, editor.chkRemotePort, editor.chkRun,
                               editor.chkWav, editor.chkKill, editor.chkPopup})
            box->setChecked(true);
        editor.edtIPFilter->SetValue(0xC0A80102);
        editor.edtLocalPort->setValue(8080);
        editor.edtRemotePort->setValue(65535);  // beyond the range: the limit
        editor.edtRun->setText("/usr/bin/true");
        editor.edtWav->setText("/tmp/ding.wav");
        editor.edtPopup->setText("Look!");
        return true;
    };

    Commands.btnAddClick();

    EXPECT_EQ(Captions, std::vector<QString>{"Rule[]"});
    ASSERT_EQ(Rules.Count(), 2);
    const TRuleItem& rule = Rules.Items(1);
    EXPECT_EQ(rule.RulesName, "");
    EXPECT_FALSE(rule.EnabledRules);
    EXPECT_TRUE(rule.EnIPFilter && rule.EnLocalPortFilter && rule.EnRemotePortFilter && rule.EnRunAction &&
                rule.EnWavAction && rule.EnKillAction && rule.EnPopupAction);
    EXPECT_EQ(rule.IPFilter, "192.168.1.2");
    EXPECT_EQ(rule.LocalPortFilter, 8080);
    EXPECT_EQ(rule.RemotePortFilter, 65534);
    EXPECT_EQ(rule.RunAction, "/usr/bin/true");
    EXPECT_EQ(rule.WavAction, "/tmp/ding.wav");
    EXPECT_EQ(rule.PopupMsg, "Look!");
    ASSERT_EQ(List->topLevelItemCount(), 2);
    EXPECT_EQ(RowTexts(List, 1), (std::vector<QString>{"", "", "192.168.1.2", "8080", "65534"}));
    EXPECT_TRUE(RuleRowChecked(List, 0));
    EXPECT_FALSE(RuleRowChecked(List, 1));
}

TEST_F(RuleCommands, AddCancelledInTheNameDialogOrTheEditorAddsNothing) {
    NameAnswer = std::nullopt;
    Commands.btnAddClick();
    EXPECT_TRUE(Captions.empty());  // the editor never opened

    NameAnswer = "kept";
    User = [](TRulesEdit_F& editor) {
        editor.chkKill->setChecked(true);
        return false;
    };
    Commands.btnAddClick();
    EXPECT_EQ(Captions, std::vector<QString>{"Rule[kept]"});
    EXPECT_EQ(Rules.Count(), 0);
    EXPECT_EQ(List->topLevelItemCount(), 0);
}

TEST_F(RuleCommands, EditAndRemoveWithoutASelectionOnlyComplain) {
    AddRule("only", true);
    FillRulesListView(List, Rules);
    List->setCurrentItem(List->topLevelItem(0));
    List->clearSelection();  // a current row that is not selected does not count

    Commands.btnEditClick();
    Commands.btnRemoveClick();

    const std::pair<QString, QString> complaint{"Must Select one Rules!", kApplicationTitle};
    EXPECT_EQ(Boxes.Shown, (std::vector<QString>{complaint.first, complaint.first}));
    EXPECT_EQ(Boxes.ShownCaptions, (std::vector<QString>{complaint.second, complaint.second}));
    EXPECT_EQ(kApplicationTitle, "Tarnwick 1.01");
    EXPECT_TRUE(Captions.empty());
    EXPECT_TRUE(Boxes.Asked.empty());
    EXPECT_EQ(Rules.Count(), 1);
    EXPECT_TRUE(Rules.Items(0).EnabledRules);
}

TEST_F(RuleCommands, EditShowsTheRuleAndStoresItBackOffWithNameAndCheckBoxKept) {
    AddRule("first", true);
    TRuleItem& loaded = AddRule("web", true);
    loaded.EnRemotePortFilter = loaded.EnWavAction = true;
    loaded.IPFilter = "0.0.0.0";
    loaded.LocalPortFilter = 0;        // as a rules file without the key gives it
    loaded.RemotePortFilter = 70000;   // beyond the range
    loaded.WavAction = "/tmp/a.wav";
    loaded.PopupMsg = "hello";
    FillRulesListView(List, Rules);
    Select(1);

    User = [](TRulesEdit_F& editor) {
        EXPECT_EQ(editor.edtIPFilter->Text(), "0.0.0.0");
        EXPECT_EQ(editor.edtLocalPort->value(), 1);
        EXPECT_EQ(editor.edtRemotePort->value(), 65534);
        EXPECT_FALSE(editor.chkIPFilter->isChecked() || editor.chkLocalPort->isChecked() ||
                     editor.chkRun->isChecked() || editor.chkKill->isChecked() || editor.chkPopup->isChecked());
        EXPECT_TRUE(editor.chkRemotePort->isChecked() && editor.chkWav->isChecked());
        EXPECT_EQ(editor.edtWav->text(), "/tmp/a.wav");
        EXPECT_EQ(editor.edtPopup->text(), "hello");
        editor.chkKill->setChecked(true);
        return true;
    };
    Commands.btnEditClick();

    EXPECT_EQ(Captions, std::vector<QString>{"web"});
    const TRuleItem& rule = Rules.Items(1);
    EXPECT_EQ(rule.RulesName, "web");
    EXPECT_FALSE(rule.EnabledRules);
    EXPECT_TRUE(rule.EnKillAction && rule.EnRemotePortFilter && rule.EnWavAction);
    EXPECT_EQ(rule.IPFilter, "0.0.0.0");
    EXPECT_EQ(rule.LocalPortFilter, 1);
    EXPECT_EQ(rule.RemotePortFilter, 65534);
    EXPECT_EQ(rule.PopupMsg, "hello");
    EXPECT_EQ(RowTexts(List, 1), (std::vector<QString>{"", "web", "0.0.0.0", "1", "65534"}));
    EXPECT_TRUE(RuleRowChecked(List, 1));  // the row still says what OK of the Options dialog will apply
    EXPECT_TRUE(Rules.Items(0).EnabledRules);
    EXPECT_EQ(RowTexts(List, 0), (std::vector<QString>{"", "first", "10.0.0.1", "101", "201"}));
}

TEST_F(RuleCommands, EditKeepsTheBytesOfTextsTheUserLeftAlone) {
    // cp1252 bytes from an old rules file: not UTF-8, so the editor shows U+FFFD.
    TRuleItem& rule = AddRule("old", true);
    rule.RunAction = "C:\\Gr\xFC\xDF" "e.exe";
    rule.WavAction = "/tmp/\xE4.wav";
    rule.PopupMsg = "\x80 100";
    FillRulesListView(List, Rules);
    Select(0);
    User = [](TRulesEdit_F& editor) {
        editor.chkKill->setChecked(true);
        editor.edtWav->setText(QStringLiteral("/tmp/\u00E4.wav"));
        return true;
    };
    Commands.btnEditClick();
    EXPECT_TRUE(rule.EnKillAction);
    EXPECT_EQ(rule.RunAction, "C:\\Gr\xFC\xDF" "e.exe");
    EXPECT_EQ(rule.PopupMsg, "\x80 100");
    EXPECT_EQ(rule.WavAction, "/tmp/\u00E4.wav");  // typed anew: the editor's text
}

TEST_F(RuleCommands, EditOfAnAddressThatIsNotOneShowsAllOnes) {
    AddRule("a", false).IPFilter = "10.1.2.3";
    AddRule("b", false).IPFilter = "somewhere";
    FillRulesListView(List, Rules);
    std::vector<QString> shown;
    User = [&](TRulesEdit_F& editor) {
        shown.push_back(editor.edtIPFilter->Text());
        return true;
    };
    Select(0);
    Commands.btnEditClick();
    Select(1);
    Commands.btnEditClick();
    EXPECT_EQ(shown, (std::vector<QString>{"10.1.2.3", "255.255.255.255"}));
    EXPECT_EQ(Rules.Items(1).IPFilter, "255.255.255.255");
}

TEST_F(RuleCommands, EditOfAnIp6AddressShowsAndStoresItsShortForm) {
    AddRule("v6", false).IPFilter = "2001:DB8:0:0::0001";
    FillRulesListView(List, Rules);
    Select(0);
    User = [](TRulesEdit_F& editor) {
        EXPECT_TRUE(editor.edtIPFilter->IsFreeText());
        EXPECT_EQ(editor.edtIPFilter->FreeText()->text(), "2001:db8::1");
        return true;
    };
    Commands.btnEditClick();
    EXPECT_EQ(Rules.Items(0).IPFilter, "2001:db8::1");

    // Back to an IPv4 rule: the four numbers again, stored dotted.
    Rules.Items(0).IPFilter = "10.0.0.9";
    User = [](TRulesEdit_F& editor) {
        EXPECT_FALSE(editor.edtIPFilter->IsFreeText());
        return true;
    };
    Commands.btnEditClick();
    EXPECT_EQ(Rules.Items(0).IPFilter, "10.0.0.9");
}

TEST_F(RuleCommands, EditCancelledChangesNothing) {
    AddRule("kept", true);
    FillRulesListView(List, Rules);
    Select(0);
    User = [](TRulesEdit_F& editor) {
        editor.chkPopup->setChecked(true);
        editor.edtLocalPort->setValue(5);
        return false;
    };
    Commands.btnEditClick();
    const TRuleItem& rule = Rules.Items(0);
    EXPECT_TRUE(rule.EnabledRules);
    EXPECT_FALSE(rule.EnPopupAction);
    EXPECT_EQ(rule.LocalPortFilter, 101);
    EXPECT_EQ(List->topLevelItem(0)->text(3), "101");
}

TEST_F(RuleCommands, RemoveAsksAndOnYesTheRuleAndItsRowGoTogether) {
    AddRule("a", true);
    AddRule("b", false);
    AddRule("c", true);
    FillRulesListView(List, Rules);
    Select(1);

    Boxes.Answers = {false};
    Commands.btnRemoveClick();
    EXPECT_EQ(Boxes.Asked, std::vector<QString>{"Are you sure Remove the Rule?"});
    EXPECT_EQ(Rules.Count(), 3);
    EXPECT_EQ(List->topLevelItemCount(), 3);

    Boxes.Answers = {true};
    Commands.btnRemoveClick();
    ASSERT_EQ(Rules.Count(), 2);
    EXPECT_EQ(Rules.Items(1).RulesName, "c");
    ASSERT_EQ(List->topLevelItemCount(), 2);
    EXPECT_EQ(RowTexts(List, 1), (std::vector<QString>{"", "c", "10.0.0.3", "103", "203"}));
    EXPECT_TRUE(RuleRowChecked(List, 1));
    EXPECT_EQ(RowTexts(List, 0)[1], "a");
}

TEST(RulesListView, ColumnsAndRowsStandForTheRules) {
    QWidget host;
    QTreeWidget* list = CreateRulesListView(&host);
    ASSERT_EQ(list->columnCount(), 5);
    const std::vector<std::pair<QString, int>> expected{
        {"#", 20}, {"Rules Name", 100}, {"IP Address", 120}, {"Local Port", 70}, {"Remote Port", 90}};
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(list->headerItem()->text(column), expected[static_cast<size_t>(column)].first);
        EXPECT_EQ(list->columnWidth(column), expected[static_cast<size_t>(column)].second);
    }
    TRuleItems rules;
    rules.Add().RulesName = "stale";
    FillRulesListView(list, rules);
    rules.Clear();
    rules.Add().EnabledRules = true;
    rules.Add().RulesName = "two";
    FillRulesListView(list, rules);  // rebuilt, not added to
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_TRUE(RuleRowChecked(list, 0));
    EXPECT_FALSE(RuleRowChecked(list, 1));
    EXPECT_FALSE(RuleRowChecked(list, 2));  // no such row
    EXPECT_EQ(RowTexts(list, 1), (std::vector<QString>{"", "two", "", "0", "0"}));
}

class RulesEditForm : public ::testing::Test {
protected:
    void ShowAndFocus(QWidget* field) {
        Editor.show();
        Editor.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Editor));
        field->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }, 2000));
    }
    std::vector<QString> Filters;
    std::optional<QString> Chosen;
    TRulesEdit_F Editor{nullptr, [this](QWidget*, const QString&, const QString&, const QString& filters) {
                            Filters.push_back(filters);
                            return Chosen;
                        }};
};

TEST_F(RulesEditForm, WavPathLosesItsQuotesWhenLeftTheRunPathKeepsThem) {
    ShowAndFocus(Editor.edtWav);
    TypeIntoFocus("\"/tmp/my sound.wav\"");
    Editor.edtRun->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Editor.edtRun->hasFocus(); }, 2000));
    EXPECT_EQ(Editor.edtWav->text(), "/tmp/my sound.wav");

    TypeIntoFocus("\"/opt/run it\"");
    Editor.edtPopup->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Editor.edtPopup->hasFocus(); }, 2000));
    EXPECT_EQ(Editor.edtRun->text(), "\"/opt/run it\"");

    TRuleItem rule(nullptr);
    Editor.StoreToRule(rule);
    EXPECT_EQ(rule.WavAction, "/tmp/my sound.wav");
    EXPECT_EQ(rule.RunAction, "\"/opt/run it\"");
}

TEST_F(RulesEditForm, WavExitDropsTheLastCharacterWhateverItIs) {
    const std::vector<std::pair<QString, QString>> cases{
        {"\"/a.wav", "/a.wa"},       // no closing quote: the last character goes anyway
        {"\"", ""},                  // a lone quote
        {"/a \"b\".wav", "/a \"b\".wav"},  // quotes inside stay
        {QString::fromUtf8("\"/\xC3\xA4\xF0\x9F\x94\x94"), QString::fromUtf8("/\xC3\xA4")},  // a whole character, not half
    };
    for (const auto& [typed, kept] : cases) {
        Editor.edtWav->setText(typed);
        Editor.edtWavExit();
        EXPECT_EQ(Editor.edtWav->text(), kept) << typed.toStdString();
    }
}

TEST_F(RulesEditForm, BrowseButtonsFillTheirFieldUnlessCancelled) {
    Editor.edtRun->setText("/old/prog");
    Chosen = "/usr/bin/env";
    QTest::mouseClick(Editor.btnRun, Qt::LeftButton);
    EXPECT_EQ(Editor.edtRun->text(), "/usr/bin/env");
    Chosen = std::nullopt;
    QTest::mouseClick(Editor.btnRun, Qt::LeftButton);
    EXPECT_EQ(Editor.edtRun->text(), "/usr/bin/env");
    Chosen = "/tmp/x.wav";
    QTest::mouseClick(Editor.btnWav, Qt::LeftButton);
    EXPECT_EQ(Editor.edtWav->text(), "/tmp/x.wav");
    ASSERT_EQ(Filters.size(), 3u);
    EXPECT_TRUE(Filters[2].contains("*.wav"));
    EXPECT_EQ(Editor.result(), 0);  // no browse closes the editor
}

TEST_F(RulesEditForm, EveryControlFitsTheFixedClientArea) {
    Editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Editor));
    EXPECT_EQ(Editor.minimumSize(), Editor.maximumSize());  // not resizable
    const QRect client = Editor.rect();
    for (QWidget* control : std::vector<QWidget*>{
             Editor.chkIPFilter, Editor.edtIPFilter, Editor.edtLocalPort, Editor.edtRemotePort, Editor.edtRun,
             Editor.btnRun, Editor.edtWav, Editor.btnWav, Editor.chkKill, Editor.chkPopup, Editor.edtPopup,
             Editor.btnOK, Editor.btnCancel}) {
        const QRect area(control->mapTo(&Editor, QPoint(0, 0)), control->size());
        EXPECT_TRUE(client.contains(area)) << control->objectName().toStdString();
        EXPECT_GE(control->height(), control->minimumSizeHint().height()) << control->objectName().toStdString();
    }
}

TEST(IPAddressEdit, TypedAddressMovesOnAtDotsAndRefusesNumbersBeyond255) {
    TIPAddressEdit edit;
    edit.SetValue(0x0A000102);
    EXPECT_EQ(edit.Text(), "10.0.1.2");
    EXPECT_EQ(edit.Value(), 0x0A000102u);
    edit.SetValue(0);
    EXPECT_EQ(edit.Text(), "0.0.0.0");

    QWidget window;
    edit.setParent(&window);
    auto* after = new QLineEdit(&window);  // somewhere for the focus to go
    after->move(0, 40);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    edit.Octet(0)->setFocus();
    edit.Octet(0)->selectAll();
    TypeIntoFocus("192.168.1.300");  // the second 0 would make 300: not taken
    EXPECT_EQ(edit.Text(), "192.168.1.30");
    EXPECT_EQ(QApplication::focusWidget(), edit.Octet(3));

    // A number emptied and left reads as 0, not as what it was before.
    edit.Octet(1)->setFocus();
    edit.Octet(1)->selectAll();
    QTest::keyClick(edit.Octet(1), Qt::Key_Backspace);
    after->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return after->hasFocus(); }, 2000));
    EXPECT_EQ(edit.Octet(1)->text(), "0");
    EXPECT_EQ(edit.Value(), 0xC000011Eu);
    edit.setParent(nullptr);
}

TEST(IPAddressEdit, EitherFamilyRoundTripsAndTypingAnIp6AddressSwitchesToOneLine) {
    TIPAddressEdit edit;
    edit.SetText("2001:0DB8::0001");
    EXPECT_TRUE(edit.IsFreeText());
    EXPECT_EQ(edit.Text(), "2001:db8::1");
    edit.SetText("10.0.0.1");
    EXPECT_FALSE(edit.IsFreeText());
    EXPECT_EQ(edit.Value(), 0x0A000001u);
    EXPECT_EQ(edit.Text(), "10.0.0.1");

    QWidget window;
    edit.setParent(&window);
    auto* after = new QLineEdit(&window);
    after->move(0, 40);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    // A first group beyond 255 goes on in the line, with what was typed.
    edit.Octet(0)->setFocus();
    edit.Octet(0)->selectAll();
    TypeIntoFocus("2001:db8::5");
    EXPECT_TRUE(edit.IsFreeText());
    EXPECT_EQ(edit.Text(), "2001:db8::5");

    // Left holding a dotted address: the four numbers come back with it.
    edit.FreeText()->selectAll();
    TypeIntoFocus("192.168.001.002");
    after->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return after->hasFocus(); }, 2000));
    EXPECT_FALSE(edit.IsFreeText());
    EXPECT_EQ(edit.Value(), 0xC0A80102u);

    // A ':' in an untouched box starts the line afresh, not after its 0.
    edit.SetValue(0);
    edit.Octet(0)->setFocus();
    TypeIntoFocus("::1");
    EXPECT_EQ(edit.Text(), "::1");
    edit.setParent(nullptr);
}

TEST(InetAddress, DottedQuadsAndTheShortForms) {
    EXPECT_EQ(TInetAddress::FromIpv4Field(InetAddr("1.2.3.4")), TInetAddress::Ipv4(1, 2, 3, 4));
    EXPECT_EQ(InetAddr("0.0.0.0"), 0u);
    EXPECT_EQ(TInetAddress::FromIpv4Field(InetAddr("192.168.001.010")), TInetAddress::Ipv4(192, 168, 1, 8));  // a leading 0 means octal
    EXPECT_EQ(TInetAddress::FromIpv4Field(InetAddr("0x7F.0X0.0.0xa")), TInetAddress::Ipv4(127, 0, 0, 10));
    EXPECT_EQ(TInetAddress::FromIpv4Field(InetAddr("10.1")), TInetAddress::Ipv4(10, 0, 0, 1));
    EXPECT_EQ(TInetAddress::FromIpv4Field(InetAddr("127.65535")), TInetAddress::Ipv4(127, 0, 255, 255));
    EXPECT_EQ(TInetAddress::FromIpv4Field(InetAddr("1.2.772")), TInetAddress::Ipv4(1, 2, 3, 4));
    EXPECT_EQ(TInetAddress::FromIpv4Field(InetAddr("3232235777")), TInetAddress::Ipv4(192, 168, 1, 1));
    EXPECT_EQ(TInetAddress::FromIpv4Field(InetAddr("1.16777215")), TInetAddress::Ipv4(1, 255, 255, 255));
    EXPECT_EQ(TInetAddress::FromIpv4Field(InetAddr("1.2.3.4 and more")), TInetAddress::Ipv4(1, 2, 3, 4));
    EXPECT_EQ(TInetAddress::FromIpv4Field(InetAddr("1.2.3.4\n")), TInetAddress::Ipv4(1, 2, 3, 4));
    // The editor's field shows the first number in the top byte.
    EXPECT_EQ(SwapIPBytes(InetAddr("1.2.3.4")), 0x01020304u);
}

TEST(InetAddress, AnythingElseIsAllOnes) {
    EXPECT_EQ(InetAddr("255.255.255.255"), kInetAddrNone);  // the same value as no address
    for (const char* text : {"", "somewhere", " 1.2.3.4", "1.2.3.4x", "1.2.3.4.", "1..2.3", ".1.2.3",
                             "1.2.3.4.5", "256.1.1.1", "1.2.3.256", "1.2.65536", "1.16777216", "4294967296",
                             "99999999999999999999", "09.1.1.1", "0x.1.1.1", "0xg", "-1.2.3.4", "+1.2.3.4",
                             "1,2,3,4", "1.2.3.-4"}) {
        EXPECT_EQ(InetAddr(text), kInetAddrNone) << text;
    }
}

}  // namespace
}  // namespace tarnwick::testing
