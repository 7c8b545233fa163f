#include "ui/rules_edit_form.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "common/inet_address.h"
#include "common/text_util.h"
#include "rules/rule_items.h"
#include "ui/form_style.h"
#include "ui/ip_address_edit.h"

namespace tarnwick {

namespace {

// Programs here carry no extension, so the first choice lists every file.
// A script is started directly, without a shell: it needs its "#!" line and
// the execute permission like any other program.
const QString kProgramFilters = QStringLiteral("Programs and scripts (*);;Shell scripts (*.sh)");
const QString kWavFilters = QStringLiteral("WAV Files (*.wav *.WAV)");

std::optional<QString> ChooseWithFileDialog(QWidget* parent, const QString& caption, const QString& current,
                                            const QString& filters) {
    const QString folder = current.isEmpty() ? QString() : QFileInfo(current).absolutePath();
    const QString chosen = QFileDialog::getOpenFileName(parent, caption, folder, filters);
    if (chosen.isEmpty()) return std::nullopt;
    return chosen;
}

// `text` less its first and last characters; a last character outside the
// Basic Multilingual Plane goes as a whole, never half of it.
QString WithoutEnclosingCharacters(const QString& text) {
    if (text.size() < 2) return QString();
    qsizetype length = text.size() - 2;
    if (length > 0 && text.at(text.size() - 1).isLowSurrogate() && text.at(text.size() - 2).isHighSurrogate())
        --length;
    return text.mid(1, length);
}

}  // namespace

TRulesEdit_F::TRulesEdit_F(QWidget* parent, TChooseFile chooseFile)
    : QDialog(parent), ChooseFile_(chooseFile ? std::move(chooseFile) : TChooseFile(ChooseWithFileDialog)) {
    FormCreate();
    ResetControls();
}

QSpinBox* TRulesEdit_F::CreatePortField(QWidget* parent) {
    auto* field = new QSpinBox(parent);
    field->setRange(kMinPort, kMaxPort);
    // A typed port beyond the range becomes the nearest limit when the field is left.
    field->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    field->setFixedWidth(80);
    // The arrows are drawn in the window text colour, white on this form.
    QPalette colours = field->palette();
    colours.setColor(QPalette::WindowText, Qt::black);
    field->setPalette(colours);
    return field;
}

void TRulesEdit_F::FormCreate() {
    setObjectName(QStringLiteral("RulesEdit_F"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(kClientWidth, kClientHeight);

    setFont(FormFont());
    ApplyFormColour(*this);
    // White text on the blue form; entry fields keep black text on white.
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Qt::white);
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::Text, Qt::black);
    colours.setColor(QPalette::ButtonText, Qt::black);
    setPalette(colours);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 8);
    layout->setSpacing(6);

    grpConditions = new QGroupBox(QStringLiteral("Conditions"), this);
    grpConditions->setObjectName(QStringLiteral("grpConditions"));
    auto* conditions = new QGridLayout(grpConditions);
    conditions->setContentsMargins(8, 4, 8, 6);
    conditions->setVerticalSpacing(3);
    chkIPFilter = new QCheckBox(QStringLiteral("IP Address Must Contain "), grpConditions);
    chkIPFilter->setObjectName(QStringLiteral("chkIPFilter"));
    edtIPFilter = new TIPAddressEdit(grpConditions);
    edtIPFilter->setObjectName(QStringLiteral("edtIPFilter"));
    chkLocalPort = new QCheckBox(QStringLiteral("Local Port must be"), grpConditions);
    chkLocalPort->setObjectName(QStringLiteral("chkLocalPort"));
    edtLocalPort = CreatePortField(grpConditions);
    edtLocalPort->setObjectName(QStringLiteral("edtLocalPort"));
    chkRemotePort = new QCheckBox(QStringLiteral("Remote Port must be"), grpConditions);
    chkRemotePort->setObjectName(QStringLiteral("chkRemotePort"));
    edtRemotePort = CreatePortField(grpConditions);
    edtRemotePort->setObjectName(QStringLiteral("edtRemotePort"));
    conditions->addWidget(chkIPFilter, 0, 0);
    conditions->addWidget(edtIPFilter, 0, 1, Qt::AlignLeft);
    conditions->addWidget(chkLocalPort, 1, 0);
    conditions->addWidget(edtLocalPort, 1, 1, Qt::AlignLeft);
    conditions->addWidget(chkRemotePort, 2, 0);
    conditions->addWidget(edtRemotePort, 2, 1, Qt::AlignLeft);
    conditions->setColumnStretch(1, 1);
    layout->addWidget(grpConditions);

    grpActions = new QGroupBox(QStringLiteral("Actions"), this);
    grpActions->setObjectName(QStringLiteral("grpActions"));
    auto* actions = new QGridLayout(grpActions);
    actions->setContentsMargins(8, 4, 8, 6);
    actions->setVerticalSpacing(3);
    actions->setHorizontalSpacing(4);
    chkRun = new QCheckBox(QStringLiteral("Run &Progrom"), grpActions);
    chkRun->setObjectName(QStringLiteral("chkRun"));
    edtRun = new QLineEdit(grpActions);
    edtRun->setObjectName(QStringLiteral("edtRun"));
    btnRun = new QPushButton(QStringLiteral("..."), grpActions);
    btnRun->setObjectName(QStringLiteral("btnRun"));
    chkWav = new QCheckBox(QStringLiteral("Play &WAV Files"), grpActions);
    chkWav->setObjectName(QStringLiteral("chkWav"));
    edtWav = new QLineEdit(grpActions);
    edtWav->setObjectName(QStringLiteral("edtWav"));
    edtWav->installEventFilter(this);
    btnWav = new QPushButton(QStringLiteral("..."), grpActions);
    btnWav->setObjectName(QStringLiteral("btnWav"));
    chkKill = new QCheckBox(QStringLiteral("Attempt to Kill Connection"), grpActions);
    chkKill->setObjectName(QStringLiteral("chkKill"));
    chkPopup = new QCheckBox(QStringLiteral("Pop up Alert Window with Messages"), grpActions);
    chkPopup->setObjectName(QStringLiteral("chkPopup"));
    edtPopup = new QLineEdit(grpActions);
    edtPopup->setObjectName(QStringLiteral("edtPopup"));
    for (QPushButton* browse : {btnRun, btnWav}) {
        browse->setAutoDefault(false);
        browse->setFixedWidth(26);
    }
    // Each path beside its check box: seven rows would not fit the fixed height.
    actions->addWidget(chkRun, 0, 0);
    actions->addWidget(edtRun, 0, 1);
    actions->addWidget(btnRun, 0, 2);
    actions->addWidget(chkWav, 1, 0);
    actions->addWidget(edtWav, 1, 1);
    actions->addWidget(btnWav, 1, 2);
    actions->addWidget(chkKill, 2, 0, 1, 3);
    actions->addWidget(chkPopup, 3, 0, 1, 3);
    actions->addWidget(edtPopup, 4, 0, 1, 3);
    actions->setColumnStretch(1, 1);
    layout->addWidget(grpActions);
    layout->addStretch(1);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    btnOK = new QPushButton(QStringLiteral("&OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);

    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnRun, &QPushButton::clicked, this, &TRulesEdit_F::btnRunClick);
    connect(btnWav, &QPushButton::clicked, this, &TRulesEdit_F::btnWavClick);
}

void TRulesEdit_F::ResetControls() {
    for (QCheckBox* box : {chkIPFilter, chkLocalPort, chkRemotePort, chkRun, chkWav, chkKill, chkPopup})
        box->setChecked(false);
    edtIPFilter->SetValue(0);
    edtLocalPort->setValue(0);  // shows the lowest port, 1
    edtRemotePort->setValue(0);
    edtRun->clear();
    edtWav->clear();
    edtPopup->clear();
}

void TRulesEdit_F::LoadFromRule(const TRuleItem& rule) {
    chkIPFilter->setChecked(rule.EnIPFilter);
    chkLocalPort->setChecked(rule.EnLocalPortFilter);
    chkRemotePort->setChecked(rule.EnRemotePortFilter);
    chkRun->setChecked(rule.EnRunAction);
    chkWav->setChecked(rule.EnWavAction);
    chkKill->setChecked(rule.EnKillAction);
    chkPopup->setChecked(rule.EnPopupAction);
    if (const auto address = ParseIp6(rule.IPFilter))
        edtIPFilter->SetText(QString::fromStdString(Ip6Text(*address)));
    else
        edtIPFilter->SetValue(SwapIPBytes(InetAddr(rule.IPFilter)));
    edtLocalPort->setValue(rule.LocalPortFilter);
    edtRemotePort->setValue(rule.RemotePortFilter);
    edtRun->setText(QString::fromStdString(rule.RunAction));
    edtWav->setText(QString::fromStdString(rule.WavAction));
    edtPopup->setText(QString::fromStdString(rule.PopupMsg));
}

void TRulesEdit_F::StoreToRule(TRuleItem& rule) const {
    rule.EnIPFilter = chkIPFilter->isChecked();
    rule.EnLocalPortFilter = chkLocalPort->isChecked();
    rule.EnRemotePortFilter = chkRemotePort->isChecked();
    rule.EnRunAction = chkRun->isChecked();
    rule.EnWavAction = chkWav->isChecked();
    rule.EnKillAction = chkKill->isChecked();
    rule.EnPopupAction = chkPopup->isChecked();
    rule.IPFilter = edtIPFilter->Text().toStdString();
    rule.LocalPortFilter = edtLocalPort->value();
    rule.RemotePortFilter = edtRemotePort->value();
    rule.RunAction = edtRun->text().toStdString();
    rule.WavAction = edtWav->text().toStdString();
    rule.PopupMsg = edtPopup->text().toStdString();
}

void TRulesEdit_F::edtWavExit() {
    const QString text = edtWav->text();
    if (text.startsWith(QLatin1Char('"'))) edtWav->setText(WithoutEnclosingCharacters(text));
}

void TRulesEdit_F::btnRunClick() {
    if (auto chosen = ChooseFile_(this, QStringLiteral("Choose the program to run"), edtRun->text(), kProgramFilters))
        edtRun->setText(*chosen);
}

void TRulesEdit_F::btnWavClick() {
    if (auto chosen = ChooseFile_(this, QStringLiteral("Choose the WAV file to play"), edtWav->text(), kWavFilters))
        edtWav->setText(*chosen);
}

void TRulesEdit_F::showEvent(QShowEvent* event) {
    // Centred on the screen each time it opens, not over its owner.
    CentreOnScreen(*this);
    QDialog::showEvent(event);
}

bool TRulesEdit_F::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtWav && event->type() == QEvent::FocusOut) edtWavExit();
    return QDialog::eventFilter(watched, event);
}

}  // namespace tarnwick
