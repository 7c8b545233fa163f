#include "platform/windows/windows_version_info.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/windows/wide_text.h"

namespace tarnwick {

namespace {

// The UTF-16 string at `query` in the version block, up to its first NUL.
std::wstring_view QueryText(const std::vector<uint8_t>& block, const std::wstring& query) {
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), query.c_str(), &value, &length) || value == nullptr || length == 0) return {};
    const std::wstring_view text(static_cast<const wchar_t*>(value), length);
    return text.substr(0, text.find(L'\0'));
}

}  // namespace

TProcessInfoFields ReadProcessInfoFields(const std::string& path) {
    TProcessInfoFields fields;
    const std::wstring file = WideText(path);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return fields;
    std::vector<uint8_t> block(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return fields;

    // The first translation: a language and a code page, which name the
    // table of strings to read.
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4) return fields;
    const auto* translation = static_cast<const WORD*>(value);
    wchar_t table[40];
    std::swprintf(table, std::size(table), L"\\StringFileInfo\\%04X%04X\\", translation[0], translation[1]);
    for (size_t i = 0; i < kProcessInfoFields.size(); ++i) {
        const std::string text = Utf8Text(QueryText(block, table + WideText(kProcessInfoFields[i].Key)));
        fields.Values[i] = TrimVersionText(text);
    }
    return fields;
}

}  // namespace tarnwick
