// The one line break an alert puts into its message; the label's word wrap
// breaks the rest.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick {

inline constexpr size_t kPopupFirstLineBytes = 20;

// Byte offset where the message's second line starts, or npos when the
// message stays as it is. The first line ends after byte 20, or after the
// end of the UTF-8 character that byte 20 belongs to, so no character is split.
size_t PopupMessageBreak(std::string_view text);

// `text` with a line feed at its break, if it has one.
std::string BreakPopupMessage(std::string_view text);

}  // namespace tarnwick
