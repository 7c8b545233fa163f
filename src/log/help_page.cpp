#include "log/help_page.h"

#include "log/html_report.h"

namespace tarnwick {

std::string FillHelpPage(std::string_view page, std::string_view text) {
    const size_t start = page.find(kHelpDataElement);
    if (start == std::string_view::npos) return std::string(page);
    const size_t inner = start + kHelpDataElement.size();
    const size_t end = page.find("</span>", inner);
    if (end == std::string_view::npos) return std::string(page);
    std::string filled(page.substr(0, inner));
    filled += HtmlEscape(text);
    filled += page.substr(end);
    return filled;
}

}  // namespace tarnwick
