// The container appended to the program's own executable: a locator in the
// DOS header, a JSON block, and in setup files the package and up to two
// optional sections. All integers are unsigned 32-bit little-endian, and every
// bound is checked in 64-bit arithmetic so that no crafted length can wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/FileSource.h"
#include "json/JValue.h"

namespace quillo {

// Where the locator sits: the last four bytes before the PE signature.
constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kLfanewOffset = 0x3C;
// The setup file is read in windows of this size: the package (up to 4 GiB)
// and the sections are streamed from the file, never held whole.
constexpr size_t kSetupReadWindow = kCopyWindow;

// Why a block could not be read; each value names the check that failed.
enum class BlockStatus {
    Ok,
    OpenFailed,         // the file cannot be opened
    TooLarge,           // 4 GiB or more: offsets are 32-bit
    HeaderUnreadable,   // no DOS header, or e_lfanew does not leave room for the locator
    LocatorZero,        // O = 0: an image without appended data
    LocatorBeyondFile,  // O >= S (O = S leaves no room for L)
    LengthDoesNotFit,   // O + 4 + L > S
    TextUnreadable,     // the JSON text cannot be read
    JsonInvalid,        // the text is not valid JSON
};
const char* BlockStatusText(BlockStatus status);

struct BlockLayout {
    uint64_t fileSize = 0;
    uint32_t lfanew = 0;
    uint32_t offset = 0;      // O
    uint32_t textLength = 0;  // L
};

// Reads and parses the JSON block. `layout` receives what was read before a
// failure; `jsonError` the reader's message when the text is not valid JSON.
BlockStatus ReadAppendedBlock(ByteSource& source, JValue& block, BlockLayout* layout = nullptr,
                              std::string* jsonError = nullptr);
bool ReadAppendedBlock(const NativePath& path, JValue& block);

// The install error code that ReadSetupImage gives for a file whose block
// failed with `status` (1 to 4), or 4 for a block that was read but holds no
// "mode". What a quiet run ends with when it cannot use its own block.
int RejectedBlockCode(BlockStatus status, const BlockLayout& layout);

// The layout of a setup file as the install sequence uses it: offsets,
// lengths and the parsed block. The bytes themselves stay in the file and
// are read from `source` when they are needed.
struct SetupImage {
    // The setup file. One read by path stays open, shared for reading only
    // (so that nobody can change it underneath), while any copy lives.
    std::shared_ptr<ByteSource> source;
    uint64_t fileSize = 0;       // S
    uint32_t offset = 0;         // O: the image is bytes [0, O)
    uint32_t textLength = 0;     // L
    JValue block;
    uint64_t packageOffset = 0;  // O + 8 + L
    uint32_t packageSize = 0;    // P

    size_t imageSize() const { return offset; }
    uint64_t packageEnd() const { return packageOffset + packageSize; }
    // Reads bytes of the file; false outside it or when the read fails.
    bool Read(uint64_t at, void* buffer, size_t length) const;
    // A copy of a range of the file, for small files (tests and tools);
    // empty when it cannot be read.
    std::vector<uint8_t> Copy(uint64_t at, uint64_t length) const;
    std::vector<uint8_t> ImageCopy() const { return Copy(0, offset); }
    std::vector<uint8_t> PackageCopy() const { return Copy(packageOffset, packageSize); }
};

// Fills `out` and returns 0, or an install error code from 1 to 5:
// 1 no usable locator, 2 read failure, 3 block length does not fit,
// 4 invalid JSON, 5 package does not fit. Only the header, the block and
// the size fields are read here. A read failure anywhere in the file is code
// 2: before a code 3 to 5 the rest of the file is read through to tell; on
// success, ReadSetupPass (the install's one pass over the whole file) does.
// `source` must outlive `out`; the path overload keeps its file open in
// `out`.
int ReadSetupImage(ByteSource& source, SetupImage& out);
int ReadSetupImage(const NativePath& path, SetupImage& out);
// The same on a file that is already open (the program's own, held since
// its start). A signed file is read only up to its certificate table: no
// section, package or block is ever taken from the signature's bytes.
int ReadSetupImage(const std::shared_ptr<ByteSource>& file, SetupImage& out);

// Where the signed content of a PE file ends: the start of its certificate
// table when the header names one that lies behind the image and within the
// file; the file's size otherwise.
uint64_t SignedContentEnd(ByteSource& file, uint64_t imageSize);

// A size-prefixed section of the file.
struct Section {
    uint64_t dataOffset = 0;
    uint32_t size = 0;
};

// Reads the size field at `start` and locates the bytes behind it; false when
// either does not lie within the file (or the size field cannot be read).
bool ReadSection(ByteSource& file, uint64_t start, Section& out);
bool ReadSection(const uint8_t* file, size_t fileSize, uint64_t start, Section& out);


struct OptionalSections {
    bool hasExtra = false;
    Section extra;
    bool hasDriver = false;
    Section driver;
};

// The extra section (only when `extraPack`) follows the package, the driver
// section (only when `wantDriver`) follows the extra section when that one was
// used, else the package. A section that does not fit counts as absent.
OptionalSections LocateSections(const SetupImage& setup, bool extraPack, bool wantDriver);

// The certificate-table entry of a PE image's header (data directory 4:
// file offset and size of an Authenticode signature).
constexpr uint32_t kCertificateDirectory = 4;
// Where that entry's 8 bytes lie in the first `imageSize` bytes of `image`
// (PE32 or PE32+ optional header); 0 when the header cannot be parsed, has
// no such entry or is cut short.
uint64_t CertificateEntryOffset(ByteSource& image, uint64_t imageSize);
uint64_t CertificateEntryOffset(const uint8_t* image, size_t imageSize);

// Writes the uninstaller: the image, the length of the manifest text, the
// compact manifest text. The image's certificate-table entry is cleared in
// the copy (the setup file's signature is not copied, so it would point past
// the uninstaller's end); an image whose header cannot be parsed is copied
// unchanged. True when the file was created and written whole; a partly
// written file is removed so that no truncated uninstaller is left.
bool WriteUninstaller(const NativePath& path, const uint8_t* image, size_t imageSize, const JValue& manifest);
// The same with the image read in windows from the first `imageSize` bytes
// of `image` (the setup file itself).
bool WriteUninstaller(const NativePath& path, ByteSource& image, uint64_t imageSize, const JValue& manifest);
bool WriteUninstaller(const NativePath& path, const SetupImage& setup, const JValue& manifest);

// Little-endian helpers shared with the release tools.
inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline void StoreLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace quillo
