#include "install/ZipStreams.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

// after unzip.h, which provides what this header expects
#include <minizip/iowin32.h>

namespace quillo {
namespace {

// A read-only stream over the package inside the setup file, for the ZIP
// reader. The reader asks for a few bytes at a time (header fields byte by
// byte) and moves between the central directory and the entries' data, so
// reads go through two cached windows: one stays on the directory while
// the other follows the data. Reads of a window or more bypass the cache.
constexpr size_t kStreamWindow = 64 * 1024;

struct RangeStream {
    ByteSource* file = nullptr;
    uint64_t base = 0;
    uint64_t size = 0;
    uint64_t position = 0;
    struct Window {
        uint64_t start = 0;
        size_t length = 0;
        unsigned long used = 0;  // when it last served a read
    } windows[2];
    unsigned long clock = 0;
    bool failed = false;
    std::unique_ptr<uint8_t[]> bytes;  // the two windows, one after the other

    // Copies up to `want` bytes at the position; fewer at the end or on a read failure.
    size_t Read(uint8_t* out, size_t want) {
        const uint64_t left = position < size ? size - position : 0;
        if (want > left) want = static_cast<size_t>(left);
        size_t done = 0;
        while (done < want) {
            const size_t n = want - done;
            if (n >= kStreamWindow) {
                if (!file->readAt(base + position, out + done, n)) {
                    failed = true;
                    break;
                }
                position += n;
                done += n;
                continue;
            }
            int w = Find(position);
            if (w < 0) w = Fill(position);
            if (w < 0) break;
            Window& window = windows[w];
            window.used = ++clock;
            const size_t at = static_cast<size_t>(position - window.start);
            const size_t take = std::min(n, window.length - at);
            std::memcpy(out + done, bytes.get() + w * kStreamWindow + at, take);
            position += take;
            done += take;
        }
        return done;
    }

private:
    int Find(uint64_t at) const {
        for (int w = 0; w < 2; ++w) {
            if (windows[w].length && at >= windows[w].start && at - windows[w].start < windows[w].length) return w;
        }
        return -1;
    }
    // Reads the window that starts at `at` into the slot used least recently.
    int Fill(uint64_t at) {
        const int w = windows[0].used <= windows[1].used ? 0 : 1;
        const size_t length = static_cast<size_t>(std::min<uint64_t>(kStreamWindow, size - at));
        windows[w].length = 0;
        if (!file->readAt(base + at, bytes.get() + w * kStreamWindow, length)) {
            failed = true;
            return -1;
        }
        windows[w].start = at;
        windows[w].length = length;
        return w;
    }
};

voidpf ZCALLBACK RangeOpen(voidpf opaque, const void* /*name*/, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    const auto* package = static_cast<const PackageSource*>(opaque);
    std::unique_ptr<RangeStream> stream(new (std::nothrow) RangeStream);
    if (!stream) return nullptr;
    stream->file = package->file;
    stream->base = package->offset;
    stream->size = package->size;
    stream->bytes.reset(new (std::nothrow) uint8_t[2 * kStreamWindow]);
    return stream->bytes ? stream.release() : nullptr;
}

uLong ZCALLBACK RangeRead(voidpf, voidpf stream, void* buffer, uLong size) {
    return static_cast<uLong>(static_cast<RangeStream*>(stream)->Read(static_cast<uint8_t*>(buffer), size));
}

ZPOS64_T ZCALLBACK RangeTell(voidpf, voidpf stream) { return static_cast<RangeStream*>(stream)->position; }

long ZCALLBACK RangeSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* s = static_cast<RangeStream*>(stream);
    uint64_t base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = s->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = s->size; break;
    default: return -1;
    }
    if (offset > s->size || base > s->size - offset) return -1;
    s->position = base + offset;
    return 0;
}

int ZCALLBACK RangeClose(voidpf, voidpf stream) {
    delete static_cast<RangeStream*>(stream);
    return 0;
}

int ZCALLBACK RangeError(voidpf, voidpf stream) { return static_cast<RangeStream*>(stream)->failed ? 1 : 0; }

uLong ZCALLBACK NoWrite(voidpf, voidpf, const void*, uLong) { return 0; }

int ZCALLBACK NoError(voidpf, voidpf) { return 0; }

// A read-only stream over a file handle that is already open (a temporary
// file marked for deletion cannot be opened again by its name). Each stream
// reads through a duplicate of that handle, with a position of its own.
struct HandleStream {
    HANDLE file;
};

voidpf ZCALLBACK HandleOpen(voidpf opaque, const void* /*name*/, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), static_cast<HANDLE>(opaque), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    // A duplicate shares the file position with the original; the stream
    // starts from the beginning.
    LARGE_INTEGER zero = {};
    SetFilePointerEx(copy, zero, nullptr, FILE_BEGIN);
    auto* stream = new (std::nothrow) HandleStream{copy};
    if (!stream) CloseHandle(copy);
    return stream;
}

uLong ZCALLBACK HandleRead(voidpf, voidpf stream, void* buffer, uLong size) {
    DWORD read = 0;
    if (!ReadFile(static_cast<HandleStream*>(stream)->file, buffer, size, &read, nullptr)) return 0;
    return read;
}

ZPOS64_T ZCALLBACK HandleTell(voidpf, voidpf stream) {
    LARGE_INTEGER zero = {}, position = {};
    if (!SetFilePointerEx(static_cast<HandleStream*>(stream)->file, zero, &position, FILE_CURRENT))
        return static_cast<ZPOS64_T>(-1);
    return static_cast<ZPOS64_T>(position.QuadPart);
}

long ZCALLBACK HandleSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    DWORD method = FILE_BEGIN;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: method = FILE_BEGIN; break;
    case ZLIB_FILEFUNC_SEEK_CUR: method = FILE_CURRENT; break;
    case ZLIB_FILEFUNC_SEEK_END: method = FILE_END; break;
    default: return -1;
    }
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(static_cast<HandleStream*>(stream)->file, distance, nullptr, method) ? 0 : -1;
}

int ZCALLBACK HandleClose(voidpf, voidpf stream) {
    auto* s = static_cast<HandleStream*>(stream);
    CloseHandle(s->file);
    delete s;
    return 0;
}

}  // namespace

unzFile OpenArchive(const std::wstring& archivePath, const PackageSource* package, HANDLE file) {
    zlib_filefunc64_def funcs;
    if (package && package->file) {
        funcs = {RangeOpen, RangeRead, NoWrite, RangeTell, RangeSeek, RangeClose, RangeError,
                 const_cast<PackageSource*>(package)};
    } else if (file != INVALID_HANDLE_VALUE && file != nullptr) {
        funcs = {HandleOpen, HandleRead, NoWrite, HandleTell, HandleSeek, HandleClose, NoError, file};
    } else {
        fill_win32_filefunc64W(&funcs);
    }
    return unzOpen2_64(archivePath.c_str(), &funcs);
}


}  // namespace quillo
