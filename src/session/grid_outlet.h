// Where a refresh writes the connection grid: the window's model, or the
// command line's rows, their text or nothing at all. Row 0 is the header,
// data rows start at 1.
#pragma once

#include "monitor/connection_row.h"

namespace tarnwick {

class TGridOutlet {
public:
    virtual ~TGridOutlet() = default;
    virtual int GridRowCount() const = 0;
    virtual void SetGridRowCount(int rows) = 0;
    virtual void WriteGridRow(int row, const TConnectionRow& texts) = 0;
};

}  // namespace tarnwick
