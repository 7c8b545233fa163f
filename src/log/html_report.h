// HTML reports: the connection table and the event log as pages for a
// browser. A fixed template with the placeholders <?HOST?>, <?TIME?> and
// <?BODY?> is filled with the host text, the time text and rows built from the
// grid or the log; every inserted text is HTML-escaped, so a page shows cell
// texts and log lines exactly as the program does.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "log/event_log.h"
#include "monitor/grid_rows.h"
#include "monitor/grid_view.h"

namespace tarnwick {

// A report could not be built or written; what() is the text for the user.
class TReportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The templates' lines; a template's text is each line followed by CR LF.
extern const std::vector<std::string_view> kTableReportTemplate;
extern const std::vector<std::string_view> kLogReportTemplate;
std::string TemplateText(const std::vector<std::string_view>& lines);

// `text` with &, <, > and " written as character references.
std::string HtmlEscape(std::string_view text);

// Replaces the first <?HOST?>, <?TIME?> and <?BODY?> of `templateText` (in
// that order) by the given texts, as they are. The placeholders are looked up
// in the template only, so a placeholder inside an inserted text stays as it is.
std::string FillReportTemplate(std::string_view templateText, std::string_view host, std::string_view time,
                               std::string_view body);

// The report colour of a log kind: six upper-case hexadecimal digits.
const char* ReportColour(LogKind kind);

// "<tr><td>r</td><td>cell</td>...</tr>" for every data row (1 and up), cells
// escaped; with `location`, the two location cells follow the six, and with
// `traffic`, the four traffic cells come last. With an active `view`, the
// rows it shows, in its order, numbered from 1.
std::string TableReportBody(const TGridRows& grid, bool traffic = false, const TGridView* view = nullptr,
                            bool location = false);
// "<tr><td><font size=2 color=#RRGGBB>line</font></td></tr>" per entry, lines escaped.
std::string LogReportBody(const std::vector<TLogEntry>& entries);

// The host and time texts a report's heading shows, unescaped.
struct TReportHeading {
    std::string Host;
    std::string Time;
};

// "name" or "name(first IPv4 address)".
std::string HostText(const std::string& name, const std::vector<std::string>& addresses);

// The host text of this computer: its name (at most 63 characters) and the
// first IPv4 address the name resolves to, if any. Throws TReportError when
// the name cannot be read or is empty.
std::string LocalHostText();

// "Time:.............." followed by the time stamp of `when` (log line format).
std::string ReportTimeText(std::chrono::system_clock::time_point when);

// LocalHostText() and the time text of now.
TReportHeading CurrentReportHeading();

// The whole pages.
// With `traffic` and `location`, the page has the grid's traffic and location
// columns too. With an
// active `view`, it has what the view shows, and its title says how the
// rows were chosen: "Tarnwick 1.0 (matching "ssh", sorted by Process)".
std::string BuildTableReport(const TGridRows& grid, const TReportHeading& heading, bool traffic = false,
                             const TGridView* view = nullptr, bool location = false);
std::string BuildLogReport(const std::vector<TLogEntry>& entries, const TReportHeading& heading);

// The full name the user is told of `path`: absolute, without . and .. parts.
std::string FullFileName(const std::string& path);

// Makes the file at `path` hold `page`, as WriteWholeFile does (replacing a
// regular file in one step, writing into a pipe or device). Throws
// TReportError "Cannot create file "<full name>". <system reason>" on failure.
void SaveReport(const std::string& path, std::string_view page);

// Creates the file at `path` holding `page` if no file of that name is there
// (never two saves in one name, even at once); false when one is. Throws
// TReportError as SaveReport does on failure.
bool SaveNewReport(const std::string& path, std::string_view page);

}  // namespace tarnwick
