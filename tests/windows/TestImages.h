// Images for the Windows UI tests: PNG files made by the tests themselves
// (zlib does the deflating) and colour comparison with a tolerance.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo::test {

struct Rgba {
    int r = 0, g = 0, b = 0, a = 255;
};

inline std::string Be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

inline void Chunk(std::string& png, const char* type, const std::string& data) {
    const std::string body = type + data;
    png += Be32(static_cast<uint32_t>(data.size())) + body +
           Be32(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
}

// A PNG of `pixels` (rows from the top): RGBA when `alpha`, else RGB.
inline std::string Png(int width, int height, bool alpha, const std::vector<Rgba>& pixels) {
    std::string raw;
    for (int i = 0; i < width * height; ++i) {
        if (i % width == 0) raw.push_back(0);  // row filter: none
        const Rgba& p = pixels[static_cast<size_t>(i)];
        raw += {char(p.r), char(p.g), char(p.b)};
        if (alpha) raw.push_back(char(p.a));
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(raw.data()),
             static_cast<uLong>(raw.size()));
    packed.resize(size);
    std::string png("\x89PNG\r\n\x1a\n", 8);
    Chunk(png, "IHDR", Be32(width) + Be32(height) + std::string{8, char(alpha ? 6 : 2), 0, 0, 0});
    Chunk(png, "IDAT", packed);
    Chunk(png, "IEND", "");
    return png;
}

inline std::string SolidPng(int width, int height, Rgba color, bool alpha = false) {
    return Png(width, height, alpha, std::vector<Rgba>(static_cast<size_t>(width * height), color));
}

// A top-down 32-bit DIB section; `bits` receives its pixels.
inline HBITMAP CreateTopDownDib(int width, int height, void** bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

// A top-down 32-bit DIB selected into a memory DC, filled with one colour
// (alpha byte 0).
class Canvas {
public:
    Canvas(int width, int height, Rgba fill = {0, 0, 0, 0}) : width_(width), height_(height) {
        bitmap_ = CreateTopDownDib(width, height, reinterpret_cast<void**>(&bits_));
        dc_ = CreateCompatibleDC(nullptr);
        old_ = SelectObject(dc_, bitmap_);
        const uint32_t pixel = static_cast<uint32_t>(fill.r << 16 | fill.g << 8 | fill.b);
        for (int i = 0; i < width * height; ++i) bits_[i] = pixel;
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    Rgba At(int x, int y) const {
        GdiFlush();
        const uint32_t p = bits_[y * width_ + x];
        return {static_cast<int>(p >> 16 & 255), static_cast<int>(p >> 8 & 255), static_cast<int>(p & 255),
                static_cast<int>(p >> 24)};
    }
    // Pixels darker than mid-grey inside / outside a rectangle.
    int Dark(const RECT& r, bool inside) const {
        int n = 0;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                const bool in = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                const Rgba p = At(x, y);
                if (in == inside && p.r + p.g + p.b < 3 * 128) ++n;
            }
        return n;
    }
    // Pixels inside `r` for which `test` holds.
    int Count(const RECT& r, bool (*test)(COLORREF)) const {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                const Rgba p = At(x, y);
                n += test(RGB(p.r, p.g, p.b)) ? 1 : 0;
            }
        return n;
    }

private:
    int width_, height_;
    HBITMAP bitmap_ = nullptr;
    uint32_t* bits_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

// Red, green and blue each within `tolerance` of the expected colour.
inline ::testing::AssertionResult NearColor(const Rgba& actual, const Rgba& expected, int tolerance) {
    if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
        std::abs(actual.b - expected.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << actual.r << "," << actual.g << "," << actual.b << ") expected ("
                                         << expected.r << "," << expected.g << "," << expected.b << ")";
}

}  // namespace quillo::test
