// The connection grid's cells as plain texts: row 0 holds the column titles,
// data rows follow. The window's grid model and the command-line tool keep
// their rows in one of these.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "monitor/connection_row.h"
#include "monitor/grid_row_index.h"
#include "monitor/traffic_texts.h"

namespace tarnwick {

class TGridRows {
public:
    // A new grid holds its header and one empty data row.
    TGridRows();

    int RowCount() const { return static_cast<int>(Rows_.size()); }

    // Never fewer than two rows: the header and one data row. New rows are empty.
    void SetRowCount(int rows);

    // Writes a data row; rows outside 1..RowCount()-1 are ignored, since a view
    // switch flipped during a refresh can aim a row past the sized grid.
    void WriteRow(int row, const TConnectionRow& texts);

    const TConnectionRow& Row(int row) const { return Rows_.at(static_cast<size_t>(row)); }

    // The data row that shows the connection `key` names, or 0 when none does.
    int RowOf(const TConnectionKey& key) const { return Index_.Find(Rows_, key); }

    // The text of cell `column` of `row`: the six columns of TConnectionRow,
    // then the traffic columns (6..9) with their numbers written as `numbers`
    // says; row 0 holds the titles of all ten.
    std::string CellText(int row, int column, TTrafficNumbers numbers = TTrafficNumbers::Human) const;

    // The grid as text: a line per row, header first, cells separated by tabs.
    // Control bytes and the backslash inside a cell are written \xNN, so a
    // cell (a program's file name, say) can never split a line or a record.
    // With `location`, the Country and Network columns follow Process (see
    // location_texts.h); with `traffic`, the four traffic columns come last,
    // written as it says.
    std::string ToText(std::optional<TTrafficNumbers> traffic = std::nullopt, bool location = false) const;
    // The same text of the header and the data rows `rows`, in that order.
    std::string RowsText(const std::vector<int>& rows, std::optional<TTrafficNumbers> traffic = std::nullopt,
                         bool location = false) const;
    // Appends the line of data row `row` to `text`, as ToText without traffic writes it.
    static void AppendLine(std::string& text, const TConnectionRow& row, bool location = false);
    // Appends the header line, as ToText without traffic writes it.
    static void AppendHeaderLine(std::string& text, bool location = false);

private:
    void AppendRowLine(std::string& text, int row, std::optional<TTrafficNumbers> traffic, bool location) const;

    std::vector<TConnectionRow> Rows_;
    TGridRowIndex Index_;
};

}  // namespace tarnwick
