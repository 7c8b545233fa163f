// The grid's rows by the connection they show: the key-to-row map of
// TGridRows, kept as rows are written, so that a selection can follow its
// connection when a refresh moves it to another row.
//
// Open addressing over row numbers: a slot holds a row number (0, the
// header's, for an empty slot) and the key is read from the row itself, so
// the map costs four bytes a slot instead of a copy of every key in a node of
// its own, which at 100,000 rows would be some ten megabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "monitor/connection_row.h"

namespace tarnwick {

class TGridRowIndex {
public:
    using TRows = std::vector<TConnectionRow>;

    // Row `row` of `rows`, which shows a connection, is found by its key from
    // now on; a row already holding that key is no longer.
    void Add(const TRows& rows, int row);
    // Row `row` is about to show something else (or go): called while it
    // still shows the key it was added with.
    void Remove(const TRows& rows, int row);
    // The row showing `key`, or 0 when none does.
    int Find(const TRows& rows, const TConnectionKey& key) const;

private:
    size_t HomeOf(const TConnectionKey& key) const;
    // `slots` a power of two.
    void Resize(const TRows& rows, size_t slots);

    std::vector<int32_t> Slots_;
    size_t Used_ = 0;
    int Shift_ = 64;  // 64 less the slot count's bits: the hash's top bits pick the home slot
};

}  // namespace tarnwick
