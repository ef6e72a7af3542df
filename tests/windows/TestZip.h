// ZIP archives written entry by entry with minizip, for the Windows tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include <minizip/zip.h>
// after zip.h, which provides what this header expects
#include <minizip/iowin32.h>

namespace quillo {
namespace test {

// A ZIP archive written entry by entry; with `addToExisting`, entries are
// added behind those of the archive already at `path`.
class ZipBuilder {
public:
    explicit ZipBuilder(const std::wstring& path, bool addToExisting = false) : path_(path) {
        zlib_filefunc64_def funcs;
        fill_win32_filefunc64W(&funcs);
        zip_ = zipOpen2_64(path.c_str(), addToExisting ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE, nullptr,
                           &funcs);
        EXPECT_NE(zip_, nullptr);
    }
    ~ZipBuilder() { Close(); }

    void Add(const std::string& name, const std::string& data, int method = Z_DEFLATED) {
        zip_fileinfo info = {};
        ASSERT_EQ(zipOpenNewFileInZip4_64(zip_, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                          method ? Z_DEFAULT_COMPRESSION : 0, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                          Z_DEFAULT_STRATEGY, nullptr, 0, 0, 0, 0),
                  ZIP_OK);
        if (!data.empty()) zipWriteInFileInZip(zip_, data.data(), static_cast<unsigned>(data.size()));
        zipCloseFileInZip(zip_);
    }
    void Folder(const std::string& name) { Add(name, "", 0); }

    // Stores `raw` as the already compressed data of an entry.
    void AddRaw(const std::string& name, const std::string& raw, int method, uLong crc, uLong size) {
        zip_fileinfo info = {};
        ASSERT_EQ(zipOpenNewFileInZip4_64(zip_, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method, 0, 1,
                                          -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0, 0, 0),
                  ZIP_OK);
        zipWriteInFileInZip(zip_, raw.data(), static_cast<unsigned>(raw.size()));
        zipCloseFileInZipRaw64(zip_, size, crc);
    }

    void Close() {
        if (zip_) zipClose(zip_, nullptr);
        zip_ = nullptr;
    }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
    zipFile zip_ = nullptr;
};

}  // namespace test
}  // namespace quillo
