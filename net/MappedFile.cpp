#include "net/MappedFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace quillo {

MappedView& MappedView::operator=(MappedView&& other) noexcept {
    if (this != &other) {
        unmap();
        base_ = other.base_;
        data_ = other.data_;
        length_ = other.length_;
        other.base_ = nullptr;
        other.data_ = nullptr;
        other.length_ = 0;
    }
    return *this;
}

#ifdef _WIN32

uint32_t AllocationGranularity() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwAllocationGranularity ? info.dwAllocationGranularity : 65536;
}

void MappedView::unmap() {
    if (base_) UnmapViewOfFile(base_);
    base_ = nullptr;
    data_ = nullptr;
    length_ = 0;
}

bool MappedFile::open(const NativePath& path) {
    close();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    file_ = h;
    return true;
}

bool MappedFile::createMapping(uint64_t size) {
    if (!file_ || mapping_ || size == 0) return false;
    // A partial file left by an earlier download of another size must not
    // keep its tail: the finished file is exactly `size` bytes.
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(static_cast<HANDLE>(file_), end, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(static_cast<HANDLE>(file_)))
        return false;
    HANDLE m = CreateFileMappingW(static_cast<HANDLE>(file_), nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                                  static_cast<DWORD>(size), nullptr);
    if (!m) return false;
    mapping_ = m;
    size_ = size;
    return true;
}

MappedView MappedFile::mapView(uint64_t offset, size_t length) const {
    if (!mapping_ || length == 0 || offset > size_ || length > size_ - offset) return MappedView();
    void* p = MapViewOfFile(static_cast<HANDLE>(mapping_), FILE_MAP_WRITE, static_cast<DWORD>(offset >> 32),
                            static_cast<DWORD>(offset), length);
    if (!p) return MappedView();
    return MappedView(p, static_cast<uint8_t*>(p), length);
}

void MappedFile::close() {
    if (mapping_) CloseHandle(static_cast<HANDLE>(mapping_));
    if (file_) CloseHandle(static_cast<HANDLE>(file_));
    mapping_ = nullptr;
    file_ = nullptr;
    size_ = 0;
}

#else

uint32_t AllocationGranularity() { return 65536; }

void MappedView::unmap() {
    if (base_) munmap(base_, length_);
    base_ = nullptr;
    data_ = nullptr;
    length_ = 0;
}

bool MappedFile::open(const NativePath& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
    return fd_ >= 0;
}

bool MappedFile::createMapping(uint64_t size) {
    if (fd_ < 0 || mapped_ || size == 0) return false;
    if (ftruncate(fd_, static_cast<off_t>(size)) != 0) return false;
    mapped_ = true;
    size_ = size;
    return true;
}

MappedView MappedFile::mapView(uint64_t offset, size_t length) const {
    if (!mapped_ || length == 0 || offset > size_ || length > size_ - offset) return MappedView();
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, static_cast<off_t>(offset));
    if (p == MAP_FAILED) return MappedView();
    return MappedView(p, static_cast<uint8_t*>(p), length);
}

void MappedFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    mapped_ = false;
    size_ = 0;
}

#endif

}  // namespace quillo
