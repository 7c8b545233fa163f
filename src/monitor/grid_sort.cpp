#include "monitor/grid_sort.h"

#include <algorithm>
#include <array>
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

    // Descending, the keys are turned round as they are made (keyOf), so
    // that the comparison runs the same way both ways.
    std::string scratchA, scratchB;
    const auto before = [&](const TEntry& a, const TEntry& b) {
        if (a.Key.Tier != b.Key.Tier) return a.Key.Tier < b.Key.Tier;
        if (a.Key.High != b.Key.High) return a.Key.High < b.Key.High;
        if (a.Key.Low != b.Key.Low) return a.Key.Low < b.Key.Low;
        // Equal keys: a text that goes on sorts after one that ends there, and
        // two that go on are compared whole.
        int order = a.Key.Longer == b.Key.Longer ? 0 : (a.Key.Longer ? 1 : -1);
        if (a.Key.Longer && b.Key.Longer)
            order = CompareLongerTexts(column.Text(grid.Row(a.Row), scratchA), column.Text(grid.Row(b.Row), scratchB));
        if (order != 0) return sort.Descending ? order > 0 : order < 0;
        return a.Row < b.Row;  // the tables' order, either way
    };
    const auto keyOf = [&](int32_t row) {
        TSortKey key = column.SortKey(grid.Row(row));
        if (sort.Descending) {
            key.Tier = ~key.Tier;
            key.High = ~key.High;
            key.Low = ~key.Low;
        }
        return key;
    };

    // The keys side by side: sorting compares them some twenty times a row,
    // where reaching into the rows each time would miss the cache.
    const bool sameRows = LastSort_ == sort && LastRows_ == rows;
    if (sameRows) {
        for (TEntry& entry : Entries_) entry.Key = keyOf(entry.Row);
    } else {
        Entries_.clear();
        Entries_.reserve(rows.size());
        for (const int32_t row : rows) Entries_.push_back(TEntry{keyOf(row), row});
        LastRows_.assign(rows.begin(), rows.end());
        LastSort_ = sort;
    }
    if (sameRows && std::is_sorted(Entries_.begin(), Entries_.end(), before)) {
        // As sorted the last time: nothing moved.
    } else {
        if (sameRows) {
            // Back in the rows' order, which the radix sort keeps among equal keys.
            for (size_t i = 0; i < rows.size(); ++i) Entries_[i] = TEntry{keyOf(rows[i]), rows[i]};
        }
        if (RadixSort()) {
            // Keys alike in their sixteen bytes but longer are put in order by their texts.
            const auto sameKey = [](const TEntry& a, const TEntry& b) {
                return a.Key.Tier == b.Key.Tier && a.Key.High == b.Key.High && a.Key.Low == b.Key.Low;
            };
            for (auto run = Entries_.begin(); run != Entries_.end();) {
                const auto end = std::find_if_not(run, Entries_.end(), [&](const TEntry& e) { return sameKey(e, *run); });
                if (std::any_of(run, end, [](const TEntry& e) { return e.Key.Longer; })) std::sort(run, end, before);
                run = end;
            }
        } else {
            std::sort(Entries_.begin(), Entries_.end(), before);
        }
    }
    for (size_t i = 0; i < Entries_.size(); ++i) rows[i] = Entries_[i].Row;
}

bool TGridSorter::RadixSort() {
    // The key's twenty bytes, least significant first: Low's, High's, Tier's.
    constexpr int kKeyBytes = 20;
    const auto byteOf = [](const TSortKey& key, int b) {
        const uint64_t word = b < 8 ? key.Low : b < 16 ? key.High : key.Tier;
        return static_cast<uint8_t>(word >> (8 * (b % 8)));
    };
    TSortKey any{~0u, false, ~uint64_t{0}, ~uint64_t{0}}, every{};  // the bits set in all keys, and in any
    for (const TEntry& entry : Entries_) {
        any.Tier &= entry.Key.Tier, any.High &= entry.Key.High, any.Low &= entry.Key.Low;
        every.Tier |= entry.Key.Tier, every.High |= entry.Key.High, every.Low |= entry.Key.Low;
    }
    std::array<int, kKeyBytes> varying{};  // the bytes in which the keys differ at all
    size_t passes = 0;
    for (int b = 0; b < kKeyBytes; ++b)
        if (byteOf(any, b) != byteOf(every, b)) varying[passes++] = b;
    // A pass costs about what two levels of comparisons do.
    if (passes > kMaxRadixPasses) return false;
    Spare_.resize(Entries_.size());
    for (size_t pass = 0; pass < passes; ++pass) {
        const int b = varying[pass];
        std::array<size_t, 257> starts{};
        for (const TEntry& entry : Entries_) ++starts[byteOf(entry.Key, b) + 1u];
        for (size_t i = 1; i < starts.size(); ++i) starts[i] += starts[i - 1];
        for (const TEntry& entry : Entries_) Spare_[starts[byteOf(entry.Key, b)]++] = entry;
        Entries_.swap(Spare_);
    }
    return true;
}

}  // namespace tarnwick
