// A file written through mapped views: the partial file of a download.
// Windows file mapping, or mmap on the native build.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/FileSource.h"

namespace quillo {

// The boundary every mapped view must start on (65536 on usual Windows
// systems; the native build uses the same value).
uint32_t AllocationGranularity();

class MappedView {
public:
    MappedView() = default;
    MappedView(void* base, uint8_t* data, size_t length) : base_(base), data_(data), length_(length) {}
    MappedView(MappedView&& other) noexcept { *this = static_cast<MappedView&&>(other); }
    MappedView& operator=(MappedView&& other) noexcept;
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    ~MappedView() { unmap(); }

    uint8_t* data() const { return data_; }
    size_t length() const { return length_; }
    explicit operator bool() const { return data_ != nullptr; }
    void unmap();

private:
    void* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t length_ = 0;
};

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() { close(); }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Opens for reading and writing, shared for both, creating the file when
    // missing and keeping its contents when present.
    bool open(const NativePath& path);
    // A read-write mapping of exactly `size` bytes; the file is set to that size.
    bool createMapping(uint64_t size);
    // A writable view; `offset` must be a multiple of AllocationGranularity().
    MappedView mapView(uint64_t offset, size_t length) const;
    void close();

private:
#ifdef _WIN32
    void* file_ = nullptr;
    void* mapping_ = nullptr;
#else
    int fd_ = -1;
    bool mapped_ = false;
#endif
    uint64_t size_ = 0;
};

}  // namespace quillo
