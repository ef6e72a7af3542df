// Random-access reading and whole-file writing with the platform's own file
// API (wide paths and share modes on Windows, stdio on the native build).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillo {

// The window in which ranges of a file are read and copied.
constexpr size_t kCopyWindow = 512 * 1024;

#ifdef _WIN32
using NativePath = std::wstring;
#else
using NativePath = std::string;
#endif

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    // Reads exactly `length` bytes at `offset`; false when they are not all there.
    virtual bool readAt(uint64_t offset, void* buffer, size_t length) = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    uint64_t size() const override { return size_; }
    bool readAt(uint64_t offset, void* buffer, size_t length) override;

private:
    const uint8_t* data_;
    size_t size_;
};

// The first `limit` bytes of another source (which it keeps alive).
class PrefixSource : public ByteSource {
public:
    PrefixSource(std::shared_ptr<ByteSource> source, uint64_t limit)
        : source_(std::move(source)), limit_(limit < source_->size() ? limit : source_->size()) {}
    uint64_t size() const override { return limit_; }
    bool readAt(uint64_t offset, void* buffer, size_t length) override {
        return offset <= limit_ && length <= limit_ - offset && source_->readAt(offset, buffer, length);
    }

private:
    std::shared_ptr<ByteSource> source_;
    uint64_t limit_;
};

// A file opened for reading, sharing read access only.
class FileSource : public ByteSource {
public:
    FileSource() = default;
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool open(const NativePath& path);
    void close();
    bool isOpen() const { return handle_ != nullptr; }
    uint64_t size() const override { return size_; }
    bool readAt(uint64_t offset, void* buffer, size_t length) override;

private:
    void* handle_ = nullptr;  // HANDLE on Windows, FILE* elsewhere
    uint64_t size_ = 0;
};

// One piece of a file being written.
struct ByteRange {
    const void* data;
    size_t size;
};

enum class WriteResult { Ok, CreateFailed, WriteFailed };

// Creates or replaces `path` and writes the pieces in order. A file whose
// content could not be written completely is removed again.
WriteResult WriteFileParts(const NativePath& path, const std::vector<ByteRange>& parts);

// A file written piece by piece, for content that is never held whole. A
// file that was not written completely, or not finished, is removed again.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or replaces the file; false when it cannot be created.
    bool create(const NativePath& path);
    // Appends; false on a short write, after which nothing more is written.
    bool write(const void* data, size_t size);
    // Closes the file: Ok when it was written whole, else it is removed.
    WriteResult finish();

private:
    void* handle_ = nullptr;  // HANDLE on Windows, FILE* elsewhere
    NativePath path_;
    bool ok_ = false;
};

// Renames a file; fails when `to` already exists.
bool RenameNoReplace(const NativePath& from, const NativePath& to);

// True when something (file or folder) exists at `path`.
bool PathExists(const NativePath& path);

// Removes a file; false when it could not be removed (or did not exist).
bool RemoveFile(const NativePath& path);

// Copies `length` bytes at `offset` of `source` to `sink` in windows of
// kCopyWindow bytes (which the sink may change). False when a read
// fails or the sink refuses.
using ByteSink = std::function<bool(uint8_t* data, size_t size)>;
bool CopyRange(ByteSource& source, uint64_t offset, uint64_t length, const ByteSink& sink);
}  // namespace quillo
