#include "platform/windows/wide_text.h"

#include <cstring>

#include "common/utf16_text.h"

namespace tarnwick {

static_assert(sizeof(wchar_t) == 2, "Windows's wide characters are UTF-16 code units");

std::wstring WideText(std::string_view utf8) {
    const std::string units = Utf8ToUtf16(utf8, TByteOrder::LittleEndian);
    std::wstring wide(units.size() / 2, L'\0');
    std::memcpy(wide.data(), units.data(), wide.size() * 2);
    return wide;
}

std::string Utf8Text(std::wstring_view wide) {
    return Utf16ToUtf8(std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size() * 2),
                       TByteOrder::LittleEndian);
}

}  // namespace tarnwick
