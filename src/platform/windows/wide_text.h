// The program's texts are UTF-8; Windows's wide-character calls take UTF-16.
// The conversion happens here, at the edge, and is lossless both ways for
// what the program itself holds (see common/utf16_text.h).
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

std::wstring WideText(std::string_view utf8);
std::string Utf8Text(std::wstring_view wide);

}  // namespace tarnwick
