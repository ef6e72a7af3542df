#include "app/AppendedBlock.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

namespace quillo {

const char* BlockStatusText(BlockStatus status) {
    switch (status) {
        case BlockStatus::Ok: return "ok";
        case BlockStatus::OpenFailed: return "the file cannot be opened";
        case BlockStatus::TooLarge: return "the file is 4 GiB or larger";
        case BlockStatus::HeaderUnreadable: return "the DOS header or the locator cannot be read";
        case BlockStatus::LocatorZero: return "the locator is 0 (no appended data)";
        case BlockStatus::LocatorBeyondFile: return "the locator points at or past the end of the file";
        case BlockStatus::LengthDoesNotFit: return "the block length does not fit in the file (O + 4 + L > S)";
        case BlockStatus::TextUnreadable: return "the block text cannot be read";
        case BlockStatus::JsonInvalid: return "the block is not valid JSON";
    }
    return "unknown";
}

namespace {

constexpr uint64_t kMaxFileSize = std::numeric_limits<uint32_t>::max();

bool ReadLe32(ByteSource& source, uint64_t offset, uint32_t& value) {
    uint8_t bytes[4];
    if (!source.readAt(offset, bytes, sizeof bytes)) return false;
    value = LoadLe32(bytes);
    return true;
}

// Reads e_lfanew and the locator in front of the PE signature.
bool ReadLocator(ByteSource& source, BlockLayout& layout) {
    uint8_t header[kDosHeaderSize];
    if (!source.readAt(0, header, sizeof header)) return false;
    layout.lfanew = LoadLe32(header + kLfanewOffset);
    if (layout.lfanew < 4) return false;
    return ReadLe32(source, static_cast<uint64_t>(layout.lfanew) - 4, layout.offset);
}

bool ParseBlock(const uint8_t* text, uint32_t length, JValue& block, std::string* jsonError) {
    JReader reader;
    if (reader.parse(reinterpret_cast<const char*>(text), length, block)) return true;
    if (jsonError) *jsonError = reader.errorMessage();
    return false;
}

}  // namespace

BlockStatus ReadAppendedBlock(ByteSource& source, JValue& block, BlockLayout* layoutOut, std::string* jsonError) {
    BlockLayout scratch;
    BlockLayout& layout = layoutOut ? *layoutOut : scratch;
    layout = BlockLayout();
    layout.fileSize = source.size();
    if (layout.fileSize > kMaxFileSize) return BlockStatus::TooLarge;
    if (!ReadLocator(source, layout)) return BlockStatus::HeaderUnreadable;
    const uint64_t size = layout.fileSize;
    const uint64_t offset = layout.offset;
    if (offset == 0) return BlockStatus::LocatorZero;
    if (offset >= size) return BlockStatus::LocatorBeyondFile;
    if (offset + 4 > size || !ReadLe32(source, offset, layout.textLength)) return BlockStatus::LengthDoesNotFit;
    if (offset + 4 + layout.textLength > size) return BlockStatus::LengthDoesNotFit;
    std::vector<uint8_t> text(layout.textLength);
    if (!text.empty() && !source.readAt(offset + 4, text.data(), text.size())) return BlockStatus::TextUnreadable;
    if (!ParseBlock(text.data(), layout.textLength, block, jsonError)) return BlockStatus::JsonInvalid;
    return BlockStatus::Ok;
}

bool ReadAppendedBlock(const NativePath& path, JValue& block) {
    FileSource file;
    if (!file.open(path)) return false;
    return ReadAppendedBlock(file, block) == BlockStatus::Ok;
}

int RejectedBlockCode(BlockStatus status, const BlockLayout& layout) {
    switch (status) {
    case BlockStatus::LocatorBeyondFile:
        // A locator at the very end passes the reader's first check and
        // fails on the missing length.
        return layout.offset == layout.fileSize ? 3 : 1;
    case BlockStatus::LengthDoesNotFit: return 3;
    case BlockStatus::TextUnreadable: return 2;
    case BlockStatus::JsonInvalid:
    case BlockStatus::Ok: return 4;
    default: return 1;
    }
}

bool SetupImage::Read(uint64_t at, void* buffer, size_t length) const {
    return source && source->readAt(at, buffer, length);
}

std::vector<uint8_t> SetupImage::Copy(uint64_t at, uint64_t length) const {
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    if (length && !Read(at, bytes.data(), bytes.size())) bytes.clear();
    return bytes;
}

namespace {

// Whether every byte of the file can be read: what the whole-file read of
// old found out before any other check, kept for the codes 3 to 5.
bool ReadsThrough(ByteSource& source) {
    return CopyRange(source, 0, source.size(), [](uint8_t*, size_t) { return true; });
}

// Steps 3 to 5 of the reader: the block and the package's size field.
int ReadLayout(ByteSource& source, SetupImage& out) {
    const uint64_t size = out.fileSize;
    const uint64_t offset = out.offset;
    if (offset + 4 > size) return 3;
    if (!ReadLe32(source, offset, out.textLength)) return 2;
    const uint64_t textEnd = offset + 4 + out.textLength;
    if (textEnd > size) return 3;
    // The text lies within the file, but a crafted length may still ask for
    // more than the process can hold.
    std::unique_ptr<uint8_t[]> text(new (std::nothrow) uint8_t[out.textLength ? out.textLength : 1]);
    if (!text) return 2;
    if (out.textLength && !source.readAt(offset + 4, text.get(), out.textLength)) return 2;
    if (!ParseBlock(text.get(), out.textLength, out.block, nullptr)) return 4;
    text.reset();

    if (textEnd > size || size - textEnd < 4) return 5;
    uint32_t packageSize = 0;
    if (!ReadLe32(source, textEnd, packageSize)) return 2;
    if (size - textEnd - 4 < packageSize) return 5;
    out.packageOffset = textEnd + 4;
    out.packageSize = packageSize;
    return 0;
}

}  // namespace

int ReadSetupImage(ByteSource& source, SetupImage& out) {
    out = SetupImage();
    BlockLayout layout;
    const uint64_t size = source.size();
    if (size > kMaxFileSize || !ReadLocator(source, layout) || layout.offset == 0 || layout.offset > size) return 1;
    // Not owned: the caller's source outlives the image.
    out.source = std::shared_ptr<ByteSource>(std::shared_ptr<ByteSource>(), &source);
    out.fileSize = size;
    out.offset = layout.offset;
    const int code = ReadLayout(source, out);
    // The file was once read whole before these checks; a part of it that
    // cannot be read still makes the file unreadable (2) rather than damaged.
    if (code >= 3 && !ReadsThrough(source)) return 2;
    return code;
}

int ReadSetupImage(const NativePath& path, SetupImage& out) {
    auto file = std::make_shared<FileSource>();
    if (!file->open(path)) {
        out = SetupImage();
        return 1;
    }
    return ReadSetupImage(std::shared_ptr<ByteSource>(file), out);
}

int ReadSetupImage(const std::shared_ptr<ByteSource>& file, SetupImage& out) {
    if (!file) {
        out = SetupImage();
        return 1;
    }
    std::shared_ptr<ByteSource> content = file;
    BlockLayout layout;
    if (ReadLocator(*file, layout) && layout.offset > 0 && layout.offset <= file->size()) {
        const uint64_t end = SignedContentEnd(*file, layout.offset);
        if (end < file->size()) content = std::make_shared<PrefixSource>(file, end);
    }
    const int code = ReadSetupImage(*content, out);
    if (out.source) out.source = content;
    return code;
}

uint64_t SignedContentEnd(ByteSource& file, uint64_t imageSize) {
    const uint64_t size = file.size();
    const uint64_t entry = CertificateEntryOffset(file, imageSize);
    uint8_t field[8];
    if (entry == 0 || !file.readAt(entry, field, sizeof field)) return size;
    const uint64_t start = LoadLe32(field), length = LoadLe32(field + 4);
    if (start == 0 || length == 0 || start < imageSize || start > size) return size;
    return start;
}

bool ReadSection(ByteSource& file, uint64_t start, Section& out) {
    const uint64_t size = file.size();
    if (start > size || size - start < 4) return false;
    uint32_t length = 0;
    if (!ReadLe32(file, start, length)) return false;
    if (size - start - 4 < length) return false;
    out.dataOffset = start + 4;
    out.size = length;
    return true;
}

bool ReadSection(const uint8_t* file, size_t fileSize, uint64_t start, Section& out) {
    MemorySource source(file, fileSize);
    return ReadSection(source, start, out);
}

OptionalSections LocateSections(const SetupImage& setup, bool extraPack, bool wantDriver) {
    OptionalSections sections;
    if (!setup.source) return sections;
    ByteSource& file = *setup.source;
    uint64_t next = setup.packageEnd();
    if (extraPack && ReadSection(file, next, sections.extra)) {
        sections.hasExtra = true;
        next = sections.extra.dataOffset + sections.extra.size;
    }
    if (wantDriver) sections.hasDriver = ReadSection(file, next, sections.driver);
    return sections;
}

uint64_t CertificateEntryOffset(ByteSource& image, uint64_t imageSize) {
    // Every field is read within the first `imageSize` bytes only.
    auto read = [&](uint64_t at, void* out, size_t n) {
        return at <= imageSize && n <= imageSize - at && image.readAt(at, out, n);
    };
    uint8_t dos[kDosHeaderSize];
    if (imageSize < kDosHeaderSize || !read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return 0;
    const uint64_t signature = LoadLe32(dos + kLfanewOffset);
    const uint64_t fileHeader = signature + 4;
    const uint64_t optional = fileHeader + 20;
    if (optional + 2 > imageSize) return 0;
    uint8_t pe[4], field[4];
    if (!read(signature, pe, 4) || pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return 0;
    if (!read(fileHeader + 16, field, 2)) return 0;
    const uint64_t optionalSize = LoadLe16(field);
    if (!read(optional, field, 2)) return 0;
    // PE32+ has a 64-bit image base and 64-bit stack and heap sizes, which
    // move the directory count and the directories 16 bytes further in.
    uint64_t countField = 0;
    switch (LoadLe16(field)) {
        case 0x10B: countField = optional + 92; break;   // PE32
        case 0x20B: countField = optional + 108; break;  // PE32+
        default: return 0;
    }
    const uint64_t entry = countField + 4 + 8ull * kCertificateDirectory;
    const uint64_t entryEnd = entry + 8;
    if (entryEnd > optional + optionalSize || entryEnd > imageSize) return 0;
    if (!read(countField, field, 4) || LoadLe32(field) <= kCertificateDirectory) return 0;
    return entry;
}

uint64_t CertificateEntryOffset(const uint8_t* image, size_t imageSize) {
    if (!image) return 0;
    MemorySource source(image, imageSize);
    return CertificateEntryOffset(source, imageSize);
}

bool WriteUninstaller(const NativePath& path, ByteSource& image, uint64_t imageSize, const JValue& manifest) {
    const std::string text = JWriter::write(manifest);
    uint8_t length[4];
    StoreLe32(length, static_cast<uint32_t>(text.size()));
    // The signature of a signed setup file lies behind the image, so the
    // uninstaller's header must not point at it: the uninstaller ends after
    // the manifest, and its certificate-table entry would lie past its end.
    const uint64_t entry = CertificateEntryOffset(image, imageSize);
    OutputFile file;
    if (!file.create(path)) return false;
    uint64_t at = 0;
    const bool copied = CopyRange(image, 0, imageSize, [&](uint8_t* bytes, size_t size) {
        if (entry) {
            for (uint64_t i = std::max(entry, at); i < entry + 8 && i < at + size; ++i) bytes[i - at] = 0;
        }
        at += size;
        return file.write(bytes, size);
    });
    if (!copied) return false;  // the unfinished file is removed
    file.write(length, sizeof length);
    file.write(text.data(), text.size());
    return file.finish() == WriteResult::Ok;
}

bool WriteUninstaller(const NativePath& path, const uint8_t* image, size_t imageSize, const JValue& manifest) {
    MemorySource source(image, image ? imageSize : 0);
    return WriteUninstaller(path, source, image ? imageSize : 0, manifest);
}

bool WriteUninstaller(const NativePath& path, const SetupImage& setup, const JValue& manifest) {
    if (!setup.source) return false;
    return WriteUninstaller(path, *setup.source, setup.imageSize(), manifest);
}

}  // namespace quillo
