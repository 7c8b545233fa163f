#include "platform/windows/registry_autostart.h"

#include <windows.h>

#include "platform/windows/wide_text.h"
#include "platform/windows/win32_failure.h"

namespace tarnwick {

TStatus TRegistryAutostart::Enable(const std::string& name, const std::string& executablePath) {
    const std::string context = "Failed to set data for '" + name + "'";
    HKEY key = nullptr;
    LSTATUS error = ::RegCreateKeyExW(HKEY_CURRENT_USER, WideText(kRunKeyPath).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                      nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS) return FailureFromWin32(static_cast<uint32_t>(error), context);
    const std::wstring data = WideText(executablePath);
    error = ::RegSetValueExW(key, WideText(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    if (error != ERROR_SUCCESS) return FailureFromWin32(static_cast<uint32_t>(error), context);
    return {};
}

void TRegistryAutostart::Disable(const std::string& name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, WideText(kRunKeyPath).c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    ::RegDeleteValueW(key, WideText(name).c_str());
    ::RegCloseKey(key);
}

}  // namespace tarnwick
