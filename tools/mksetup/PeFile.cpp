#include "tools/mksetup/PeFile.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "app/AppendedBlock.h"
#include "base/TextCodec.h"

namespace quillo {

namespace {

// The NUL-terminated string at `offset`; null when the file ends before its NUL.
const char* CString(const uint8_t* data, size_t size, uint64_t offset) {
    if (offset >= size) return nullptr;
    const uint8_t* begin = data + offset;
    const uint8_t* nul = std::find(begin, data + size, uint8_t{0});
    return nul == data + size ? nullptr : reinterpret_cast<const char*>(begin);
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// More than any real program has: a damaged or hostile table that points
// back into itself is not walked for ever.
constexpr size_t kMostImports = 100000;
constexpr size_t kMostResourceEntries = 100000;

}  // namespace

const char* MachineName(uint16_t machine) {
    switch (machine) {
        case 0x14C: return "i386";
        case 0x8664: return "x86-64";
        case 0xAA64: return "arm64";
        default: return "unknown";
    }
}

bool ParsePe(const uint8_t* data, size_t size, PeInfo& info, std::string& error) {
    info = PeInfo();
    if (size < kDosHeaderSize || data[0] != 'M' || data[1] != 'Z') {
        error = "not an executable: no MZ header";
        return false;
    }
    info.lfanew = LoadLe32(data + kLfanewOffset);
    if (info.lfanew < kDosHeaderSize + 4 || static_cast<uint64_t>(info.lfanew) + 24 > size) {
        error = "e_lfanew does not point inside the file behind the DOS header";
        return false;
    }
    const uint8_t* pe = data + info.lfanew;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) {
        error = "no PE signature at e_lfanew";
        return false;
    }
    info.locator = LoadLe32(data + info.lfanew - 4);
    info.machine = LoadLe16(pe + 4);
    info.sectionCount = LoadLe16(pe + 6);
    const uint16_t optionalSize = LoadLe16(pe + 20);
    const uint64_t optional = static_cast<uint64_t>(info.lfanew) + 24;
    const uint64_t table = optional + optionalSize;
    if (table + 40ull * info.sectionCount > size) {
        error = "the section table lies beyond the end of the file";
        return false;
    }
    if (optionalSize >= 2) {
        const uint8_t* o = data + optional;
        info.magic = LoadLe16(o);
        // The fields from offset 32 to 72 sit at the same places in PE32 and PE32+.
        if (optionalSize >= 72) {
            info.osVersion[0] = LoadLe16(o + 40);
            info.osVersion[1] = LoadLe16(o + 42);
            info.subsystemVersion[0] = LoadLe16(o + 48);
            info.subsystemVersion[1] = LoadLe16(o + 50);
            info.subsystem = LoadLe16(o + 68);
        }
        // The data directories follow at 96 (PE32) or 112 (PE32+) bytes, 8 bytes each.
        const uint64_t directories = optional + (info.magic == 0x20B ? 112 : 96);
        auto directory = [&](uint32_t index, uint32_t& rva, uint32_t& bytes) {
            const uint64_t at = directories + 8ull * index;
            if (at + 8 <= table) {
                rva = LoadLe32(data + at);
                bytes = LoadLe32(data + at + 4);
            }
        };
        uint32_t importSize = 0;
        directory(1, info.importRva, importSize);
        directory(2, info.resourceRva, info.resourceSize);
        directory(4, info.certificateOffset, info.certificateSize);
    }
    for (uint16_t i = 0; i < info.sectionCount; ++i) {
        const uint8_t* s = data + table + 40ull * i;
        PeSection section;
        section.virtualSize = LoadLe32(s + 8);
        section.virtualAddress = LoadLe32(s + 12);
        section.rawSize = LoadLe32(s + 16);
        section.rawPointer = LoadLe32(s + 20);
        info.sections.push_back(section);
        if (section.rawSize)
            info.imageEnd = std::max<uint64_t>(info.imageEnd, static_cast<uint64_t>(section.rawPointer) + section.rawSize);
    }
    if (info.imageEnd == 0) info.imageEnd = table + 40ull * info.sectionCount;
    if (info.imageEnd > size) {
        error = "a section's raw data runs past the end of the file";
        return false;
    }
    return true;
}

bool RvaToOffset(const PeInfo& info, uint32_t rva, uint64_t& offset) {
    for (const PeSection& s : info.sections) {
        const uint32_t span = std::max(s.virtualSize, s.rawSize);
        if (rva >= s.virtualAddress && rva - s.virtualAddress < span) {
            const uint32_t within = rva - s.virtualAddress;
            if (within >= s.rawSize) return false;  // zero-filled, not in the file
            offset = static_cast<uint64_t>(s.rawPointer) + within;
            return true;
        }
    }
    return false;
}

bool ReadImports(const uint8_t* data, size_t size, const PeInfo& info, std::vector<PeImport>& imports,
                 std::string& error) {
    imports.clear();
    if (info.importRva == 0) return true;
    const bool wide = info.magic == 0x20B;
    const uint32_t thunkSize = wide ? 8 : 4;
    uint64_t descriptor = 0;
    if (!RvaToOffset(info, info.importRva, descriptor)) {
        error = "the import table lies outside the sections";
        return false;
    }
    for (;; descriptor += 20) {
        if (descriptor + 20 > size) {
            error = "the import table runs past the end of the file";
            return false;
        }
        const uint8_t* d = data + descriptor;
        const uint32_t lookup = LoadLe32(d);
        const uint32_t nameRva = LoadLe32(d + 12);
        const uint32_t bound = LoadLe32(d + 16);
        if (lookup == 0 && nameRva == 0 && bound == 0) return true;
        uint64_t nameOffset = 0;
        const char* library = RvaToOffset(info, nameRva, nameOffset) ? CString(data, size, nameOffset) : nullptr;
        uint64_t thunk = 0;
        if (!library || !RvaToOffset(info, lookup ? lookup : bound, thunk)) {
            error = "an import descriptor points outside the file";
            return false;
        }
        for (;; thunk += thunkSize) {
            if (thunk + thunkSize > size) {
                error = std::string("the import list of ") + library + " runs past the end of the file";
                return false;
            }
            const uint64_t value = wide ? (LoadLe32(data + thunk) | static_cast<uint64_t>(LoadLe32(data + thunk + 4)) << 32)
                                        : LoadLe32(data + thunk);
            if (value == 0) break;
            if (imports.size() >= kMostImports) {
                error = "the import table lists more functions than any program imports";
                return false;
            }
            PeImport import;
            import.library = library;
            if (value >> (wide ? 63 : 31)) {
                import.ordinal = static_cast<uint16_t>(value & 0xFFFF);
            } else {
                uint64_t hint = 0;
                const char* function = RvaToOffset(info, static_cast<uint32_t>(value), hint)
                                           ? CString(data, size, hint + 2)
                                           : nullptr;
                if (!function) {
                    error = std::string("an import of ") + library + " names no function inside the file";
                    return false;
                }
                import.function = function;
            }
            imports.push_back(import);
        }
    }
}

bool ReadResources(const uint8_t* data, size_t size, const PeInfo& info, std::vector<PeResource>& resources,
                   std::string& error) {
    resources.clear();
    if (info.resourceRva == 0) return true;
    uint64_t base = 0;
    if (!RvaToOffset(info, info.resourceRva, base)) {
        error = "the resource directory lies outside the sections";
        return false;
    }
    // Names are length-prefixed UTF-16 strings relative to the directory's start.
    auto nameAt = [&](uint32_t relative, std::string& name) {
        const uint64_t at = base + relative;
        if (at + 2 > size) return false;
        const uint16_t units = LoadLe16(data + at);
        if (at + 2 + 2ull * units > size) return false;
        name = Utf16LeToUtf8(data + at + 2, units);
        return true;
    };
    // Three levels: type, name, language.
    size_t visited = 0;
    std::function<bool(uint32_t, int, PeResource)> walk = [&](uint32_t relative, int level, PeResource path) {
        const uint64_t at = base + relative;
        if (level > 2 || at + 16 > size) return false;
        const uint32_t entries = static_cast<uint32_t>(LoadLe16(data + at + 12)) + LoadLe16(data + at + 14);
        if (at + 16 + 8ull * entries > size) return false;
        for (uint32_t i = 0; i < entries; ++i) {
            if (++visited > kMostResourceEntries) return false;
            const uint8_t* e = data + at + 16 + 8ull * i;
            const uint32_t id = LoadLe32(e);
            const uint32_t target = LoadLe32(e + 4);
            PeResource item = path;
            std::string name;
            if ((id >> 31) && !nameAt(id & 0x7FFFFFFF, name)) return false;
            const uint32_t number = (id >> 31) ? 0 : id;
            if (level == 0) {
                item.typeId = number;
                item.typeName = name;
            } else if (level == 1) {
                item.nameId = number;
                item.name = name;
            } else {
                item.language = static_cast<uint16_t>(number);
            }
            if (target >> 31) {
                if (!walk(target & 0x7FFFFFFF, level + 1, item)) return false;
                continue;
            }
            if (level != 2 || base + target + 16 > size) return false;
            const uint8_t* leaf = data + base + target;
            item.size = LoadLe32(leaf + 4);
            if (!RvaToOffset(info, LoadLe32(leaf), item.offset) || item.offset + item.size > size) return false;
            resources.push_back(item);
        }
        return true;
    };
    if (!walk(0, 0, PeResource())) {
        resources.clear();
        error = "the resource directory is damaged";
        return false;
    }
    return true;
}

bool ParseVersionResource(const uint8_t* data, size_t size, PeVersion& version, std::string& error) {
    version = PeVersion();
    // A block: length, value length, type (1 text), key, padding to four
    // bytes, value, padding, child blocks up to its length.
    struct Block {
        std::string key;
        const uint8_t* value = nullptr;
        size_t valueBytes = 0;
        bool text = false;
        size_t childrenFrom = 0, end = 0;
    };
    auto align = [](size_t at) { return (at + 3) & ~size_t{3}; };
    auto read = [&](size_t at, size_t limit, Block& block) {
        if (at + 6 > limit) return false;
        const size_t length = LoadLe16(data + at);
        const size_t valueLength = LoadLe16(data + at + 2);
        block.text = LoadLe16(data + at + 4) == 1;
        if (length < 6 || at + length > limit) return false;
        block.end = at + length;
        size_t k = at + 6;
        size_t units = 0;
        while (k + 2 * units + 2 <= block.end && LoadLe16(data + k + 2 * units) != 0) ++units;
        if (k + 2 * units + 2 > block.end) return false;
        block.key = Utf16LeToUtf8(data + k, units);
        const size_t valueAt = align(k + 2 * units + 2);
        block.valueBytes = std::min(block.text ? 2 * valueLength : valueLength,
                                    block.end > valueAt ? block.end - valueAt : 0);
        block.value = data + valueAt;
        block.childrenFrom = align(valueAt + block.valueBytes);
        return true;
    };
    auto children = [&](const Block& parent, const std::function<bool(const Block&)>& each) {
        for (size_t at = parent.childrenFrom; at + 6 <= parent.end;) {
            Block child;
            if (!read(at, parent.end, child)) return false;
            if (!each(child)) return false;
            at = align(child.end);
        }
        return true;
    };

    Block root;
    if (!read(0, size, root) || root.key != "VS_VERSION_INFO") {
        error = "not a version resource (no VS_VERSION_INFO block)";
        return false;
    }
    if (root.valueBytes < 24 || LoadLe32(root.value) != 0xFEEF04BD) {
        error = "the version resource has no fixed file information";
        return false;
    }
    const uint32_t parts[4] = {LoadLe32(root.value + 8), LoadLe32(root.value + 12), LoadLe32(root.value + 16),
                               LoadLe32(root.value + 20)};
    for (int i = 0; i < 2; ++i) {
        version.fileVersion[2 * i] = static_cast<uint16_t>(parts[i] >> 16);
        version.fileVersion[2 * i + 1] = static_cast<uint16_t>(parts[i]);
        version.productVersion[2 * i] = static_cast<uint16_t>(parts[2 + i] >> 16);
        version.productVersion[2 * i + 1] = static_cast<uint16_t>(parts[2 + i]);
    }
    std::map<std::string, std::map<std::string, std::string>> tables;  // lower-case table key -> strings
    const bool ok = children(root, [&](const Block& info) {
        if (info.key == "VarFileInfo") {
            return children(info, [&](const Block& var) {
                if (var.key != "Translation") return true;
                for (size_t i = 0; i + 4 <= var.valueBytes; i += 4)
                    version.translations.push_back(static_cast<uint32_t>(LoadLe16(var.value + i)) << 16 |
                                                   LoadLe16(var.value + i + 2));
                return true;
            });
        }
        if (info.key != "StringFileInfo") return true;
        return children(info, [&](const Block& table) {
            auto& strings = tables[LowerAscii(table.key)];
            return children(table, [&](const Block& entry) {
                size_t units = entry.valueBytes / 2;
                for (size_t i = 0; i < units; ++i) {
                    if (LoadLe16(entry.value + 2 * i) == 0) {
                        units = i;
                        break;
                    }
                }
                strings.emplace(entry.key, Utf16LeToUtf8(entry.value, units));
                return true;
            });
        });
    });
    if (!ok) {
        error = "the version resource is damaged";
        return false;
    }
    if (!version.translations.empty()) {
        char key[9];
        std::snprintf(key, sizeof key, "%04x%04x", version.translations[0] >> 16, version.translations[0] & 0xFFFF);
        const auto found = tables.find(key);
        if (found != tables.end()) version.strings = found->second;
    }
    return true;
}

}  // namespace quillo
