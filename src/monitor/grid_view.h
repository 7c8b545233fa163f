// The connection grid as the user has narrowed and ordered it: which of the
// grid's rows are shown, and in what order. The rows themselves stay in the
// tables' order, where every refresh writes them; this maps the positions
// shown to those rows, worked out anew after each refresh.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/grid_filter.h"
#include "monitor/grid_rows.h"
#include "monitor/grid_sort.h"

namespace tarnwick {

class TGridView {
public:
    void SetFilter(std::string_view text) { Filter_.SetText(text); }
    const TGridFilter& Filter() const { return Filter_; }
    void SetSort(const std::optional<TGridSort>& sort) { Sort_ = sort; }
    const std::optional<TGridSort>& Sort() const { return Sort_; }
    // Whether the rows are narrowed or ordered at all; if not, position p
    // shows data row p + 1, whatever Update last saw.
    bool Active() const { return !Filter_.Empty() || Sort_; }

    // Works out the rows shown from `rows` as they are now. Costs nothing
    // while the view is not active.
    void Update(const TGridRows& rows);

    // Valid from the last Update (while active).
    int ShownCount() const { return static_cast<int>(Shown_.size()); }
    // The data row shown at `position` (from 0).
    int GridRowAt(int position) const { return Active() ? Shown_.at(static_cast<size_t>(position)) : position + 1; }
    // Where data row `gridRow` is shown, or -1 when it is not.
    int PositionOf(int gridRow) const;

    // What the view does, for a page of what it shows: `matching "ssh 443",
    // sorted by Remote Port, descending`; empty while not active.
    std::string Description() const;

private:
    TGridFilter Filter_;
    std::optional<TGridSort> Sort_;
    TGridSorter Sorter_;
    std::vector<int32_t> Shown_;
};

}  // namespace tarnwick
