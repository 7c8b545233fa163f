#include "platform/record_file.h"

#include <windows.h>

#include <algorithm>
#include <optional>

#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_failure.h"

namespace tarnwick {

namespace {

class THandleRecordFile final : public TRecordFile {
public:
    // `owned` holds `handle` unless the handle is borrowed (standard output).
    THandleRecordFile(TUniqueHandle owned, HANDLE handle, std::string name)
        : Owned_(std::move(owned)), Handle_(handle), Name_(std::move(name)) {
        // Only a file on a disk can be cut back, from where this recording began.
        LARGE_INTEGER here{};
        if (::GetFileType(Handle_) == FILE_TYPE_DISK && ::SetFilePointerEx(Handle_, {}, &here, FILE_CURRENT))
            Start_ = static_cast<uint64_t>(here.QuadPart);
    }

    const std::string& Name() const override { return Name_; }

    // A reader that left a pipe is ERROR_NO_DATA or ERROR_BROKEN_PIPE here:
    // Windows raises no signal for it.
    TStatus Write(std::span<const uint8_t> bytes, size_t& written) override {
        written = 0;
        while (written < bytes.size()) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 30));
            DWORD done = 0;
            if (!::WriteFile(Handle_, bytes.data() + written, chunk, &done, nullptr))
                return FailureFromLastError("recording to " + Name_);
            written += done;
        }
        return {};
    }

    TStatus CutTo(uint64_t size) override {
        if (!Start_) return TFailure{0, "cutting " + Name_ + " back: not a regular file"};
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(*Start_ + size);
        if (!::SetFilePointerEx(Handle_, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(Handle_))
            return FailureFromLastError("cutting " + Name_ + " back");
        return {};
    }

private:
    TUniqueHandle Owned_;
    HANDLE Handle_;
    std::string Name_;
    std::optional<uint64_t> Start_;
};

}  // namespace

TResult<std::unique_ptr<TRecordFile>> CreateRecordFile(const std::string& path) {
    // Others may read the recording while it grows.
    TUniqueHandle file(::CreateFileW(WideText(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return FailureFromLastError("opening " + path);
    const HANDLE handle = file.Get();
    return std::unique_ptr<TRecordFile>(std::make_unique<THandleRecordFile>(std::move(file), handle, path));
}

std::unique_ptr<TRecordFile> StandardOutputRecordFile() {
    return std::make_unique<THandleRecordFile>(TUniqueHandle(), ::GetStdHandle(STD_OUTPUT_HANDLE),
                                               "standard output");
}

}  // namespace tarnwick
