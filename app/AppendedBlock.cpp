#include "app/AppendedBlock.h"

#include <algorithm>
#include <limits>

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

int ReadSetupImage(ByteSource& source, SetupImage& out) {
    out = SetupImage();
    BlockLayout layout;
    const uint64_t size = source.size();
    if (size > kMaxFileSize || !ReadLocator(source, layout) || layout.offset == 0 || layout.offset > size) return 1;
    out.offset = layout.offset;

    out.file.resize(static_cast<size_t>(size));
    for (uint64_t pos = 0; pos < size; pos += kSetupReadChunk) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(kSetupReadChunk, size - pos));
        if (!source.readAt(pos, out.file.data() + pos, chunk)) {
            out.file.clear();
            return 2;
        }
    }

    const uint8_t* bytes = out.file.data();
    const uint64_t offset = out.offset;
    if (offset + 4 > size) return 3;
    out.textLength = LoadLe32(bytes + offset);
    const uint64_t textEnd = offset + 4 + out.textLength;
    if (textEnd > size) return 3;
    if (!ParseBlock(bytes + offset + 4, out.textLength, out.block, nullptr)) return 4;

    Section package;
    if (!ReadSection(bytes, out.file.size(), textEnd, package)) return 5;
    out.packageOffset = package.dataOffset;
    out.packageSize = package.size;
    return 0;
}

int ReadSetupImage(const NativePath& path, SetupImage& out) {
    FileSource file;
    if (!file.open(path)) {
        out = SetupImage();
        return 1;
    }
    return ReadSetupImage(file, out);
}

bool ReadSection(const uint8_t* file, size_t fileSize, uint64_t start, Section& out) {
    const uint64_t size = fileSize;
    if (start > size || size - start < 4) return false;
    const uint32_t length = LoadLe32(file + start);
    if (size - start - 4 < length) return false;
    out.dataOffset = start + 4;
    out.size = length;
    return true;
}

OptionalSections LocateSections(const SetupImage& setup, bool extraPack, bool wantDriver) {
    OptionalSections sections;
    uint64_t next = setup.packageEnd();
    if (extraPack && ReadSection(setup.file.data(), setup.file.size(), next, sections.extra)) {
        sections.hasExtra = true;
        next = sections.extra.dataOffset + sections.extra.size;
    }
    if (wantDriver) sections.hasDriver = ReadSection(setup.file.data(), setup.file.size(), next, sections.driver);
    return sections;
}

uint64_t CertificateEntryOffset(const uint8_t* image, size_t imageSize) {
    if (!image || imageSize < kDosHeaderSize || image[0] != 'M' || image[1] != 'Z') return 0;
    const uint64_t signature = LoadLe32(image + kLfanewOffset);
    const uint64_t fileHeader = signature + 4;
    const uint64_t optional = fileHeader + 20;
    if (optional + 2 > imageSize) return 0;
    if (image[signature] != 'P' || image[signature + 1] != 'E' || image[signature + 2] != 0 ||
        image[signature + 3] != 0)
        return 0;
    const uint64_t optionalSize = LoadLe16(image + fileHeader + 16);
    // PE32+ has a 64-bit image base and 64-bit stack and heap sizes, which
    // move the directory count and the directories 16 bytes further in.
    uint64_t countField = 0;
    switch (LoadLe16(image + optional)) {
        case 0x10B: countField = optional + 92; break;   // PE32
        case 0x20B: countField = optional + 108; break;  // PE32+
        default: return 0;
    }
    const uint64_t entry = countField + 4 + 8ull * kCertificateDirectory;
    const uint64_t entryEnd = entry + 8;
    if (entryEnd > optional + optionalSize || entryEnd > imageSize) return 0;
    if (LoadLe32(image + countField) <= kCertificateDirectory) return 0;
    return entry;
}

bool WriteUninstaller(const NativePath& path, const uint8_t* image, size_t imageSize, const JValue& manifest) {
    const std::string text = JWriter::write(manifest);
    uint8_t length[4];
    StoreLe32(length, static_cast<uint32_t>(text.size()));
    // The signature of a signed setup file lies behind the image, so the
    // uninstaller's header must not point at it: the uninstaller ends after
    // the manifest, and its certificate-table entry would lie past its end.
    std::vector<uint8_t> header;
    const uint64_t entry = CertificateEntryOffset(image, imageSize);
    if (entry) {
        header.assign(image, image + entry + 8);
        std::fill(header.end() - 8, header.end(), uint8_t{0});
    }
    const size_t headerSize = header.size();
    return WriteFileParts(path, {{header.data(), headerSize},
                                 {image ? image + headerSize : image, imageSize - headerSize},
                                 {length, sizeof length},
                                 {text.data(), text.size()}}) == WriteResult::Ok;
}

}  // namespace quillo
