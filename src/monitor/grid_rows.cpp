#include "monitor/grid_rows.h"

#include "common/text_util.h"

namespace tarnwick {

TGridRows::TGridRows() {
    Rows_.resize(2);
    Rows_[0] = TConnectionRow{std::string(kGridHeaders[0]), std::string(kGridHeaders[1]),
                              std::string(kGridHeaders[2]), std::string(kGridHeaders[3]),
                              std::string(kGridHeaders[4]), std::string(kGridHeaders[5])};
}

void TGridRows::SetRowCount(int rows) {
    Rows_.resize(static_cast<size_t>(rows < 2 ? 2 : rows));
}

void TGridRows::WriteRow(int row, const TConnectionRow& texts) {
    if (row < 1 || row >= RowCount()) return;
    Rows_[static_cast<size_t>(row)] = texts;
}

std::string TGridRows::ToText() const {
    std::string text;
    for (const TConnectionRow& row : Rows_) AppendLine(text, row);
    return text;
}

void TGridRows::AppendLine(std::string& text, const TConnectionRow& row) {
    for (int column = 0; column < kGridColumnCount; ++column) {
        if (column > 0) text += '\t';
        text += EscapeForLine(row.Cell(column));
    }
    text += '\n';
}

}  // namespace tarnwick
