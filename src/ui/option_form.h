// TOption_F: the modal Options dialog. The "General" page edits Option.ini;
// the "Rules" page switches rules on and off and adds, edits and removes them.
// OK writes the settings, sets or clears the start-up entry and saves the
// rules; Cancel does nothing of its own (the main window reloads the rules).
// The dialog is made once and reused, so it opens on the page it was left on.
#pragma once

#include <QDialog>

#include <memory>
#include <string>

#include "common/result.h"
#include "rules/options_file.h"
#include "ui/rule_commands.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTabBar;
class QTreeWidget;
class QWidget;

namespace tarnwick {

class TAutostart;
class TMessageBoxes;
class TRuleItems;
class TRulesEdit_F;

class TOption_F final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 424;
    static constexpr int kClientHeight = 283;

    // `settingsDir` holds Option.ini and rules.dat; `executablePath` is what
    // the start-up entry starts, and its file name names the entry. The rule
    // commands use `rulesEdit`, `boxes` and the two runners.
    TOption_F(QWidget* parent, TRuleItems& rules, std::string settingsDir, std::string executablePath,
              TAutostart& autostart, TMessageBoxes& boxes, TRulesEdit_F& rulesEdit,
              TRuleCommands::TAskName askName = AskRuleName, TRuleCommands::TRunEditor runEditor = RunRulesEditor);
    ~TOption_F() override;

    // Fills the controls from Option.ini and the rules list from the rule
    // list; runs each time the dialog is shown.
    void FormShow();
    // OK: writes Option.ini, sets or clears the start-up entry, takes the
    // rules' switches from the list's check boxes and saves rules.dat, in
    // that order. The first failure is shown in a message box and ends the
    // sequence. The dialog then closes with Accepted either way.
    void BitBtn1Click();
    // Shows the page at the tab's position.
    void TabSet1Change(int index);

    // The settings as the controls hold them.
    TOptions ControlOptions() const;
    TRuleCommands& Commands() { return *Commands_; }

    // "General" page.
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* chkAutoRefresh = nullptr;
    QSpinBox* edtRefreshTime = nullptr;
    QLabel* lblSeconds = nullptr;
    QCheckBox* chkTray = nullptr;
    QCheckBox* chkAutoStart = nullptr;
    QCheckBox* chkAutoSaveLog = nullptr;
    QLabel* lblDataBuffer = nullptr;
    QSpinBox* edtDataBuffer = nullptr;
    // "Rules" page.
    QTreeWidget* lsvRules = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnEdit = nullptr;
    QPushButton* btnRemove = nullptr;
    // The pages, the tab strip under them, and the buttons.
    QStackedWidget* Notebook1 = nullptr;
    QWidget* TabStrip = nullptr;
    QTabBar* TabSet1 = nullptr;
    QPushButton* BitBtn1 = nullptr;  // "&OK"
    QPushButton* BitBtn2 = nullptr;  // "Cancel"

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* CreateGeneralPage();
    QWidget* CreateRulesPage();
    // The steps of OK, up to the first that fails.
    TStatus SaveAll();

    TRuleItems& Rules_;
    std::string SettingsDir_;
    std::string ExecutablePath_;
    TAutostart& Autostart_;
    TMessageBoxes& Boxes_;
    std::unique_ptr<TRuleCommands> Commands_;
};

}  // namespace tarnwick
