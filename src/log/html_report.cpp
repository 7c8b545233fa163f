#include "log/html_report.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "log/time_stamp.h"
#include "monitor/location_texts.h"
#include "platform/atomic_file.h"
#include "platform/local_host.h"

namespace tarnwick {

// Lines ending in a blank keep it: the page's words run on across those lines.
const std::vector<std::string_view> kLogReportTemplate{
    "<HTML>",
    "<BODY bgcolor=#0>",
    "<H2>",
    "<font color=#FFFFFF>Tarnwick Log ",
    "Files</font>",
    "</H2>",
    "<H3><font color=#FFFFFF><?HOST?></font></H3><br>",
    "<font color=#FFFFFF><?TIME?></font><br>",
    "",
    "<table border=\"1\" ",
    "cellpadding=\"2\" ",
    "cellspacing=\"0\" ",
    "style=\"border-collapse: collapse; ",
    "font-family:Tahoma",
    "; font-size:8pt\" ",
    "bordercolor=\"#111111\" ",
    "width=\"100%\">",
    "<?BODY?>",
    "</table>",
    "</body>",
    "</html>",
};

const std::vector<std::string_view> kTableReportTemplate{
    "<HTML>",
    "<BODY>",
    "<H2>",
    "Tarnwick 1.0",
    "</H2>",
    "<H3><?HOST?></H3><br>",
    "<code>",
    "<?TIME?><br>",
    "<br><br>",
    "</code>",
    "<table border=\"1\" ",
    "cellpadding=\"2\" ",
    "cellspacing=\"0\" ",
    "style=\"border-collapse: collapse; ",
    "font-family:Tahoma",
    "; font-size:8pt\" ",
    "bordercolor=\"#111111\" ",
    "width=\"100%\">",
    "<tr>",
    "<th ",
    "bgcolor=\"#D6D6D6\">#</th>",
    "<th ",
    "bgcolor=\"#D6D6D6\">Remote ",
    "Addr</th>",
    "<th ",
    "bgcolor=\"#D6D6D6\">Remote ",
    "Port</th>",
    "<th ",
    "bgcolor=\"#D6D6D6\">Local Port</th>",
    "<th ",
    "bgcolor=\"#D6D6D6\">Protocol</th>",
    "<th ",
    "bgcolor=\"#D6D6D6\">Status</th>",
    "<th ",
    "bgcolor=\"#D6D6D6\">Process</th>",
    "</tr>",
    "<?BODY?>",
    "</table>",
    "</body>",
    "</html>",
};

std::string TemplateText(const std::vector<std::string_view>& lines) {
    std::string text;
    for (std::string_view line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string FillReportTemplate(std::string_view templateText, std::string_view host, std::string_view time,
                               std::string_view body) {
    struct TSlot {
        std::string_view Placeholder;
        std::string_view Text;
        size_t Pos;
    };
    std::array<TSlot, 3> slots{{{"<?HOST?>", host, 0}, {"<?TIME?>", time, 0}, {"<?BODY?>", body, 0}}};
    for (TSlot& slot : slots) slot.Pos = templateText.find(slot.Placeholder);
    // Splice in template order; placeholders missing from the template are skipped.
    std::string page;
    size_t from = 0;
    while (true) {
        const TSlot* next = nullptr;
        for (const TSlot& slot : slots) {
            if (slot.Pos != std::string_view::npos && slot.Pos >= from && (!next || slot.Pos < next->Pos))
                next = &slot;
        }
        if (!next) break;
        page += templateText.substr(from, next->Pos - from);
        page += next->Text;
        from = next->Pos + next->Placeholder.size();
    }
    page += templateText.substr(from);
    return page;
}

const char* ReportColour(LogKind kind) {
    switch (kind) {
        case lkInfo: return "9CFF9C";
        case lkRule: return "CEC6FF";
        case lkConnect: return "FFFF00";
        case lkDisconnect: return "00FFFF";
    }
    return "FFFFFF";  // kinds outside 0..3 are never logged
}

std::string TableReportBody(const TGridRows& grid, bool traffic, const TGridView* view, bool location) {
    const bool viewed = view && view->Active();
    const int shown = viewed ? view->ShownCount() : grid.RowCount() - 1;
    std::string body;
    for (int position = 0; position < shown; ++position) {
        const int r = viewed ? view->GridRowAt(position) : position + 1;
        if (r >= grid.RowCount()) continue;  // a view older than the rows
        body += "<tr><td>" + std::to_string(position + 1) + "</td>";
        for (int c = 0; c < kGridColumnCount; ++c) body += "<td>" + HtmlEscape(grid.CellText(r, c)) + "</td>";
        for (int c = 0; location && c < kLocationColumnCount; ++c)
            body += "<td>" + HtmlEscape(LocationCellText(grid.Row(r), c)) + "</td>";
        for (int c = kGridColumnCount; traffic && c < kGridColumnCount + kTrafficColumnCount; ++c)
            body += "<td>" + HtmlEscape(grid.CellText(r, c)) + "</td>";
        body += "</tr>";
    }
    return body;
}

std::string LogReportBody(const std::vector<TLogEntry>& entries) {
    std::string body;
    for (const TLogEntry& entry : entries) {
        body += "<tr><td><font size=2 color=#";
        body += ReportColour(entry.Kind);
        body += ">" + HtmlEscape(entry.Line) + "</font></td></tr>";
    }
    return body;
}

std::string HostText(const std::string& name, const std::vector<std::string>& addresses) {
    return addresses.empty() ? name : name + "(" + addresses.front() + ")";
}

std::string LocalHostText() {
    const TResult<TLocalHost> host = ReadLocalHost();
    if (!host) {
        throw TReportError("Cannot read the host name. " + host.Failure().ErrnoText());
    }
    if (host->Name.empty()) throw TReportError("The host name is empty.");
    return HostText(host->Name, host->Ipv4Addresses);
}

std::string ReportTimeText(std::chrono::system_clock::time_point when) {
    return "Time:.............." + TimeStamp(when);
}

TReportHeading CurrentReportHeading() {
    return TReportHeading{LocalHostText(), ReportTimeText(std::chrono::system_clock::now())};
}

std::string BuildTableReport(const TGridRows& grid, const TReportHeading& heading, bool traffic,
                             const TGridView* view, bool location) {
    std::vector<std::string_view> lines = kTableReportTemplate;
    std::string title;
    if (view && view->Active()) {
        const auto line = std::find(lines.begin(), lines.end(), std::string_view("<H2>")) + 1;
        title = std::string(*line) + " (" + HtmlEscape(view->Description()) + ")";
        *line = title;
    }
    // The location and traffic titles close the header row, in the style of the others.
    std::vector<std::string> titles;
    if (location)
        for (std::string_view title : kLocationHeaders)
            titles.push_back("bgcolor=\"#D6D6D6\">" + std::string(title) + "</th>");
    if (traffic)
        for (std::string_view title : kTrafficHeaders)
            titles.push_back("bgcolor=\"#D6D6D6\">" + std::string(title) + "</th>");
    auto end = std::find(lines.begin(), lines.end(), std::string_view("</tr>"));
    for (const std::string& title : titles) {
        end = lines.insert(end, "<th ") + 1;
        end = lines.insert(end, title) + 1;
    }
    return FillReportTemplate(TemplateText(lines), HtmlEscape(heading.Host), HtmlEscape(heading.Time),
                              TableReportBody(grid, traffic, view, location));
}

std::string BuildLogReport(const std::vector<TLogEntry>& entries, const TReportHeading& heading) {
    return FillReportTemplate(TemplateText(kLogReportTemplate), HtmlEscape(heading.Host), HtmlEscape(heading.Time),
                              LogReportBody(entries));
}

std::string FullFileName(const std::string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    if (ec) return path;
    return full.lexically_normal().string();
}

namespace {

[[noreturn]] void ThrowSaveError(const std::string& path, const TFailure& failure) {
    throw TReportError("Cannot create file \"" + FullFileName(path) + "\". " +
                       failure.ErrnoText());
}

}  // namespace

void SaveReport(const std::string& path, std::string_view page) {
    if (const TStatus saved = WriteWholeFile(path, page); !saved) ThrowSaveError(path, saved.Failure());
}

bool SaveNewReport(const std::string& path, std::string_view page) {
    const TResult<bool> saved = WriteNewFile(path, page);
    if (!saved) ThrowSaveError(path, saved.Failure());
    return *saved;
}

}  // namespace tarnwick
