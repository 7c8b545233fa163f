#include "monitor/grid_sort.h"

#include <algorithm>
#include <string>

namespace tarnwick {

std::optional<TGridSort> NextGridSort(const std::optional<TGridSort>& current, int column) {
    if (!current || current->Column != column) return TGridSort{column, false};
    if (!current->Descending) return TGridSort{column, true};
    return std::nullopt;
}

void TGridSorter::Sort(const TGridRows& grid, const TGridSort& sort, std::vector<int32_t>& rows) {
    const auto columns = GridColumns();
    if (sort.Column < 0 || static_cast<size_t>(sort.Column) >= columns.size()) return;
    const TGridColumn& column = columns[static_cast<size_t>(sort.Column)];

    std::string scratchA, scratchB;
    const auto compare = [&](const TEntry& a, const TEntry& b) {
        if (a.Key.Tier != b.Key.Tier) return a.Key.Tier < b.Key.Tier ? -1 : 1;
        if (a.Key.High != b.Key.High) return a.Key.High < b.Key.High ? -1 : 1;
        if (a.Key.Low != b.Key.Low) return a.Key.Low < b.Key.Low ? -1 : 1;
        // Equal keys: a text that goes on sorts after one that ends there, and
        // two that go on are compared whole.
        if (a.Key.Longer != b.Key.Longer) return a.Key.Longer ? 1 : -1;
        if (!a.Key.Longer) return 0;
        return CompareLongerTexts(column.Text(grid.Row(a.Row), scratchA), column.Text(grid.Row(b.Row), scratchB));
    };
    const auto before = [&](const TEntry& a, const TEntry& b) {
        const int order = compare(a, b);
        if (order != 0) return sort.Descending ? order > 0 : order < 0;
        return a.Row < b.Row;  // the tables' order, either way
    };

    // The keys side by side: sorting compares them some twenty times a row,
    // where reaching into the rows each time would miss the cache.
    const bool sameRows = LastSort_ == sort && LastRows_ == rows;
    if (sameRows) {
        for (TEntry& entry : Entries_) entry.Key = column.SortKey(grid.Row(entry.Row));
    } else {
        Entries_.clear();
        Entries_.reserve(rows.size());
        for (const int32_t row : rows) Entries_.push_back(TEntry{column.SortKey(grid.Row(row)), row});
        LastRows_.assign(rows.begin(), rows.end());
        LastSort_ = sort;
    }
    if (!sameRows || !std::is_sorted(Entries_.begin(), Entries_.end(), before))
        std::sort(Entries_.begin(), Entries_.end(), before);
    for (size_t i = 0; i < Entries_.size(); ++i) rows[i] = Entries_[i].Row;
}

}  // namespace tarnwick
