#include "base/FileSource.h"

#include <algorithm>
#include <memory>
#include <new>

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

namespace {

// The native read with its own position: ReadFile with an OVERLAPPED
// position would also post a completion for every read, and under Wine that
// is a round trip to the server each time.
using NtReadFileFn = LONG(NTAPI*)(HANDLE, HANDLE, void*, void*, void* status, void* buffer, ULONG length,
                                  LARGE_INTEGER* offset, ULONG* key);
NtReadFileFn NativeRead() {
    static const auto read = reinterpret_cast<NtReadFileFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtReadFile")));
    return read;
}

struct IoStatus {
    union {
        LONG status;
        void* pointer;
    };
    ULONG_PTR information;
};

}  // namespace

bool FileSource::readAt(uint64_t offset, void* buffer, size_t length) {
    if (!handle_ || offset > size_ || length > size_ - offset) return false;
    HANDLE h = static_cast<HANDLE>(handle_);
    auto* out = static_cast<uint8_t*>(buffer);
    const NtReadFileFn native = NativeRead();
    // Each read names its own position: no separate seek, and two threads
    // may read the same file at once.
    while (length > 0) {
        const ULONG want = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
        ULONG_PTR got = 0;
        if (native) {
            IoStatus status = {};
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(offset);
            // The handle is synchronous: the call returns when the read is done.
            if (native(h, nullptr, nullptr, nullptr, &status, out, want, &at, nullptr) < 0) return false;
            got = status.information;
        } else {
            OVERLAPPED at = {};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD read = 0;
            if (!ReadFile(h, out, want, &read, &at)) return false;
            got = read;
        }
        if (got == 0 || got > want) return false;
        out += got;
        offset += got;
        length -= got;
    }
    return true;
}

bool RenameNoReplace(const NativePath& from, const NativePath& to) {
    return MoveFileW(from.c_str(), to.c_str()) != FALSE;
}

bool PathExists(const NativePath& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool RemoveFile(const NativePath& path) { return DeleteFileW(path.c_str()) != FALSE; }

bool OutputFile::create(const NativePath& path) {
    finish();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = h;
    path_ = path;
    ok_ = true;
    return true;
}

bool OutputFile::write(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (ok_ && size > 0) {
        const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD done = 0;
        ok_ = WriteFile(static_cast<HANDLE>(handle_), p, want, &done, nullptr) && done == want;
        p += done;
        size -= done;
    }
    return ok_;
}

WriteResult OutputFile::finish() {
    if (!handle_) return WriteResult::CreateFailed;
    const bool ok = CloseHandle(static_cast<HANDLE>(handle_)) && ok_;
    handle_ = nullptr;
    if (!ok) {
        DeleteFileW(path_.c_str());
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
    // Positioned reads: two threads may read the same file at once.
    const int fd = fileno(static_cast<FILE*>(handle_));
    auto* out = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        const ssize_t got = pread(fd, out, length, static_cast<off_t>(offset));
        if (got <= 0) return false;
        out += got;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<size_t>(got);
    }
    return true;
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

bool OutputFile::create(const NativePath& path) {
    finish();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    handle_ = f;
    path_ = path;
    ok_ = true;
    return true;
}

bool OutputFile::write(const void* data, size_t size) {
    if (ok_ && size) ok_ = std::fwrite(data, 1, size, static_cast<FILE*>(handle_)) == size;
    return ok_;
}

WriteResult OutputFile::finish() {
    if (!handle_) return WriteResult::CreateFailed;
    const bool ok = (std::fclose(static_cast<FILE*>(handle_)) == 0) && ok_;
    handle_ = nullptr;
    if (!ok) {
        unlink(path_.c_str());
        return WriteResult::WriteFailed;
    }
    return WriteResult::Ok;
}

#endif

OutputFile::~OutputFile() {
    // An unfinished file is not left behind as if it were whole.
    ok_ = false;
    finish();
}

WriteResult WriteFileParts(const NativePath& path, const std::vector<ByteRange>& parts) {
    OutputFile file;
    if (!file.create(path)) return WriteResult::CreateFailed;
    for (const ByteRange& part : parts) {
        if (!file.write(part.data, part.size)) break;
    }
    return file.finish();
}

bool CopyRange(ByteSource& source, uint64_t offset, uint64_t length, const ByteSink& sink) {
    std::unique_ptr<uint8_t[]> window(new (std::nothrow) uint8_t[kCopyWindow]);
    if (!window) return false;
    for (uint64_t done = 0; done < length;) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(kCopyWindow, length - done));
        if (!source.readAt(offset + done, window.get(), chunk) || !sink(window.get(), chunk)) return false;
        done += chunk;
    }
    return true;
}

}  // namespace quillo
