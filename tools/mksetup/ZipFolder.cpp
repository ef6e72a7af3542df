#include "tools/mksetup/ZipFolder.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace quillo {

namespace {

struct Entry {
    std::string name;  // relative, "/"-separated, folders end with "/"
    fs::path source;
};

bool Collect(const fs::path& root, std::vector<Entry>& entries, std::string& error) {
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
    if (ec) {
        error = "cannot read folder " + root.string() + ": " + ec.message();
        return false;
    }
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) {
            error = "cannot read folder " + root.string() + ": " + ec.message();
            return false;
        }
        const fs::path rel = it->path().lexically_relative(root);
        std::string name = rel.generic_string();
        if (it->is_directory()) {
            entries.push_back({name + "/", it->path()});
        } else if (it->is_regular_file()) {
            entries.push_back({name, it->path()});
        } else {
            error = "not a regular file or folder: " + it->path().string();
            return false;
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
}

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Zip64 records only where a file needs them, so that ordinary packages stay plain ZIP.
int NeedsZip64(const Entry& entry) {
    std::error_code ec;
    return entry.name.back() != '/' && fs::file_size(entry.source, ec) >= 0xFFFFFFFFull ? 1 : 0;
}

}  // namespace

bool ZipFolder(const std::string& folder, const std::string& zipPath, std::string& error) {
    if (!fs::is_directory(folder)) {
        error = "not a folder: " + folder;
        return false;
    }
    std::vector<Entry> entries;
    if (!Collect(folder, entries, error)) return false;

    zipFile zip = zipOpen64(zipPath.c_str(), APPEND_STATUS_CREATE);
    if (!zip) {
        error = "cannot create " + zipPath;
        return false;
    }
    bool ok = true;
    std::vector<char> buffer(1 << 16);
    for (const Entry& entry : entries) {
        zip_fileinfo info;
        std::memset(&info, 0, sizeof info);
        info.tmz_date.tm_year = 1980;  // fixed time stamp: 1980-01-01 00:00:00
        info.tmz_date.tm_mday = 1;
        const bool isFolder = entry.name.back() == '/';
        info.external_fa = isFolder ? 0x10 : 0x20;  // directory / archive attribute
        const int level = isFolder ? 0 : Z_BEST_COMPRESSION;
        // The program reads a name as UTF-8 only with general-purpose bit 11, else in the
        // ANSI code page; ASCII names read the same either way and keep the bit clear.
        const uLong flags = IsAscii(entry.name) ? 0 : kUtf8NameFlag;
        if (zipOpenNewFileInZip4_64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                    isFolder ? 0 : Z_DEFLATED, level, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                    Z_DEFAULT_STRATEGY, nullptr, 0, 0, flags, NeedsZip64(entry)) != ZIP_OK) {
            error = "cannot add " + entry.name;
            ok = false;
            break;
        }
        if (!isFolder) {
            std::ifstream in(entry.source, std::ios::binary);
            if (!in) {
                error = "cannot read " + entry.source.string();
                ok = false;
            }
            while (ok && in) {
                in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                const std::streamsize got = in.gcount();
                if (got > 0 && zipWriteInFileInZip(zip, buffer.data(), static_cast<unsigned>(got)) != ZIP_OK) {
                    error = "cannot write " + entry.name;
                    ok = false;
                }
            }
            if (ok && in.bad()) {
                error = "cannot read " + entry.source.string();
                ok = false;
            }
        }
        if (zipCloseFileInZip(zip) != ZIP_OK && ok) {
            error = "cannot finish " + entry.name;
            ok = false;
        }
        if (!ok) break;
    }
    if (zipClose(zip, nullptr) != ZIP_OK && ok) {
        error = "cannot finish " + zipPath;
        ok = false;
    }
    return ok;
}

bool IsReadableZip(const std::string& zipPath, std::string& error) {
    unzFile zip = unzOpen64(zipPath.c_str());
    if (!zip) {
        error = "not a ZIP archive: " + zipPath;
        return false;
    }
    int rc = unzGoToFirstFile(zip);
    while (rc == UNZ_OK) rc = unzGoToNextFile(zip);
    unzClose(zip);
    if (rc != UNZ_END_OF_LIST_OF_FILE) {
        error = "damaged ZIP archive: " + zipPath;
        return false;
    }
    return true;
}

}  // namespace quillo
