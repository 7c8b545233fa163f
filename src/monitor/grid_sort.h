// The connection grid's sort: by one column of GridColumns(), either way.
// Rows that sort alike keep the order of the tables, so a sorted grid does
// not shuffle its equal rows from one refresh to the next.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "monitor/grid_columns.h"
#include "monitor/grid_rows.h"

namespace tarnwick {

struct TGridSort {
    int Column = 0;  // of GridColumns()
    bool Descending = false;
    bool operator==(const TGridSort&) const = default;
};

// The sort after a click on the header of `column`: ascending by a column
// not sorted by yet, then descending, then none (the tables' order).
std::optional<TGridSort> NextGridSort(const std::optional<TGridSort>& current, int column);

class TGridSorter {
public:
    // Puts `rows` (data rows of `grid`, in the tables' order: ascending) in
    // the order of `sort`.
    void Sort(const TGridRows& grid, const TGridSort& sort, std::vector<int32_t>& rows);

private:
    struct TEntry {
        TSortKey Key;
        int32_t Row;
    };
    // The rows and the sort of the last call, and its entries in the order
    // it gave them: a refresh mostly writes the same rows with the same
    // values, and then that order only needs checking, not sorting again.
    std::vector<int32_t> LastRows_;
    std::optional<TGridSort> LastSort_;
    std::vector<TEntry> Entries_;

    // Sorts Entries_, which are in the rows' order, by their keys alone
    // (texts longer than the keys aside) with a radix sort over the bytes in
    // which the keys differ, least significant first: as each pass keeps the
    // order of equal bytes, equal keys stay in the rows' order. Ports,
    // addresses and byte counts differ in a few bytes and sort in a few
    // passes; false, with nothing done, where the keys differ in more.
    bool RadixSort();
    static constexpr size_t kMaxRadixPasses = 8;
    std::vector<TEntry> Spare_;
};

}  // namespace tarnwick
