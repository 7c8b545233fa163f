// The connection grid's columns as data: each one's title, its text, the
// other texts a filter finds it by and what it sorts by. The grid's filter
// and sort walk this list, so a column added here joins both.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "monitor/connection_row.h"

namespace tarnwick {

// Where a cell sorts: keys compare by Tier, then High, then Low. A text
// packs its first sixteen bytes, lower-cased, into High and Low; Longer says
// that it goes on, so that two equal keys are told apart by the whole texts.
struct TSortKey {
    uint32_t Tier = 0;  // the family of an address, whether a value is known at all
    bool Longer = false;
    uint64_t High = 0;
    uint64_t Low = 0;
};

struct TGridColumn {
    std::string_view Title;
    // The cell's text as the grid shows it: the row's own text, or one made
    // in `scratch`.
    std::string_view (*Text)(const TConnectionRow& row, std::string& scratch);
    // The bytes that Text can hold, lower-cased; empty when any. A filter
    // word with another byte cannot occur there, so the text is not made.
    std::string_view TextBytes;
    // Whether Text is made for each call (formatted from numbers) rather
    // than read from the row: the filter looks at such texts last.
    bool TextMade;
    // Another text the filter finds the cell by, the number behind a name
    // (a host's address, a port's number); nullptr when there is none, and
    // the bytes it can hold as for TextBytes.
    std::string_view (*OtherText)(const TConnectionRow& row, std::string& scratch);
    std::string_view OtherTextBytes;
    TSortKey (*SortKey)(const TConnectionRow& row);
};

// The columns in the grid's order: the six of TConnectionRow, the two
// location columns, then the traffic columns (in human units, as the window
// shows them).
std::span<const TGridColumn> GridColumns();

// The column titled `title`, or -1.
int GridColumnOf(std::string_view title);

// The sort key of a text: its bytes with ASCII letters lower-cased, in order.
TSortKey TextSortKey(std::string_view text);

// How two texts whose keys are equal and Longer compare: <0, 0 or >0, as
// TextSortKey would order them if it held them whole.
int CompareLongerTexts(std::string_view a, std::string_view b);

}  // namespace tarnwick
