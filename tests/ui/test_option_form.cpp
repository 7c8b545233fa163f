// The Options dialog on the offscreen platform, over a temporary executable
// folder: filling, OK with each of its failures, Cancel, pages, looks.
#include "ui/option_form.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/temp_folder.h"
#include "platform/autostart.h"
#include "rules/options_file.h"
#include "rules/rule_items.h"
#include "fakes/fake_platform.h"
#include "ui/message_boxes.h"
#include "ui/scripted_boxes.h"
#include "ui/rules_edit_form.h"

namespace tarnwick {
namespace {

using testing::TTempFolder;
using testing::TRecordingAutostart;
using testing::TScriptedBoxes;


constexpr const char* kExecutableName = "tarnwick";

class OptionForm : public ::testing::Test {
protected:
    void SetUp() override {
        TRuleItem& ssh = Rules.Add();
        ssh.RulesName = "ssh";
        ssh.EnabledRules = true;
        ssh.RemotePortFilter = 22;
        TRuleItem& web = Rules.Add();
        web.RulesName = "web";
        web.LocalPortFilter = 8080;
    }

    TOption_F& Create(const std::string& executableDir) {
        Form = std::make_unique<TOption_F>(
            nullptr, Rules, executableDir, executableDir + "/" + kExecutableName, Autostart, Boxes, Editor,
            [this](QWidget*, const std::string& proposed) -> std::optional<std::string> {
                AskedNames.push_back(proposed);
                return "added";
            },
            [this](TRulesEdit_F& editor) {
                EXPECT_EQ(&editor, &Editor);
                ++EditorRuns;
                return true;
            });
        return *Form;
    }
    TOption_F& Create() { return Create(Folder.Path()); }
    bool RowChecked(int row) { return Form->lsvRules->topLevelItem(row)->checkState(0) == Qt::Checked; }
    void SetRowChecked(int row, bool checked) {
        Form->lsvRules->topLevelItem(row)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    }
    // The names in the folder: the files written under their own spellings
    // left no second file beside them, also where names ignore case.
    std::set<std::string> FileNames() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Folder.Path()))
            names.insert(entry.path().filename().string());
        return names;
    }
    // The path of `name` in `folder` as the system joins the two.
    static std::string Joined(const std::string& folder, const std::string& name) {
        return (std::filesystem::path(folder) / name).string();
    }
    std::vector<QString> ShownTexts() const {
        std::vector<QString> texts;
        for (const auto& shown : Boxes.Shown) texts.push_back(shown);
        return texts;
    }

    TTempFolder Folder;
    TRuleItems Rules;
    TRecordingAutostart Autostart;
    TScriptedBoxes Boxes{true};
    TRulesEdit_F Editor;
    std::vector<std::string> AskedNames;
    int EditorRuns = 0;
    std::unique_ptr<TOption_F> Form;
};

TEST_F(OptionForm, FirstRunShowsDefaultsAndOkWritesEverything) {
    TOption_F& form = Create();
    form.show();
    EXPECT_TRUE(form.chkAutoRefresh->isChecked());
    EXPECT_EQ(form.edtRefreshTime->value(), 3);
    EXPECT_FALSE(form.chkTray->isChecked());
    EXPECT_FALSE(form.chkAutoStart->isChecked());
    EXPECT_TRUE(form.chkAutoSaveLog->isChecked());
    EXPECT_EQ(form.edtDataBuffer->value(), 200);
    ASSERT_EQ(form.lsvRules->topLevelItemCount(), 2);
    EXPECT_TRUE(RowChecked(0));
    EXPECT_FALSE(RowChecked(1));
    EXPECT_EQ(form.lsvRules->topLevelItem(1)->text(1), "web");

    form.BitBtn1->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(Boxes.Shown.empty());
    EXPECT_EQ(Folder.Read("Option.ini"),
              "[Option]\nAutoRefresh=1\nRefreshTime=3\nTray=0\nAutoStart=0\nAutoSaveLog=1\nDataBuffer=200\n");
    // The entry is cleared even though the box was never touched.
    EXPECT_EQ(Autostart.Calls, std::vector<std::string>{"disable tarnwick"});
    TRuleItems saved;
    saved.LoadFromFile(Folder.File("rules.dat"));
    ASSERT_EQ(saved.Count(), 2);
    EXPECT_TRUE(saved.Items(0).EnabledRules);
    EXPECT_EQ(saved.Items(1).LocalPortFilter, 8080);
}

TEST_F(OptionForm, EveryShowReadsTheFileAndOkWritesTheControlsBack) {
    // Existing files under other spellings are the ones used.
    Folder.Write("OPTION.INI",
                 "[Window]\nTop=5\n[Option]\nAutoRefresh=0\nRefreshTime=-5\nTray=1\nAutoStart=1\n"
                 "AutoSaveLog=0\nDataBuffer=50\n");
    Folder.Write("Rules.dat", "[ALL]\nCount=0\n");
    TOption_F& form = Create();
    form.show();
    EXPECT_FALSE(form.chkAutoRefresh->isChecked());
    EXPECT_EQ(form.edtRefreshTime->value(), -5);
    EXPECT_TRUE(form.chkTray->isChecked());
    EXPECT_TRUE(form.chkAutoStart->isChecked());
    EXPECT_FALSE(form.chkAutoSaveLog->isChecked());
    EXPECT_EQ(form.edtDataBuffer->value(), 100);  // the field's lowest

    form.edtRefreshTime->setValue(10);
    form.BitBtn1->click();
    EXPECT_EQ(Folder.Read("OPTION.INI"),
              "[Window]\nTop=5\n[Option]\nAutoRefresh=0\nRefreshTime=10\nTray=1\nAutoStart=1\n"
              "AutoSaveLog=0\nDataBuffer=100\n");
    EXPECT_EQ(Autostart.Calls, std::vector<std::string>{"enable tarnwick " + Folder.File("tarnwick")});
    TRuleItems saved;
    saved.LoadFromFile(Folder.File("Rules.dat"));
    EXPECT_EQ(saved.Count(), 2);
    EXPECT_EQ(FileNames(), (std::set<std::string>{"OPTION.INI", "Rules.dat"}));

    // Changed behind the dialog's back: the next show has it.
    Folder.Write("OPTION.INI", "[Option]\nRefreshTime=7\nDataBuffer=5000\n");
    form.chkTray->setChecked(false);
    form.show();
    EXPECT_EQ(form.edtRefreshTime->value(), 7);
    EXPECT_EQ(form.edtDataBuffer->value(), 1000);
    EXPECT_TRUE(form.chkAutoRefresh->isChecked());
    EXPECT_FALSE(form.chkTray->isChecked());
}

TEST_F(OptionForm, RuleCheckBoxesCountOnlyAtOk) {
    TOption_F& form = Create();
    form.show();
    SetRowChecked(0, false);
    SetRowChecked(1, true);
    EXPECT_TRUE(Rules.Items(0).EnabledRules);  // not yet
    form.BitBtn2->click();
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_TRUE(Rules.Items(0).EnabledRules);
    EXPECT_FALSE(Rules.Items(1).EnabledRules);
    // Cancel writes nothing and leaves the start-up entry alone.
    EXPECT_TRUE(std::filesystem::is_empty(Folder.Path()));
    EXPECT_TRUE(Autostart.Calls.empty());

    form.show();  // the list is rebuilt from the rules
    EXPECT_TRUE(RowChecked(0));
    SetRowChecked(0, false);
    SetRowChecked(1, true);
    form.BitBtn1->click();
    EXPECT_FALSE(Rules.Items(0).EnabledRules);
    EXPECT_TRUE(Rules.Items(1).EnabledRules);
    TRuleItems saved;
    saved.LoadFromFile(Folder.File("rules.dat"));
    ASSERT_EQ(saved.Count(), 2);
    EXPECT_FALSE(saved.Items(0).EnabledRules);
    EXPECT_TRUE(saved.Items(1).EnabledRules);
}

TEST_F(OptionForm, AFailedStepIsShownAndEndsOkWhichStillCloses) {
    // Option.ini cannot be written: nothing after it happens.
    const std::string missing = Folder.File("not-there");
    {
        TOption_F& form = Create(missing);
        form.show();
        SetRowChecked(0, false);
        form.BitBtn1->click();
        EXPECT_EQ(form.result(), QDialog::Accepted);
        ASSERT_EQ(Boxes.Shown.size(), 1u);
        EXPECT_EQ(Boxes.Shown[0], QString::fromStdString("Unable to write to " + Joined(missing, "Option.ini")));
        EXPECT_EQ(Boxes.ShownCaptions[0], "Tarnwick 1.01");
        EXPECT_TRUE(Autostart.Calls.empty());
        EXPECT_TRUE(Rules.Items(0).EnabledRules);
    }
    // The start-up entry is refused: the rules are neither switched nor saved.
    Boxes.Shown.clear();
    Autostart.Refusal = TFailure{EACCES, "Failed to set data for 'tarnwick'"};
    {
        TOption_F& form = Create();
        form.show();
        form.chkAutoStart->setChecked(true);
        SetRowChecked(0, false);
        form.BitBtn1->click();
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_EQ(ShownTexts(), std::vector<QString>{"Failed to set data for 'tarnwick': Permission denied"});
        EXPECT_TRUE(LoadOptionsFile(Folder.File("Option.ini")).AutoStart);
        EXPECT_TRUE(Rules.Items(0).EnabledRules);
        EXPECT_FALSE(std::filesystem::exists(Folder.File("rules.dat")));
    }
    // rules.dat cannot be replaced: everything before it has happened.
    Boxes.Shown.clear();
    Autostart.Refusal.reset();
    Autostart.Calls.clear();
    std::filesystem::create_directories(Folder.File("rules.dat/x"));
    {
        TOption_F& form = Create();
        form.show();
        SetRowChecked(0, false);
        form.BitBtn1->click();
        EXPECT_EQ(ShownTexts(),
                  std::vector<QString>{QString::fromStdString("Unable to write to " + Joined(Folder.Path(), "rules.dat"))});
        EXPECT_EQ(Autostart.Calls.size(), 1u);
        EXPECT_FALSE(Rules.Items(0).EnabledRules);
    }
}

TEST_F(OptionForm, TabsSwitchPagesAndThePageIsKeptBetweenShows) {
    TOption_F& form = Create();
    form.show();
    EXPECT_EQ(form.Notebook1->currentIndex(), 0);
    EXPECT_EQ(form.TabSet1->count(), 2);
    EXPECT_EQ(form.TabSet1->tabText(1), "Rules");
    QTest::mouseClick(form.TabSet1, Qt::LeftButton, {}, form.TabSet1->tabRect(1).center());
    EXPECT_EQ(form.Notebook1->currentIndex(), 1);
    EXPECT_TRUE(form.lsvRules->isVisible());
    form.reject();
    form.show();
    EXPECT_EQ(form.TabSet1->currentIndex(), 1);
    EXPECT_EQ(form.Notebook1->currentIndex(), 1);
    form.TabSet1->setCurrentIndex(0);
    EXPECT_TRUE(form.chkAutoRefresh->isVisible());
}

TEST_F(OptionForm, RuleButtonsAndDoubleClickRunTheRuleCommands) {
    TOption_F& form = Create();
    form.show();
    form.TabSet1->setCurrentIndex(1);
    form.btnAdd->click();
    EXPECT_EQ(AskedNames.size(), 1u);
    EXPECT_EQ(Rules.Count(), 3);
    EXPECT_EQ(form.lsvRules->topLevelItemCount(), 3);

    const int runs = EditorRuns;
    QTreeWidgetItem* row = form.lsvRules->topLevelItem(1);
    form.lsvRules->setCurrentItem(row);
    const QPoint inRow = form.lsvRules->visualItemRect(row).center();
    // A real double click starts with a press of its own; QTest's sends only the second half.
    QTest::mouseClick(form.lsvRules->viewport(), Qt::LeftButton, {}, inRow);
    QTest::mouseDClick(form.lsvRules->viewport(), Qt::LeftButton, {}, inRow);
    EXPECT_EQ(EditorRuns, runs + 1);
    EXPECT_EQ(Editor.windowTitle(), "web");

    form.lsvRules->setCurrentItem(form.lsvRules->topLevelItem(0));
    form.btnRemove->click();
    EXPECT_EQ(Rules.Count(), form.lsvRules->topLevelItemCount());
    EXPECT_EQ(Rules.Count(), 2);
    EXPECT_EQ(Rules.Items(0).RulesName, "web");
}

QColor PixelAt(QWidget* widget, QPoint point) {
    return widget->grab().toImage().pixelColor(point * widget->devicePixelRatioF());
}

TEST_F(OptionForm, OpensCentredWithTheSelectedTabJoinedToItsPage) {
    TOption_F& form = Create();
    form.show();
    EXPECT_EQ(form.windowTitle(), "Options");
    EXPECT_EQ(form.minimumSize(), form.maximumSize());  // not resizable
    const QRect screen = form.screen()->availableGeometry();
    EXPECT_LE((form.frameGeometry().center() - screen.center()).manhattanLength(), 2);

    const QRect strip = form.TabStrip->geometry();
    EXPECT_GT(strip.top(), form.Notebook1->geometry().bottom());  // under the pages
    EXPECT_LT(strip.bottom(), form.BitBtn1->geometry().top());    // above the buttons
    // The selected tab is drawn in the colour of the window (and its page),
    // the other one apart from it.
    const QColor window = PixelAt(&form, QPoint(2, 2));
    const auto tabColour = [&](int tab) {
        const QRect rect = form.TabSet1->tabRect(tab);
        return PixelAt(form.TabSet1, QPoint(rect.left() + 3, rect.center().y()));
    };
    EXPECT_EQ(tabColour(0), window);
    EXPECT_NE(tabColour(1), window);
    form.TabSet1->setCurrentIndex(1);
    EXPECT_NE(tabColour(0), window);
    EXPECT_EQ(tabColour(1), window);

    EXPECT_EQ(form.chkAutoStart->text(), "Run Tarnwick at Windows Startup");
    EXPECT_EQ(form.BitBtn1->text(), "&OK");
}

}  // namespace
}  // namespace tarnwick
