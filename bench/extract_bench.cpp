// Times the package extraction of the install sequence on one ZIP archive.
// Usage: extract_bench ARCHIVE.zip TARGET_FOLDER
// Prints "files=N seconds=S". The archive is copied first, since extraction
// deletes the archive it was given; it is read as the install reads the
// package, from an open file through the streaming reader.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/UninstallManifest.h"
#include "install/PackageExtractor.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: extract_bench ARCHIVE.zip TARGET_FOLDER\n");
        return 2;
    }
    const std::wstring copy = std::wstring(argv[2]) + L".zip";
    if (!CopyFileW(argv[1], copy.c_str(), FALSE)) {
        std::fprintf(stderr, "cannot copy the archive\n");
        return 1;
    }
    quillo::JValue manifest;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    quillo::FileSource file;
    if (!file.open(copy)) {
        std::fprintf(stderr, "cannot open the copy\n");
        return 1;
    }
    const quillo::PackageSource package{&file, 0, file.size()};
    const bool ok = quillo::ExtractPackage(copy, argv[2], true, manifest, nullptr, package);
    QueryPerformanceCounter(&end);
    file.close();  // held open, the copy could not be deleted by the extraction
    DeleteFileW(copy.c_str());
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("ok=%d files=%u seconds=%.3f\n", ok ? 1 : 0,
                static_cast<unsigned>(manifest.get(quillo::kManifestFiles).size()), seconds);
    return ok ? 0 : 1;
}
