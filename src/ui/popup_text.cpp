#include "ui/popup_text.h"

namespace tarnwick {

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// A UTF-8 character has at most three bytes after its first.
constexpr size_t kMaxContinuationBytes = 3;

}  // namespace

size_t PopupMessageBreak(std::string_view text) {
    if (text.size() <= kPopupFirstLineBytes) return std::string_view::npos;
    size_t cut = kPopupFirstLineBytes;
    while (cut < text.size() && cut < kPopupFirstLineBytes + kMaxContinuationBytes && IsContinuationByte(text[cut]))
        ++cut;
    // A message whose last character straddles byte 20 stays on one line:
    // an empty second line would only push the text up in the label.
    if (cut >= text.size()) return std::string_view::npos;
    return cut;
}

std::string BreakPopupMessage(std::string_view text) {
    const size_t cut = PopupMessageBreak(text);
    if (cut == std::string_view::npos) return std::string(text);
    std::string broken;
    broken.reserve(text.size() + 1);
    broken.append(text.substr(0, cut));
    broken.push_back('\n');
    broken.append(text.substr(cut));
    return broken;
}

}  // namespace tarnwick
