#include "ui/CHBitmap.h"

#include <objidl.h>
#include <ole2.h>
#include <gdiplus.h>

#include <cstring>
#include <mutex>

namespace quillo {

namespace {

namespace gp = Gdiplus::DllExports;

// GDI+ is started by the first decode and shut down when the last user goes.
std::mutex g_gdiplusLock;
int g_users = 0;
bool g_started = false;
ULONG_PTR g_token = 0;

void AddUser() {
    std::lock_guard<std::mutex> lock(g_gdiplusLock);
    ++g_users;
}

void RemoveUser() {
    std::lock_guard<std::mutex> lock(g_gdiplusLock);
    if (--g_users == 0 && g_started) {
        Gdiplus::GdiplusShutdown(g_token);
        g_started = false;
        g_token = 0;
    }
}

// Called by a live user only, so the counter is above zero.
bool EnsureStarted() {
    std::lock_guard<std::mutex> lock(g_gdiplusLock);
    if (g_started) return true;
    Gdiplus::GdiplusStartupInput input;  // version 1
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
    g_token = token;
    g_started = true;
    return true;
}

// Wraps a copy of the bytes in a stream that owns its memory block.
IStream* StreamOnCopy(const void* data, size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    void* p = GlobalLock(block);
    if (!p) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(p, data, size);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream)) || !stream) {
        GlobalFree(block);
        return nullptr;
    }
    return stream;
}

}  // namespace

CHBitmap::CHBitmap() { AddUser(); }

CHBitmap::~CHBitmap() {
    Release();
    RemoveUser();
}

void CHBitmap::Release() {
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = nullptr;
    bits_ = nullptr;
    width_ = height_ = bitsPerPixel_ = stride_ = 0;
    header_ = BITMAPINFOHEADER{};
    resampled_.clear();
}

bool CHBitmap::Create(int width, int height, int bitsPerPixel) {
    Release();
    if (width <= 0 || height <= 0) return false;
    const int64_t stride = ((static_cast<int64_t>(width) * bitsPerPixel + 31) / 32) * 4;
    if (stride * height > 0x7FFFFFFF) return false;

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bitsPerPixel);
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(stride * height);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap) DeleteObject(bitmap);
        return false;
    }
    bitmap_ = bitmap;
    bits_ = static_cast<uint8_t*>(bits);
    width_ = width;
    height_ = height;
    bitsPerPixel_ = bitsPerPixel;
    stride_ = static_cast<int>(stride);
    header_ = info.bmiHeader;
    std::memset(bits_, 0, static_cast<size_t>(stride) * height);
    return true;
}

bool CHBitmap::LoadFromMemory(const void* data, size_t size) {
    Release();
    if (!data || size == 0) return false;
    IStream* stream = StreamOnCopy(data, size);
    if (!stream) return false;
    if (!EnsureStarted()) {
        stream->Release();
        return false;
    }

    Gdiplus::GpBitmap* image = nullptr;
    if (gp::GdipCreateBitmapFromStream(stream, &image) != Gdiplus::Ok || !image) {
        stream->Release();
        return false;
    }
    UINT width = 0, height = 0;
    Gdiplus::PixelFormat format = 0;
    gp::GdipGetImageWidth(image, &width);
    gp::GdipGetImageHeight(image, &height);
    gp::GdipGetImagePixelFormat(image, &format);

    bool ok = width > 0 && height > 0 && width <= 0x7FFFFFFF && height <= 0x7FFFFFFF &&
              Create(static_cast<int>(width), static_cast<int>(height), (format & PixelFormatAlpha) ? 32 : 24);
    if (ok) {
        ok = bitsPerPixel_ == 32 ? DrawWithAlpha(image) : DrawOpaque(image);
        GdiFlush();
    }
    gp::GdipDisposeImage(image);
    stream->Release();
    if (!ok) Release();
    return ok;
}

bool CHBitmap::CopyFrom(const CHBitmap& other) {
    if (&other == this) return !empty();
    if (other.empty()) {
        Release();
        return false;
    }
    if (!Create(other.width_, other.height_, other.bitsPerPixel_)) return false;
    return CopyPixelsFrom(other);
}

bool CHBitmap::CopyPixelsFrom(const CHBitmap& other) {
    if (empty() || other.empty() || other.width_ != width_ || other.height_ != height_ ||
        other.bitsPerPixel_ != bitsPerPixel_)
        return false;
    if (&other == this) return true;
    GdiFlush();
    std::memcpy(bits_, other.bits_, static_cast<size_t>(stride_) * height_);
    resampled_.clear();
    return true;
}

bool CHBitmap::ResampleFrom(const CHBitmap& other, const RECT& part, int width, int height) {
    const int partW = part.right - part.left, partH = part.bottom - part.top;
    if (&other == this || other.empty() || width <= 0 || height <= 0 || part.left < 0 || part.top < 0 ||
        partW <= 0 || partH <= 0 || part.right > other.width_ || part.bottom > other.height_)
        return false;
    if (!EnsureStarted() || !Create(width, height, other.bitsPerPixel_)) return false;
    const Gdiplus::PixelFormat format = bitsPerPixel_ == 32 ? PixelFormat32bppPARGB : PixelFormat24bppRGB;
    // Both DIBs are bottom-up: their top rows are the last ones in memory.
    BYTE* sourceTop = other.bits_ + static_cast<size_t>(other.stride_) * static_cast<size_t>(other.height_ - 1 - part.top) +
                      static_cast<size_t>(part.left) * static_cast<size_t>(other.bitsPerPixel_ / 8);
    BYTE* targetTop = bits_ + static_cast<size_t>(stride_) * static_cast<size_t>(height_ - 1);
    GdiFlush();
    Gdiplus::GpBitmap* source = nullptr;
    Gdiplus::GpBitmap* target = nullptr;
    Gdiplus::GpGraphics* graphics = nullptr;
    Gdiplus::GpImageAttributes* attributes = nullptr;
    bool ok = gp::GdipCreateBitmapFromScan0(partW, partH, -other.stride_, format, sourceTop, &source) ==
                  Gdiplus::Ok &&
              gp::GdipCreateBitmapFromScan0(width_, height_, -stride_, format, targetTop, &target) == Gdiplus::Ok &&
              gp::GdipGetImageGraphicsContext(target, &graphics) == Gdiplus::Ok &&
              gp::GdipCreateImageAttributes(&attributes) == Gdiplus::Ok;
    if (ok) {
        gp::GdipSetCompositingMode(graphics, Gdiplus::CompositingModeSourceCopy);
        gp::GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeHighQualityBicubic);
        gp::GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHighQuality);
        // Edge pixels repeat instead of fading into the transparent outside.
        gp::GdipSetImageAttributesWrapMode(attributes, Gdiplus::WrapModeTileFlipXY, 0, FALSE);
        ok = gp::GdipDrawImageRectRectI(graphics, source, 0, 0, width_, height_, 0, 0, partW, partH,
                                        Gdiplus::UnitPixel, attributes, nullptr, nullptr) == Gdiplus::Ok;
    }
    if (attributes) gp::GdipDisposeImageAttributes(attributes);
    if (graphics) gp::GdipDeleteGraphics(graphics);
    if (target) gp::GdipDisposeImage(target);
    if (source) gp::GdipDisposeImage(source);
    GdiFlush();
    if (!ok) Release();
    return ok;
}

const CHBitmap* CHBitmap::Resampled(const RECT& part, int width, int height) const {
    const PartKey key{part.left, part.top, part.right - part.left, part.bottom - part.top, width, height};
    auto found = resampled_.find(key);
    if (found == resampled_.end()) {
        auto copy = std::make_unique<CHBitmap>();
        if (!copy->ResampleFrom(*this, part, width, height)) copy.reset();
        found = resampled_.emplace(key, std::move(copy)).first;
    }
    return found->second.get();
}

uint8_t* CHBitmap::PixelAt(int x, int y) const {
    if (!bits_ || x < 0 || y < 0 || x >= width_ || y >= height_) return nullptr;
    return bits_ + static_cast<size_t>(height_ - 1 - y) * stride_ + static_cast<size_t>(x) * (bitsPerPixel_ / 8);
}

// An image with alpha is drawn through a GDI+ bitmap that wraps the DIB's own
// memory as premultiplied ARGB, the form AlphaBlend with AC_SRC_ALPHA expects.
// (A graphics object on a DC would not keep the alpha channel on Windows.)
bool CHBitmap::DrawWithAlpha(void* gdiplusImage) {
    auto* image = static_cast<Gdiplus::GpBitmap*>(gdiplusImage);
    // The DIB is bottom-up: its top row is the last one in memory.
    BYTE* top = bits_ + static_cast<size_t>(stride_) * static_cast<size_t>(height_ - 1);
    Gdiplus::GpBitmap* target = nullptr;
    if (gp::GdipCreateBitmapFromScan0(width_, height_, -stride_, PixelFormat32bppPARGB, top, &target) !=
            Gdiplus::Ok ||
        !target)
        return false;
    bool ok = false;
    Gdiplus::GpGraphics* graphics = nullptr;
    if (gp::GdipGetImageGraphicsContext(target, &graphics) == Gdiplus::Ok && graphics) {
        ok = gp::GdipDrawImageRectI(graphics, image, 0, 0, width_, height_) == Gdiplus::Ok;
        gp::GdipDeleteGraphics(graphics);
    }
    gp::GdipDisposeImage(target);
    return ok;
}

bool CHBitmap::DrawOpaque(void* gdiplusImage) {
    auto* image = static_cast<Gdiplus::GpBitmap*>(gdiplusImage);
    bool ok = false;
    if (HDC dc = CreateCompatibleDC(nullptr)) {
        HGDIOBJ old = SelectObject(dc, bitmap_);
        Gdiplus::GpGraphics* graphics = nullptr;
        if (gp::GdipCreateFromHDC(dc, &graphics) == Gdiplus::Ok && graphics) {
            ok = gp::GdipDrawImageRectI(graphics, image, 0, 0, width_, height_) == Gdiplus::Ok;
            gp::GdipDeleteGraphics(graphics);
        }
        SelectObject(dc, old);
        DeleteDC(dc);
    }
    return ok;
}

bool CHBitmap::GdiplusRunning() {
    std::lock_guard<std::mutex> lock(g_gdiplusLock);
    return g_started;
}

int CHBitmap::LiveUsers() {
    std::lock_guard<std::mutex> lock(g_gdiplusLock);
    return g_users;
}

GdiplusScope::GdiplusScope() {
    AddUser();
    ok_ = EnsureStarted();
}

GdiplusScope::~GdiplusScope() { RemoveUser(); }

}  // namespace quillo
