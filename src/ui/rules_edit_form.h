// TRulesEdit_F: the rule editor. One modal dialog with the conditions and
// the actions of a rule; the Add and Edit commands set its caption, fill it,
// show it and take the values back on OK. It checks nothing: any condition
// or action can be switched on with any value, an empty path too.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace tarnwick {

class TIPAddressEdit;
class TRuleItem;

class TRulesEdit_F final : public QDialog {
    Q_OBJECT
public:
    // The file picker of the two browse buttons: the chosen path, or nullopt
    // when the user cancels. `current` is the field's text, `filters` the
    // file types in QFileDialog's form.
    using TChooseFile = std::function<std::optional<QString>(QWidget* parent, const QString& caption,
                                                             const QString& current, const QString& filters)>;

    static constexpr int kClientWidth = 339;
    static constexpr int kClientHeight = 340;
    static constexpr int kMinPort = 1;
    static constexpr int kMaxPort = 65534;

    // The browse buttons open a QFileDialog unless `chooseFile` is given.
    explicit TRulesEdit_F(QWidget* parent = nullptr, TChooseFile chooseFile = nullptr);

    // Every check box off, the address 0.0.0.0, both ports at their lowest
    // (1), the three texts empty.
    void ResetControls();
    // The controls from a rule's seven switches, address, ports and texts. An
    // IPv6 address shows in RFC 5952 form; any other address goes through
    // InetAddr: text that is not an address shows as 255.255.255.255. A port
    // outside 1..65534 shows as the nearest limit.
    void LoadFromRule(const TRuleItem& rule);
    // The seven switches, IPFilter (the address field's Text: dotted, or an
    // IPv6 address in RFC 5952 form), both ports and the three texts from the
    // controls. RulesName and EnabledRules
    // are the commands' business and stay as they are.
    void StoreToRule(TRuleItem& rule) const;

    // The WAV field has lost the focus: a text that begins with a double
    // quotation mark loses its first and last characters, so a quoted path
    // pasted from elsewhere names the file.
    void edtWavExit();

    QGroupBox* grpConditions = nullptr;
    QCheckBox* chkIPFilter = nullptr;
    TIPAddressEdit* edtIPFilter = nullptr;
    QCheckBox* chkLocalPort = nullptr;
    QSpinBox* edtLocalPort = nullptr;
    QCheckBox* chkRemotePort = nullptr;
    QSpinBox* edtRemotePort = nullptr;

    QGroupBox* grpActions = nullptr;
    QCheckBox* chkRun = nullptr;
    QLineEdit* edtRun = nullptr;
    QPushButton* btnRun = nullptr;  // browse for the program
    QCheckBox* chkWav = nullptr;
    QLineEdit* edtWav = nullptr;
    QPushButton* btnWav = nullptr;  // browse for the WAV file
    QCheckBox* chkKill = nullptr;
    QCheckBox* chkPopup = nullptr;
    QLineEdit* edtPopup = nullptr;

    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    QSpinBox* CreatePortField(QWidget* parent);
    void btnRunClick();
    void btnWavClick();

    TChooseFile ChooseFile_;
};

}  // namespace tarnwick
