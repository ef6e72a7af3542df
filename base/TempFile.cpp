#include "base/TempFile.h"

#include <objbase.h>
#include <winternl.h>

#include "base/FileSource.h"
#include "base/SystemInfo.h"

namespace quillo {

std::wstring UniqueHex16() {
    GUID guid = {};
    if (FAILED(CoCreateGuid(&guid))) return std::wstring();
    const unsigned long long value = static_cast<unsigned long long>(guid.Data1) |
                                     (static_cast<unsigned long long>(guid.Data2) << 32) |
                                     (static_cast<unsigned long long>(guid.Data3) << 48);
    wchar_t digits[17];
    for (int i = 15; i >= 0; --i) digits[15 - i] = L"0123456789ABCDEF"[(value >> (i * 4)) & 0xF];
    digits[16] = L'\0';
    return digits;
}

bool WriteTempFile(const void* data, size_t length, const wchar_t* extension, std::wstring& path) {
    const std::wstring digits = UniqueHex16();
    if (digits.empty()) return false;
    // The temporary folder ends with a backslash; the second one is accepted.
    path = TempFolder() + L"\\" + digits + extension;

    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    bool ok = true;
    while (ok && length > 0) {
        const DWORD chunk = length > 0x1000000 ? 0x1000000 : static_cast<DWORD>(length);
        DWORD written = 0;
        ok = WriteFile(file, bytes, chunk, &written, nullptr) && written == chunk;
        bytes += chunk;
        length -= chunk;
    }
    CloseHandle(file);
    if (!ok) DeleteFileW(path.c_str());
    return ok;
}

bool WriteTempArchive(const void* package, size_t length, std::wstring& archivePath) {
    return WriteTempFile(package, length, L".zip", archivePath);
}

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
    // The temporary folder ends with a backslash; the second one is accepted.
    return CreateIn(TempFolder() + L"\\", extension);
}

bool TempFile::CreateInPrivateFolder(const wchar_t* extension) {
    Close();
    folder_.reset(new PrivateFolder);
    if (folder_->Create() && CreateIn(folder_->path() + L"\\", extension)) return true;
    folder_.reset();
    return false;
}

bool TempFile::CreateIn(const std::wstring& folder, const wchar_t* extension) {
    const std::wstring digits = UniqueHex16();
    if (digits.empty()) return false;
    path_ = folder + digits + extension;
    handle_ = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
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
    if (folder_) folder_->Keep();
}

void TempFile::Close() {
    if (open()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    folder_.reset();  // the folder goes with the file
}

}  // namespace quillo
