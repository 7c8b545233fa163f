#include "ui/option_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <limits>
#include <stdexcept>

#include "common/kept_texts.h"
#include "platform/autostart.h"
#include "rules/rule_items.h"
#include "ui/app_title.h"
#include "ui/form_style.h"
#include "ui/message_boxes.h"
#include "ui/rules_list_view.h"

namespace tarnwick {

namespace {

const QColor kTabStripColor(0x91, 0xB5, 0xD0);

// The selected tab takes the dialog's colour, so it reads as part of the page above it.
const QString kTabSheet = QStringLiteral(
    "QTabBar { background: #91B5D0; }"
    "QTabBar::tab { background: #2C4E67; color: white; padding: 2px 12px; margin-right: 1px; }"
    "QTabBar::tab:selected { background: #4B7D9E; }");

void SetColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

QPushButton* Button(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

}  // namespace

TOption_F::TOption_F(QWidget* parent, TRuleItems& rules, std::string settingsDir, std::string executablePath,
                     TAutostart& autostart, TMessageBoxes& boxes, TRulesEdit_F& rulesEdit,
                     TRuleCommands::TAskName askName, TRuleCommands::TRunEditor runEditor)
    : QDialog(parent),
      Rules_(rules),
      SettingsDir_(std::move(settingsDir)),
      ExecutablePath_(std::move(executablePath)),
      Autostart_(autostart),
      Boxes_(boxes) {
    setObjectName(QStringLiteral("Option_F"));
    setWindowTitle(QStringLiteral("Options"));
    setFont(FormFont());
    ApplyFormColour(*this);

    Notebook1 = new QStackedWidget(this);
    Notebook1->setObjectName(QStringLiteral("Notebook1"));
    Notebook1->addWidget(CreateGeneralPage());
    Notebook1->addWidget(CreateRulesPage());

    TabStrip = new QWidget(this);
    TabStrip->setObjectName(QStringLiteral("TabStrip"));
    SetColor(TabStrip, QPalette::Window, kTabStripColor);
    TabStrip->setAutoFillBackground(true);
    TabSet1 = new QTabBar(TabStrip);
    TabSet1->setObjectName(QStringLiteral("TabSet1"));
    TabSet1->setShape(QTabBar::RoundedSouth);
    TabSet1->setDrawBase(false);
    TabSet1->setExpanding(false);
    TabSet1->setStyleSheet(kTabSheet);
    TabSet1->addTab(QStringLiteral("General"));
    TabSet1->addTab(QStringLiteral("Rules"));
    auto* stripLayout = new QHBoxLayout(TabStrip);
    stripLayout->setContentsMargins(4, 0, 4, 0);
    stripLayout->addWidget(TabSet1);
    stripLayout->addStretch();
    connect(TabSet1, &QTabBar::currentChanged, this, [this](int index) { TabSet1Change(index); });

    BitBtn1 = Button(QStringLiteral("&OK"), "BitBtn1", this);
    BitBtn1->setDefault(true);
    BitBtn2 = Button(QStringLiteral("Cancel"), "BitBtn2", this);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(8, 0, 8, 8);
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(Notebook1, 1);
    layout->addWidget(TabStrip);
    layout->addLayout(buttons);
    setFixedSize(kClientWidth, kClientHeight);

    Commands_ = std::make_unique<TRuleCommands>(Rules_, lsvRules, rulesEdit, Boxes_, std::move(askName),
                                                std::move(runEditor));
    connect(btnAdd, &QPushButton::clicked, this, [this] { Commands_->btnAddClick(); });
    connect(btnEdit, &QPushButton::clicked, this, [this] { Commands_->btnEditClick(); });
    connect(btnRemove, &QPushButton::clicked, this, [this] { Commands_->btnRemoveClick(); });
    connect(lsvRules, &QTreeWidget::itemDoubleClicked, this, [this] { Commands_->btnEditClick(); });
}

TOption_F::~TOption_F() = default;

QWidget* TOption_F::CreateGeneralPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PageGeneral"));
    GroupBox1 = new QGroupBox(QStringLiteral("General"), page);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    // White captions on the blue page; the fields keep their own colours.
    SetColor(GroupBox1, QPalette::WindowText, Qt::white);

    chkAutoRefresh = new QCheckBox(QStringLiteral("Automatically Refresh Connection List every "), GroupBox1);
    chkAutoRefresh->setObjectName(QStringLiteral("chkAutoRefresh"));
    edtRefreshTime = new QSpinBox(GroupBox1);
    edtRefreshTime->setObjectName(QStringLiteral("edtRefreshTime"));
    // Not limited: any value the file can hold can be typed.
    edtRefreshTime->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    edtRefreshTime->setFixedWidth(64);
    lblSeconds = new QLabel(QStringLiteral("Seconds"), GroupBox1);
    lblSeconds->setObjectName(QStringLiteral("lblSeconds"));
    chkTray = new QCheckBox(QStringLiteral("Start In System Tray"), GroupBox1);
    chkTray->setObjectName(QStringLiteral("chkTray"));
    chkAutoStart = new QCheckBox(QString::fromLatin1(kAutoStartOption), GroupBox1);
    chkAutoStart->setObjectName(QStringLiteral("chkAutoStart"));
    chkAutoSaveLog = new QCheckBox(QStringLiteral("Auto Save the Logs"), GroupBox1);
    chkAutoSaveLog->setObjectName(QStringLiteral("chkAutoSaveLog"));
    lblDataBuffer = new QLabel(QStringLiteral("Data Capture Buffer Counter"), GroupBox1);
    lblDataBuffer->setObjectName(QStringLiteral("lblDataBuffer"));
    edtDataBuffer = new QSpinBox(GroupBox1);
    edtDataBuffer->setObjectName(QStringLiteral("edtDataBuffer"));
    edtDataBuffer->setRange(100, 1000);  // a value outside is set to the nearest limit
    edtDataBuffer->setFixedWidth(64);
    lblDataBuffer->setBuddy(edtDataBuffer);

    auto* refreshRow = new QHBoxLayout;
    refreshRow->setSpacing(2);
    refreshRow->addWidget(chkAutoRefresh);
    refreshRow->addWidget(edtRefreshTime);
    refreshRow->addSpacing(4);
    refreshRow->addWidget(lblSeconds);
    refreshRow->addStretch();
    auto* bufferRow = new QHBoxLayout;
    bufferRow->addWidget(lblDataBuffer);
    bufferRow->addWidget(edtDataBuffer);
    bufferRow->addStretch();

    auto* group = new QVBoxLayout(GroupBox1);
    group->setSpacing(8);
    group->addLayout(refreshRow);
    group->addWidget(chkTray);
    group->addWidget(chkAutoStart);
    group->addWidget(chkAutoSaveLog);
    group->addLayout(bufferRow);
    group->addStretch();

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->addWidget(GroupBox1);
    return page;
}

QWidget* TOption_F::CreateRulesPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PageRules"));
    lsvRules = CreateRulesListView(page);
    lsvRules->setObjectName(QStringLiteral("lsvRules"));
    btnAdd = Button(QStringLiteral("&Add"), "btnAdd", page);
    btnEdit = Button(QStringLiteral("&Edit"), "btnEdit", page);
    btnRemove = Button(QStringLiteral("&Remove"), "btnRemove", page);
    // Enter in the list must not confirm the dialog through a rule button.
    for (QPushButton* button : {btnAdd, btnEdit, btnRemove}) button->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnAdd);
    buttons->addWidget(btnEdit);
    buttons->addWidget(btnRemove);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->addWidget(lsvRules, 1);
    layout->addLayout(buttons);
    return page;
}

void TOption_F::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        // Centred on its screen each time it opens, like the dialog it is.
        CentreOnScreen(*this, screen());
        FormShow();
    }
    QDialog::showEvent(event);
}

void TOption_F::FormShow() {
    const TOptions options = LoadOptionsFile(OptionsFilePath(SettingsDir_));
    chkAutoRefresh->setChecked(options.AutoRefresh);
    edtRefreshTime->setValue(options.RefreshTime);
    chkTray->setChecked(options.Tray);
    chkAutoStart->setChecked(options.AutoStart);
    chkAutoSaveLog->setChecked(options.AutoSaveLog);
    edtDataBuffer->setValue(options.DataBuffer);
    FillRulesListView(lsvRules, Rules_);
}

TOptions TOption_F::ControlOptions() const {
    TOptions options;
    options.AutoRefresh = chkAutoRefresh->isChecked();
    options.RefreshTime = edtRefreshTime->value();
    options.Tray = chkTray->isChecked();
    options.AutoStart = chkAutoStart->isChecked();
    options.AutoSaveLog = chkAutoSaveLog->isChecked();
    options.DataBuffer = edtDataBuffer->value();
    return options;
}

void TOption_F::TabSet1Change(int index) {
    if (index >= 0 && index < Notebook1->count()) Notebook1->setCurrentIndex(index);
}

TStatus TOption_F::SaveAll() {
    try {
        SaveOptionsFile(OptionsFilePath(SettingsDir_), ControlOptions());

        // Set or cleared every time, so the entry follows the box even when
        // someone else changed it since.
        const std::string entryName = std::filesystem::path(ExecutablePath_).filename().string();
        if (chkAutoStart->isChecked()) {
            if (TStatus enabled = Autostart_.Enable(entryName, ExecutablePath_); !enabled) return enabled;
        } else {
            Autostart_.Disable(entryName);
        }

        // Row i stands for rule i; the rule commands keep it so.
        const int rows = std::min(lsvRules->topLevelItemCount(), Rules_.Count());
        for (int i = 0; i < rows; ++i) Rules_.Items(i).EnabledRules = RuleRowChecked(lsvRules, i);

        Rules_.SaveToFile(RulesFilePath(SettingsDir_));
    } catch (const std::exception& error) {
        return TFailure{0, error.what()};
    }
    return {};
}

void TOption_F::BitBtn1Click() {
    if (const TStatus saved = SaveAll(); !saved)
        Boxes_.Show(this, QString::fromStdString(saved.Failure().Text()), kApplicationTitle, QMessageBox::Critical);
    accept();
}

}  // namespace tarnwick
