#include "base/PrivateFolder.h"

#include <array>
#include <memory>

#include "base/FolderTree.h"
#include "base/Md5.h"
#include "base/ProtectedFolder.h"
#include "base/SystemInfo.h"
#include "base/TempFile.h"

namespace quillo {
namespace {

// The digest of everything `file` holds, read from its start.
bool DigestOfHandle(HANDLE file, std::array<uint8_t, 16>& digest) {
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kCopyWindow]);
    Md5 md5;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.get(), static_cast<DWORD>(kCopyWindow), &read, nullptr)) return false;
        if (read == 0) break;
        md5.update(buffer.get(), read);
    }
    digest = md5.finish();
    return true;
}

}  // namespace

bool PrivateFolder::Create() {
    Remove();
    const std::wstring temp = TempFolder();
    const std::wstring digits = UniqueHex16();
    if (temp.empty() || digits.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    const std::wstring folder = temp + kPrivateFolderPrefix + digits;
    if (!CreateProtectedFolder(folder, PrivateFolderSddl(CurrentUserSid()))) return false;
    path_ = folder;
    return true;
}

void PrivateFolder::Remove() {
    if (path_.empty()) return;
    DeleteFolderTree(path_);
    path_.clear();
}

bool HeldFile::Write(const std::wstring& path, ByteSource& source, uint64_t offset, uint64_t length) {
    Release();
    // Nobody else may open it while it is written.
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    Md5 written;
    const bool copied = CopyRange(source, offset, length, [out, &written](uint8_t* data, size_t size) {
        written.update(data, size);
        DWORD done = 0;
        return WriteFile(out, data, static_cast<DWORD>(size), &done, nullptr) && done == size;
    });
    DWORD error = copied ? ERROR_SUCCESS : GetLastError();
    CloseHandle(out);
    // A handle that may write cannot stay open while the system maps the
    // file to run it; the file is opened again at once for reading only,
    // and what it then holds must be what was written.
    if (copied && Hold(path)) {
        std::array<uint8_t, 16> held = {};
        if (DigestOfHandle(handle_, held) && held == written.finish()) return true;
        error = ERROR_FILE_INVALID;
        Release();
    } else if (copied) {
        error = GetLastError();
    }
    DeleteFileW(path.c_str());
    SetLastError(error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
    return false;
}

bool HeldFile::Hold(const std::wstring& path) {
    Release();
    handle_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    path_ = path;
    return true;
}

void HeldFile::Release() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    path_.clear();
}

}  // namespace quillo
