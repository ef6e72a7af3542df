// mksetup: builds setup files of the Quillo installer engine and inspects them.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/mksetup/SetupInspector.h"
#include "tools/mksetup/SetupPacker.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  mksetup [pack] --stub STUB.exe --package ZIP|FOLDER --out SETUP.exe\n"
    "          [--block BLOCK.json] [--set KEY=VALUE]... [--extra FILE.dll] [--driver DRIVERS.zip]\n"
    "          [--allow-arch-names]\n"
    "  mksetup inspect FILE\n"
    "\n"
    "--block reads the setup block from a JSON file (default {\"mode\":1}); --set KEY=VALUE\n"
    "sets one member, VALUE being JSON (1, true, [\"a\"]) or else a plain string.\n"
    "\"md5\" is always computed from the package.\n"
    "\n"
    "A package is refused when it is empty, not a readable ZIP, or holds entries the\n"
    "program cannot write (encrypted, compressed other than stored or deflated, names\n"
    "that leave the installation folder or name a device). The program skips files\n"
    "whose names hold \"x86\" on 64-bit and \"x64\" on 32-bit Windows; that is meant\n"
    "for the top-level x86/ and x64/ folders, so such names elsewhere are refused\n"
    "unless --allow-arch-names is given (then they are listed as warnings).\n"
    "\n"
    "inspect exits with 0 when the program would install the setup file whole (or an\n"
    "uninstaller's manifest reads), 1 when it would reject the file or leave entries\n"
    "out (the report names the install error code), 2 when the file cannot be read.\n";

int Usage(const char* message) {
    if (message) std::fprintf(stderr, "mksetup: %s\n", message);
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int i = 1;
    if (i < argc && std::strcmp(argv[i], "inspect") == 0) {
        if (argc != 3) return Usage("inspect takes one file");
        std::string report;
        const int rc = quillo::InspectSetupFile(argv[2], report);
        std::fputs(report.c_str(), stdout);
        return rc;
    }
    if (i < argc && (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (i < argc && std::strcmp(argv[i], "pack") == 0) ++i;

    quillo::PackOptions options;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--allow-arch-names") {
            options.allowArchNames = true;
            continue;
        }
        if (i + 1 >= argc) return Usage(("missing value after " + arg).c_str());
        const std::string value = argv[++i];
        if (arg == "--stub") options.stubPath = value;
        else if (arg == "--block") options.blockPath = value;
        else if (arg == "--package") options.packagePath = value;
        else if (arg == "--extra") options.extraPath = value;
        else if (arg == "--driver") options.driverPath = value;
        else if (arg == "--out") options.outputPath = value;
        else if (arg == "--set") {
            const size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0) return Usage("--set wants KEY=VALUE");
            options.sets.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    std::string error;
    std::vector<std::string> warnings;
    const bool ok = quillo::PackSetup(options, error, warnings);
    for (const std::string& w : warnings) std::fprintf(stderr, "mksetup: warning: %s\n", w.c_str());
    if (!ok) {
        std::fprintf(stderr, "mksetup: %s\n", error.c_str());
        return 1;
    }
    std::printf("mksetup: wrote %s\n", options.outputPath.c_str());
    return 0;
}
