// The main window's filter box above the grid, the grid's sort and the copy
// of its rows, with the filter and sort kept in Option.ini between runs.
#include "ui/main_form.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QSignalBlocker>

#include "common/ini_file.h"
#include "monitor/grid_columns.h"
#include "rules/options_file.h"
#include "ui/connection_grid.h"
#include "ui/connection_grid_model.h"
#include "ui/grid_filter_box.h"

namespace tarnwick {

QWidget* TMain_F::BuildFilterBox() {
    edtFilter = new TGridFilterBox(Panel1);
    edtFilter->AddFindShortcut(this);
    connect(edtFilter, &QLineEdit::textChanged, this,
            [this](const QString& text) { grdNetStatList->ApplyFilter(text.toStdString()); });
    connect(edtFilter, &TGridFilterBox::Settled, this, &TMain_F::SaveGridView);
    connect(grdNetStatList, &TConnectionGrid::SortChanged, this, &TMain_F::SaveGridView);
    return edtFilter;
}

void TMain_F::ApplyGridViewOptions(const TGridViewOptions& view) {
    {
        // Taken from the file: not stored back.
        const QSignalBlocker quiet(edtFilter);
        edtFilter->setText(QString::fromStdString(view.Filter));
    }
    grdNetStatList->ApplyFilter(edtFilter->text().toStdString());  // as the box holds it
    // Only by a column the grid shows (the traffic columns may be hidden).
    const int column = GridColumnOf(view.SortColumn);
    if (column >= 0 && GridModel_->SectionOfGridColumn(column) >= 0)
        grdNetStatList->ApplySort(TGridSort{column, view.SortDescending});
}

void TMain_F::SaveGridView() {
    const TGridView& shown = GridModel_->View();
    TGridViewOptions view;
    view.Filter = shown.Filter().Text();
    if (const auto sort = shown.Sort()) {
        view.SortColumn = GridColumns()[static_cast<size_t>(sort->Column)].Title;
        view.SortDescending = sort->Descending;
    }
    try {
        SaveGridViewOptions(OptionsFilePath(Services_.Files.SettingsDir), view);
    } catch (const std::exception& error) {
        // Said once: the filter is saved each time typing pauses.
        if (std::exchange(GridViewSaveFailed_, true)) return;
        Services_.Boxes.Show(this, QString::fromStdString(FileErrorText(error)), kApplicationTitle,
                             QMessageBox::Warning);
    }
}

void TMain_F::actionCopyExecute() {
    const std::string text = grdNetStatList->SelectedRowsText();
    if (!text.empty()) QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

}  // namespace tarnwick
