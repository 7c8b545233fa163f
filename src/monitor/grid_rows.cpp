#include "monitor/grid_rows.h"

#include "common/text_util.h"
#include "monitor/location_texts.h"

namespace tarnwick {

TGridRows::TGridRows() {
    Rows_.resize(2);
    Rows_[0] = TConnectionRow{std::string(kGridHeaders[0]), std::string(kGridHeaders[1]),
                              std::string(kGridHeaders[2]), std::string(kGridHeaders[3]),
                              std::string(kGridHeaders[4]), std::string(kGridHeaders[5])};
}

void TGridRows::SetRowCount(int rows) {
    const int count = rows < 2 ? 2 : rows;
    for (int row = count; row < RowCount(); ++row)
        if (Rows_[static_cast<size_t>(row)].Key) Index_.Remove(Rows_, row);
    Rows_.resize(static_cast<size_t>(count));
}

void TGridRows::WriteRow(int row, const TConnectionRow& texts) {
    if (row < 1 || row >= RowCount()) return;
    TConnectionRow& shown = Rows_[static_cast<size_t>(row)];
    // Mostly a refresh writes the same connection where it was.
    const bool moved = shown.Key != texts.Key;
    if (moved && shown.Key) Index_.Remove(Rows_, row);
    shown = texts;
    if (moved && texts.Key) Index_.Add(Rows_, row);
}

std::string TGridRows::CellText(int row, int column, TTrafficNumbers numbers) const {
    if (column < kGridColumnCount) return Row(row).Cell(column);
    const int trafficColumn = column - kGridColumnCount;
    if (row == 0) return std::string(kTrafficHeaders.at(static_cast<size_t>(trafficColumn)));
    if (!Row(row).Key) return {};  // the blank row of an empty grid stays blank
    return TrafficCellText(Row(row).Traffic, trafficColumn, numbers);
}

namespace {

// The cells of a line, without its end: the six columns, then with
// `location` the two location columns (their titles in the header).
void AppendCells(std::string& text, const TConnectionRow& row, bool header, bool location) {
    for (int column = 0; column < kGridColumnCount; ++column) {
        if (column > 0) text += '\t';
        text += EscapeForLine(row.Cell(column));
    }
    if (!location) return;
    for (int column = 0; column < kLocationColumnCount; ++column) {
        text += '\t';
        text += header ? std::string(kLocationHeaders[static_cast<size_t>(column)])
                       : EscapeForLine(LocationCellText(row, column));
    }
}

}  // namespace

std::string TGridRows::ToText(std::optional<TTrafficNumbers> traffic, bool location) const {
    std::string text;
    for (int row = 0; row < RowCount(); ++row) AppendRowLine(text, row, traffic, location);
    return text;
}

std::string TGridRows::RowsText(const std::vector<int>& rows, std::optional<TTrafficNumbers> traffic,
                                bool location) const {
    std::string text;
    AppendRowLine(text, 0, traffic, location);
    for (const int row : rows)
        if (row > 0 && row < RowCount()) AppendRowLine(text, row, traffic, location);
    return text;
}

void TGridRows::AppendRowLine(std::string& text, int row, std::optional<TTrafficNumbers> traffic,
                              bool location) const {
    AppendCells(text, Row(row), row == 0, location);
    if (traffic)
        for (int column = kGridColumnCount; column < kGridColumnCount + kTrafficColumnCount; ++column)
            text.append("\t").append(CellText(row, column, *traffic));
    text += '\n';
}

void TGridRows::AppendLine(std::string& text, const TConnectionRow& row, bool location) {
    AppendCells(text, row, false, location);
    text += '\n';
}

void TGridRows::AppendHeaderLine(std::string& text, bool location) {
    AppendCells(text, TGridRows().Row(0), true, location);
    text += '\n';
}

}  // namespace tarnwick
