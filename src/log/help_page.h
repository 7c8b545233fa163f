// The help page as the window shows it: the page beside the program, with
// what only the running program knows written into it (where the locations of
// remote addresses come from, and how old that database is).
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

// The element of the help page whose text the program writes: the page
// itself says there what it can without the program.
inline constexpr std::string_view kHelpDataElement = R"(<span id="location-database">)";

// `page` with the text of its kHelpDataElement replaced by `text` (escaped
// for HTML); `page` as it is when it has no such element.
std::string FillHelpPage(std::string_view page, std::string_view text);

}  // namespace tarnwick
