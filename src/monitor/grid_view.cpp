#include "monitor/grid_view.h"

#include <algorithm>

namespace tarnwick {

void TGridView::Update(const TGridRows& rows) {
    Shown_.clear();
    if (!Active()) return;
    // Room kept from the refresh before: nothing is allocated while the grid keeps its size.
    Shown_.reserve(static_cast<size_t>(rows.RowCount() - 1));
    for (int row = 1; row < rows.RowCount(); ++row)
        if (Filter_.Empty() || Filter_.Matches(rows.Row(row))) Shown_.push_back(row);
    if (Sort_) Sorter_.Sort(rows, *Sort_, Shown_);
}

int TGridView::PositionOf(int gridRow) const {
    if (!Active()) return gridRow - 1;
    const auto found = std::find(Shown_.begin(), Shown_.end(), gridRow);
    return found == Shown_.end() ? -1 : static_cast<int>(found - Shown_.begin());
}

std::string TGridView::Description() const {
    std::string text;
    if (!Filter_.Empty()) text = "matching \"" + Filter_.Text() + "\"";
    const auto columns = GridColumns();
    if (Sort_ && Sort_->Column >= 0 && static_cast<size_t>(Sort_->Column) < columns.size()) {
        if (!text.empty()) text += ", ";
        text += "sorted by " + std::string(columns[static_cast<size_t>(Sort_->Column)].Title);
        if (Sort_->Descending) text += ", descending";
    }
    return text;
}

}  // namespace tarnwick
