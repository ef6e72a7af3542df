#include "install/TempFile.h"

#include <winternl.h>

#include "app/SystemInfo.h"
#include "install/PackageExtractor.h"

namespace quillo {

bool SetDeleteOnClose(HANDLE file, bool deleteOnClose) {
    // The native call exists on every NT system; the kernel32 wrapper for it
    // only from Vista on.
    using SetInformationFn = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
    static const auto setInformation = reinterpret_cast<SetInformationFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile")));
    if (!setInformation) return false;
    struct {
        BOOLEAN deleteFile;
    } disposition = {static_cast<BOOLEAN>(deleteOnClose ? TRUE : FALSE)};
    IO_STATUS_BLOCK status = {};
    constexpr ULONG kFileDispositionInformation = 13;
    return setInformation(file, &status, &disposition, sizeof disposition, kFileDispositionInformation) >= 0;
}

bool TempFile::Create(const wchar_t* extension) {
    Close();
    const std::wstring digits = UniqueHex16();
    if (digits.empty()) return false;
    // The temporary folder ends with a backslash; the second one is accepted.
    path_ = TempFolder() + L"\\" + digits + extension;
    handle_ = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                          nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    if (!SetDeleteOnClose(handle_, true)) {
        // Without the mark the file would outlive a killed run.
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        DeleteFileW(path_.c_str());
        return false;
    }
    return true;
}

bool TempFile::Write(const void* data, size_t length) {
    if (!open()) return false;
    const auto* bytes = static_cast<const BYTE*>(data);
    while (length > 0) {
        const DWORD chunk = length > 0x1000000 ? 0x1000000 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(handle_, bytes, chunk, &written, nullptr) || written != chunk) return false;
        bytes += chunk;
        length -= chunk;
    }
    return true;
}

void TempFile::Keep() {
    if (open()) SetDeleteOnClose(handle_, false);
}

void TempFile::Close() {
    if (open()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

}  // namespace quillo
