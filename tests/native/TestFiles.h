// Builders for the files the native tests feed to the readers and the packer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/AppendedBlock.h"

namespace quillo::test {

// A minimal PE image: DOS header with e_lfanew 0x80, zero padding in front of
// the signature, one section whose raw data ends the file.
inline std::vector<uint8_t> MakePeStub(size_t sectionBytes = 512) {
    const size_t rawStart = 0x200;
    std::vector<uint8_t> pe(rawStart + sectionBytes, 0);
    pe[0] = 'M';
    pe[1] = 'Z';
    StoreLe32(&pe[0x3C], 0x80);
    uint8_t* h = &pe[0x80];
    h[0] = 'P';
    h[1] = 'E';
    h[4] = 0x4C;  // i386
    h[5] = 0x01;
    h[6] = 1;      // one section
    h[20] = 0xE0;  // optional header size
    uint8_t* opt = h + 24;
    opt[0] = 0x0B;  // PE32
    opt[1] = 0x01;
    uint8_t* section = opt + 0xE0;
    std::copy_n(".text", 5, section);
    StoreLe32(section + 16, static_cast<uint32_t>(sectionBytes));
    StoreLe32(section + 20, static_cast<uint32_t>(rawStart));
    for (size_t i = rawStart; i < pe.size(); ++i) pe[i] = static_cast<uint8_t>(i * 7);
    return pe;
}

inline void AppendLe32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    StoreLe32(b, v);
    out.insert(out.end(), b, b + 4);
}

inline void AppendBytes(std::vector<uint8_t>& out, const std::string& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// image + L + text + P + package + optional sections, locator set to the image size.
struct SetupParts {
    std::vector<uint8_t> image = MakePeStub();
    std::string text = "{\"mode\":1}";
    std::string package = "PK-package-bytes";
    std::vector<std::string> sections;  // appended with their size fields
    std::string trailing;              // unframed bytes at the end
};

inline std::vector<uint8_t> BuildSetupFile(const SetupParts& parts) {
    std::vector<uint8_t> out = parts.image;
    StoreLe32(&out[0x80 - 4], static_cast<uint32_t>(parts.image.size()));
    AppendLe32(out, static_cast<uint32_t>(parts.text.size()));
    AppendBytes(out, parts.text);
    AppendLe32(out, static_cast<uint32_t>(parts.package.size()));
    AppendBytes(out, parts.package);
    for (const std::string& s : parts.sections) {
        AppendLe32(out, static_cast<uint32_t>(s.size()));
        AppendBytes(out, s);
    }
    AppendBytes(out, parts.trailing);
    return out;
}

}  // namespace quillo::test
