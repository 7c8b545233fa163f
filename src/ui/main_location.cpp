// The main window and the locations of remote addresses: the View menu's
// "Show Location" with its Country and Network columns, the status line's
// note of a database that cannot be read, and the help page's words on it.
#include "ui/main_form.h"

#include <QAction>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStatusBar>

#include <chrono>

#include "common/file_locations.h"
#include "common/ini_file.h"
#include "log/help_page.h"
#include "monitor/location_texts.h"
#include "platform/atomic_file.h"
#include "rules/options_file.h"
#include "ui/connection_grid_model.h"

namespace tarnwick {

void TMain_F::actionLocationExecute(bool checked) {
    Session_.View.ShowLocation = checked;
    ShowLocationColumns(checked);
    try {
        SaveShowLocationOption(OptionsFilePath(Services_.Files.SettingsDir), checked);
    } catch (const std::exception& error) {
        Services_.Boxes.Show(this, QString::fromStdString(FileErrorText(error)), kApplicationTitle,
                             QMessageBox::Warning);
    }
}

void TMain_F::ShowLocationColumns(bool show) {
    if (GridModel_->ShowLocation() == show) return;
    GridModel_->SetShowLocation(show);
    GridColumnsSwitched();
    if (!show) ShowLocationNote();
    Timer1Timer();  // the rows are located from this refresh on, not at the next tick
}

void TMain_F::ShowLocationNote() {
    TLocationCache* locations = Session_.Locations();
    const std::optional<TFailure> failure =
        locations && GridModel_->ShowLocation() ? locations->DatabaseFailure() : std::nullopt;
    if (failure) {
        statusBar()->showMessage(QString::fromStdString(LocationDatabaseNote(*failure)));
        statusBar()->show();
    } else if (auto* bar = findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly)) {
        // Made only for a note: without one the window keeps its height for the grid.
        bar->clearMessage();
        bar->hide();
    }
}

std::string TMain_F::HelpPageToOpen() {
    const std::string page = HelpPagePath(Services_.ExecutableDir);
    // The database's words: from the one the look-ups read, else from a look at it now.
    std::string words;
    const auto now = std::chrono::system_clock::now();
    const TLocationCache* locations = Session_.Locations();
    if (const auto database = locations ? locations->Database() : std::nullopt) {
        words = LocationDatabaseText(*database, now);
    } else if (Services_.OpenLocationDatabase) {
        const auto opened = Services_.OpenLocationDatabase();
        words = opened ? LocationDatabaseText((*opened)->Database(), now) : LocationDatabaseNote(opened.Failure());
    }
    const TResult<std::optional<std::string>> text = ReadWholeFile(page);
    // The user's own runtime folder (Qt makes it, private, where the session has none).
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (words.empty() || !text || !*text || folder.isEmpty()) return page;
    const std::string copy = folder.toStdString() + "/tarnwick-help.htm";
    return WriteWholeFile(copy, FillHelpPage(**text, words)) ? copy : page;
}

}  // namespace tarnwick
