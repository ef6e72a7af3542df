// mkskin: builds the skin package linked into the setup program, and lists packages.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/mkskin/SkinPacker.h"
#include "ui/SkinData.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "build") == 0) {
        std::vector<std::string> errors;
        if (!quillo::PackSkin(argv[2], argv[3], errors)) {
            for (const std::string& e : errors) std::fprintf(stderr, "mkskin: %s\n", e.c_str());
            return 1;
        }
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "compress") == 0) {
        // The form linked into the program.
        std::FILE* in = std::fopen(argv[2], "rb");
        if (!in) return std::fprintf(stderr, "mkskin: cannot read %s\n", argv[2]), 1;
        std::string package;
        char chunk[65536];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) package.append(chunk, n);
        std::fclose(in);
        const std::string packed = quillo::CompressSkinPackage(package);
        std::FILE* out = std::fopen(argv[3], "wb");
        const bool ok = !packed.empty() && out && std::fwrite(packed.data(), 1, packed.size(), out) == packed.size();
        if (out && std::fclose(out) != 0) return std::fprintf(stderr, "mkskin: cannot write %s\n", argv[3]), 1;
        if (!ok) return std::fprintf(stderr, "mkskin: cannot write %s\n", argv[3]), 1;
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "inspect") == 0) {
        std::string report;
        const int rc = quillo::InspectSkin(argv[2], report);
        std::fputs(report.c_str(), stdout);
        return rc;
    }
    std::fputs("usage:\n  mkskin build SKIN_DIR OUT.uir\n  mkskin compress FILE.uir OUT.uirz\n  mkskin inspect FILE.uir\n", stderr);
    return 2;
}
