// The connection grid's filter: the words typed into its box, each of which
// a row must contain, in any column, shown or not, and in any case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/connection_row.h"
#include "monitor/grid_columns.h"

namespace tarnwick {

class TGridFilter {
public:
    // The words of `text`, separated by blanks (spaces, tabs, line breaks).
    void SetText(std::string_view text);
    // The words, one blank between each; empty when there are none.
    const std::string& Text() const { return Text_; }
    bool Empty() const { return Sets_.empty(); }

    // Whether every word occurs in some text of `row` (see TGridColumn),
    // ASCII letters matching in either case. A row that shows no connection
    // (the blank row of an empty grid) matches no filter. It learns where
    // words are found, to look there first: one thread at a time.
    bool Matches(const TConnectionRow& row) const;

private:
    // A text of a row to look in: a column's text or its other text. The
    // rows' own texts are looked in first, the texts made for a look last.
    struct TLook {
        const TGridColumn* Column;
        bool Other;
    };
    // Up to 64 words, a bit each, so that a row is looked at once for all.
    struct TWordSet {
        std::vector<std::string> Words;  // lower-cased
        std::vector<uint64_t> CanOccur;  // per look, the words that can occur in its text
        uint64_t All = 0;
        mutable std::vector<uint8_t> FoundIn;  // per word, the look it was last found in
    };
    bool MatchesSet(const TConnectionRow& row, const TWordSet& set) const;
    std::string_view LookText(const TConnectionRow& row, size_t look) const;

    std::string Text_;
    std::vector<TLook> Looks_;
    std::vector<TWordSet> Sets_;
    mutable std::string Scratch_;  // the texts made for a row, kept to spare allocations
};

}  // namespace tarnwick
