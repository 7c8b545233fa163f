// TProcessInfo_F: the "Process Info" dialog. Shows the executable of the
// process behind the selected connection: its icon, file name and path, and
// eight fields of its version information.
//
// Created hidden once and reused; it opens without being modal, so the main
// window stays usable. The fields are filled each time it becomes visible;
// while it is open, a new ShowForProcess only brings it to the front.
//
// Reading the fields can take seconds (dpkg-query scans for a program that no
// package owns), so the window can open at once and fill them from a look-up
// running on a thread of its own; see TBackgroundLookup.
#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "common/background_lookup.h"
#include "common/pe_version_info.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace tarnwick {

class TProcessInfo_F final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 371;
    static constexpr int kClientHeight = 363;

    explicit TProcessInfo_F(QWidget* parent);

    // Sets the executable and its fields to show and shows the dialog, centred
    // on its parent; brings it to the front when it is open already. Without
    // an executable (its path could not be read) the dialog shows what it
    // showed before.
    void ShowForProcess(const std::optional<std::string>& exePath, const TProcessInfoFields& fields);

    // Reads the fields of the executable `exePath`; runs on a thread of its
    // own, so it must own everything it uses (a free function, or a lambda
    // holding copies).
    using TFieldsLookup = std::function<TProcessInfoFields(const std::string& exePath)>;

    // The same, with the fields read by `lookup` off the window thread: the
    // dialog shows the executable at once with kPendingValue in each field,
    // and fills them when the look-up returns. The result of a look-up that
    // a newer ShowForProcess has replaced is dropped.
    void ShowForProcess(const std::optional<std::string>& exePath, TFieldsLookup lookup);
    static constexpr const char* kPendingValue = "...";

    // The executable path to show; none leaves the dialog as it was.
    std::optional<std::string> ExeFileName;
    TProcessInfoFields Fields;

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QFrame* Bevel1 = nullptr;
    std::array<QLabel*, kProcessInfoFields.size()> Captions{};  // Label2 to Label9
    std::array<QLineEdit*, kProcessInfoFields.size()> Values{};  // Edit2 to Edit9
    QPushButton* BitBtn1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    // Shows the dialog centred on its parent, or brings it to the front.
    void Present();
    void StartLookup(TFieldsLookup lookup);
    void PollLookup();

    TBackgroundLookup<TProcessInfoFields> Lookup_;
    QTimer* LookupPoll_ = nullptr;  // runs while a look-up is pending
};

}  // namespace tarnwick
