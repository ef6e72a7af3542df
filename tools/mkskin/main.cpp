// mkskin: builds the skin package linked into the setup program, and lists packages.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/mkskin/SkinPacker.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "build") == 0) {
        std::vector<std::string> errors;
        if (!quillo::PackSkin(argv[2], argv[3], errors)) {
            for (const std::string& e : errors) std::fprintf(stderr, "mkskin: %s\n", e.c_str());
            return 1;
        }
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "inspect") == 0) {
        std::string report;
        const int rc = quillo::InspectSkin(argv[2], report);
        std::fputs(report.c_str(), stdout);
        return rc;
    }
    std::fputs("usage:\n  mkskin build SKIN_DIR OUT.uir\n  mkskin inspect FILE.uir\n", stderr);
    return 2;
}
