// A decoded skin image: a bottom-up DIB section, 24 bits per pixel for opaque
// images and 32 bits (premultiplied alpha, ready for AlphaBlend) for images
// with an alpha channel. Decoding goes through GDI+, which is started by the
// first decode and shut down when the last GDI+ user (every CHBitmap counts,
// and so does a GdiplusScope) goes away.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>

namespace quillo {

class CHBitmap {
public:
    CHBitmap();
    ~CHBitmap();
    CHBitmap(const CHBitmap&) = delete;
    CHBitmap& operator=(const CHBitmap&) = delete;

    // Decodes a PNG (or any format GDI+ reads). On failure the bitmap is left
    // empty and false is returned.
    bool LoadFromMemory(const void* data, size_t size);
    bool LoadFromMemory(const std::string& bytes) { return LoadFromMemory(bytes.data(), bytes.size()); }

    // Makes this bitmap a pixel-for-pixel copy of `other` (its own DIB section).
    bool CopyFrom(const CHBitmap& other);

    // Copies the pixels of `other`, which must have the same size and depth.
    bool CopyPixelsFrom(const CHBitmap& other);

    // Makes this bitmap the part (x, y, w, h) of `other` resampled to
    // width x height with a bicubic filter (alpha kept premultiplied; the
    // part's edge pixels repeat outwards, so nothing of its neighbours in a
    // sprite sheet bleeds in).
    bool ResampleFrom(const CHBitmap& other, const RECT& part, int width, int height);
    // The part (x, y, w, h) of this bitmap resampled to width x height, made
    // once and kept; null when it cannot be made.
    const CHBitmap* Resampled(const RECT& part, int width, int height) const;
    // Drops the resampled copies after the pixels were changed in place.
    void ForgetResampled() { resampled_.clear(); }

    void Release();

    bool empty() const { return bitmap_ == nullptr; }
    HBITMAP handle() const { return bitmap_; }
    uint8_t* bits() const { return bits_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int bitsPerPixel() const { return bitsPerPixel_; }
    int stride() const { return stride_; }
    // Header of the DIB (for DrawDibDraw and StretchDIBits).
    const BITMAPINFOHEADER& header() const { return header_; }

    // Pixel (x, y) counted from the top row; nullptr outside the bitmap.
    uint8_t* PixelAt(int x, int y) const;

    // Process-wide GDI+ state, for diagnostics and tests.
    static bool GdiplusRunning();
    static int LiveUsers();

private:
    bool Create(int width, int height, int bitsPerPixel);
    bool DrawWithAlpha(void* gdiplusImage);
    bool DrawOpaque(void* gdiplusImage);

    HBITMAP bitmap_ = nullptr;
    uint8_t* bits_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 0;
    int stride_ = 0;
    BITMAPINFOHEADER header_ = {};
    struct PartKey {
        int x, y, w, h, width, height;
        bool operator<(const PartKey& o) const {
            return std::tie(x, y, w, h, width, height) < std::tie(o.x, o.y, o.w, o.h, o.width, o.height);
        }
    };
    mutable std::map<PartKey, std::unique_ptr<CHBitmap>> resampled_;
};

// Keeps GDI+ running for its lifetime (starting it if needed); for GDI+ work
// that does not go through a CHBitmap, such as drawing text.
class GdiplusScope {
public:
    GdiplusScope();
    ~GdiplusScope();
    GdiplusScope(const GdiplusScope&) = delete;
    GdiplusScope& operator=(const GdiplusScope&) = delete;

    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

}  // namespace quillo
