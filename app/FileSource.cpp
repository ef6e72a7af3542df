#include "app/FileSource.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillo {

bool MemorySource::readAt(uint64_t offset, void* buffer, size_t length) {
    if (offset > size_ || length > size_ - offset) return false;
    if (length) std::memcpy(buffer, data_ + offset, length);
    return true;
}

FileSource::~FileSource() { close(); }

#ifdef _WIN32

bool FileSource::open(const NativePath& path) {
    close();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size)) {
        CloseHandle(h);
        return false;
    }
    handle_ = h;
    size_ = static_cast<uint64_t>(size.QuadPart);
    return true;
}

void FileSource::close() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    size_ = 0;
}

bool FileSource::readAt(uint64_t offset, void* buffer, size_t length) {
    if (!handle_ || offset > size_ || length > size_ - offset) return false;
    HANDLE h = static_cast<HANDLE>(handle_);
    LARGE_INTEGER pos;
    pos.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(h, pos, nullptr, FILE_BEGIN)) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        const DWORD want = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
        DWORD got = 0;
        if (!ReadFile(h, out, want, &got, nullptr) || got == 0) return false;
        out += got;
        length -= got;
    }
    return true;
}

bool RenameNoReplace(const NativePath& from, const NativePath& to) {
    return MoveFileW(from.c_str(), to.c_str()) != FALSE;
}

bool PathExists(const NativePath& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool RemoveFile(const NativePath& path) { return DeleteFileW(path.c_str()) != FALSE; }

WriteResult WriteFileParts(const NativePath& path, const std::vector<ByteRange>& parts) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return WriteResult::CreateFailed;
    bool ok = true;
    for (const ByteRange& part : parts) {
        const auto* p = static_cast<const uint8_t*>(part.data);
        size_t left = part.size;
        while (ok && left > 0) {
            const DWORD want = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
            DWORD done = 0;
            ok = WriteFile(h, p, want, &done, nullptr) && done == want;
            p += done;
            left -= done;
        }
    }
    ok = CloseHandle(h) && ok;
    if (!ok) {
        DeleteFileW(path.c_str());
        return WriteResult::WriteFailed;
    }
    return WriteResult::Ok;
}

#else

bool FileSource::open(const NativePath& path) {
    close();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        return false;
    }
    handle_ = f;
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

void FileSource::close() {
    if (handle_) std::fclose(static_cast<FILE*>(handle_));
    handle_ = nullptr;
    size_ = 0;
}

bool FileSource::readAt(uint64_t offset, void* buffer, size_t length) {
    if (!handle_ || offset > size_ || length > size_ - offset) return false;
    FILE* f = static_cast<FILE*>(handle_);
    if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return std::fread(buffer, 1, length, f) == length;
}

bool RenameNoReplace(const NativePath& from, const NativePath& to) {
    // link() fails when `to` exists; the old name is then removed.
    if (link(from.c_str(), to.c_str()) != 0) return false;
    unlink(from.c_str());
    return true;
}

bool PathExists(const NativePath& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool RemoveFile(const NativePath& path) { return unlink(path.c_str()) == 0; }

WriteResult WriteFileParts(const NativePath& path, const std::vector<ByteRange>& parts) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return WriteResult::CreateFailed;
    bool ok = true;
    for (const ByteRange& part : parts) {
        if (ok && part.size) ok = std::fwrite(part.data, 1, part.size, f) == part.size;
    }
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        unlink(path.c_str());
        return WriteResult::WriteFailed;
    }
    return WriteResult::Ok;
}

#endif

}  // namespace quillo
