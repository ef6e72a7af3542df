// Import slots for the functions the program uses from system libraries
// that are not on every supported Windows' list of known DLLs (VERSION,
// IPHLPAPI, MSIMG32, MSVFW32, OLEACC, GDI+, and COMCTL32, whose own imports
// would be resolved at the start too; OLEAUT32's one function goes the same
// way, which keeps the import table as it was). Imported statically, such a
// library is looked for in the program's own folder first, before any code
// of the program runs: a library of that name planted beside a downloaded
// setup file would be loaded, with the rights of an elevated setup. GDI+ is
// a known DLL on current Windows only; through its slots it is also loaded
// only by a run that draws (a quiet run never does).
//
// A function the headers declare dllimport is called through the pointer
// "__imp_<name>": as in ImportFallbacks.cpp, this file defines that pointer,
// starting at a resolver. A function declared without dllimport is called
// by its plain name, which the import library would provide as a jump
// through its slot: this file defines the function itself. Either way the
// function never reaches the import table; the library is loaded from the
// system folder by its full path at the first call, and the function looked
// up and kept. Should the library or the function be missing, the call
// fails as the function reports failure (0, FALSE or null; GDI+'s
// Win32Error) with ERROR_PROC_NOT_FOUND.
//
// This file must be linked as an object of the program (see ImportFallbacks.cpp).
#include <windows.h>
#include <commctrl.h>
#include <objidl.h>
#include <ole2.h>
#include <gdiplus.h>
#include <iphlpapi.h>
#include <oleacc.h>
#include <vfw.h>

#include "base/SystemInfo.h"

#if defined(__i386__)
#define QUILLO_SLOT_NAME(name, argumentBytes) "__imp__" #name "@" #argumentBytes
#else
#define QUILLO_SLOT_NAME(name, argumentBytes) "__imp_" #name
#endif

namespace {

FARPROC Resolve(const wchar_t* library, const char* function) {
    // The common controls are asked for by name: the program's manifest
    // sends that name to the side-by-side store (version 6), and the search
    // is the system folder's only (RestrictLibrarySearch).
    const bool commonControls = lstrcmpiW(library, L"comctl32.dll") == 0;
    const HMODULE module = commonControls ? LoadLibraryW(library) : quillo::LoadSystemLibrary(library);
    const FARPROC found = module ? GetProcAddress(module, function) : nullptr;
    if (!found) SetLastError(ERROR_PROC_NOT_FOUND);
    return found;
}

}  // namespace

// One slot: its pointer, and the first call that fills it. `Params` is the
// parenthesised parameter list, `Args` the names passed on.
#define QUILLO_SYSTEM_IMPORT(library, Ret, name, argumentBytes, Params, Args)                          \
    namespace {                                                                                       \
    Ret WINAPI name##FirstCall Params;                                                                \
    }                                                                                                 \
    extern "C" {                                                                                      \
    decltype(&name##FirstCall) quillo_##name##_slot __asm__(QUILLO_SLOT_NAME(name, argumentBytes)) = \
        name##FirstCall;                                                                              \
    }                                                                                                 \
    namespace {                                                                                       \
    Ret WINAPI name##FirstCall Params {                                                               \
        const auto found = reinterpret_cast<decltype(&name##FirstCall)>(                              \
            reinterpret_cast<void*>(Resolve(library, #name)));                                        \
        if (!found) return Ret();                                                                     \
        __atomic_store_n(&quillo_##name##_slot, found, __ATOMIC_RELEASE);                             \
        return found Args;                                                                            \
    }                                                                                                 \
    }

// A function declared without dllimport: defined here by its own name.
// `Failed` is what it returns when the library or the function is missing.
#define QUILLO_SYSTEM_FUNCTION_FAILING(library, Ret, name, Params, Args, Failed)                       \
    extern "C" Ret WINAPI name Params {                                                               \
        using Function = Ret(WINAPI*) Params;                                                         \
        static Function found = nullptr;                                                              \
        Function f = __atomic_load_n(&found, __ATOMIC_ACQUIRE);                                       \
        if (!f) {                                                                                     \
            f = reinterpret_cast<Function>(reinterpret_cast<void*>(Resolve(library, #name)));         \
            if (!f) return Failed;                                                                    \
            __atomic_store_n(&found, f, __ATOMIC_RELEASE);                                            \
        }                                                                                             \
        return f Args;                                                                                \
    }
#define QUILLO_SYSTEM_FUNCTION(library, Ret, name, Params, Args) \
    QUILLO_SYSTEM_FUNCTION_FAILING(library, Ret, name, Params, Args, Ret())

QUILLO_SYSTEM_FUNCTION(L"version.dll", DWORD, GetFileVersionInfoSizeW, (LPCWSTR file, LPDWORD handle),
                       (file, handle))
QUILLO_SYSTEM_FUNCTION(L"version.dll", BOOL, GetFileVersionInfoW,
                       (LPCWSTR file, DWORD handle, DWORD length, LPVOID data), (file, handle, length, data))
QUILLO_SYSTEM_FUNCTION(L"version.dll", BOOL, VerQueryValueW,
                       (LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length),
                       (block, subBlock, buffer, length))
QUILLO_SYSTEM_FUNCTION(L"iphlpapi.dll", ULONG, GetAdaptersInfo, (PIP_ADAPTER_INFO info, PULONG length),
                       (info, length))
QUILLO_SYSTEM_FUNCTION(L"msvfw32.dll", HDRAWDIB, DrawDibOpen, (), ())
QUILLO_SYSTEM_FUNCTION(L"msvfw32.dll", BOOL, DrawDibClose, (HDRAWDIB drawDib), (drawDib))
QUILLO_SYSTEM_FUNCTION(L"msvfw32.dll", BOOL, DrawDibDraw,
                       (HDRAWDIB drawDib, HDC dc, int x, int y, int w, int h, LPBITMAPINFOHEADER header, LPVOID bits,
                        int sx, int sy, int sw, int sh, UINT flags),
                       (drawDib, dc, x, y, w, h, header, bits, sx, sy, sw, sh, flags))

// The accessible objects of the windows (ui/UIAccessible).
QUILLO_SYSTEM_FUNCTION(L"oleacc.dll", LRESULT, LresultFromObject, (REFIID riid, WPARAM wParam, LPUNKNOWN object),
                       (riid, wParam, object))
QUILLO_SYSTEM_FUNCTION(L"oleacc.dll", HRESULT, CreateStdAccessibleObject,
                       (HWND hwnd, LONG objectId, REFIID riid, void** object), (hwnd, objectId, riid, object))

// Functions the headers declare dllimport: their slots.
QUILLO_SYSTEM_IMPORT(L"comctl32.dll", BOOL, InitCommonControlsEx, 4, (const INITCOMMONCONTROLSEX* controls), (controls))
QUILLO_SYSTEM_IMPORT(L"msimg32.dll", BOOL, AlphaBlend, 44,
                     (HDC dest, int x, int y, int w, int h, HDC source, int sx, int sy, int sw, int sh,
                      BLENDFUNCTION blend),
                     (dest, x, y, w, h, source, sx, sy, sw, sh, blend))
QUILLO_SYSTEM_IMPORT(L"msimg32.dll", BOOL, TransparentBlt, 44,
                     (HDC dest, int x, int y, int w, int h, HDC source, int sx, int sy, int sw, int sh,
                      UINT transparent),
                     (dest, x, y, w, h, source, sx, sy, sw, sh, transparent))
QUILLO_SYSTEM_IMPORT(L"oleaut32.dll", BSTR, SysAllocStringLen, 8, (const OLECHAR* text, UINT length), (text, length))

// GDI+'s flat functions (ui/CHBitmap, SkinDraw, the edit boxes), defined in
// the namespace the headers declare them in. A missing library fails each
// with Win32Error, which the callers treat as any failure of GDI+.
#define QUILLO_GDIPLUS(name, Params, Args) \
    QUILLO_SYSTEM_FUNCTION_FAILING(L"gdiplus.dll", GpStatus, name, Params, Args, Win32Error)
namespace Gdiplus {
QUILLO_GDIPLUS(GdiplusStartup, (ULONG_PTR * token, GDIPCONST GdiplusStartupInput* input, GdiplusStartupOutput* output),
               (token, input, output))
QUILLO_SYSTEM_FUNCTION(L"gdiplus.dll", VOID, GdiplusShutdown, (ULONG_PTR token), (token))
namespace DllExports {
QUILLO_GDIPLUS(GdipCreateBitmapFromStream, (IStream * stream, GpBitmap** bitmap), (stream, bitmap))
QUILLO_GDIPLUS(GdipCreateBitmapFromScan0,
               (INT width, INT height, INT stride, PixelFormat format, BYTE* scan0, GpBitmap** bitmap),
               (width, height, stride, format, scan0, bitmap))
QUILLO_GDIPLUS(GdipDisposeImage, (GpImage * image), (image))
QUILLO_GDIPLUS(GdipGetImageWidth, (GpImage * image, UINT* width), (image, width))
QUILLO_GDIPLUS(GdipGetImageHeight, (GpImage * image, UINT* height), (image, height))
QUILLO_GDIPLUS(GdipGetImagePixelFormat, (GpImage * image, PixelFormat* format), (image, format))
QUILLO_GDIPLUS(GdipGetImageGraphicsContext, (GpImage * image, GpGraphics** graphics), (image, graphics))
QUILLO_GDIPLUS(GdipCreateFromHDC, (HDC dc, GpGraphics** graphics), (dc, graphics))
QUILLO_GDIPLUS(GdipDeleteGraphics, (GpGraphics * graphics), (graphics))
QUILLO_GDIPLUS(GdipSetClipRectI, (GpGraphics * graphics, INT x, INT y, INT width, INT height, CombineMode mode),
               (graphics, x, y, width, height, mode))
QUILLO_GDIPLUS(GdipSetPixelOffsetMode, (GpGraphics * graphics, PixelOffsetMode mode), (graphics, mode))
QUILLO_GDIPLUS(GdipSetInterpolationMode, (GpGraphics * graphics, InterpolationMode mode), (graphics, mode))
QUILLO_GDIPLUS(GdipSetCompositingMode, (GpGraphics * graphics, CompositingMode mode), (graphics, mode))
QUILLO_GDIPLUS(GdipDrawImageRectI, (GpGraphics * graphics, GpImage* image, INT x, INT y, INT width, INT height),
               (graphics, image, x, y, width, height))
QUILLO_GDIPLUS(GdipDrawImageRectRectI,
               (GpGraphics * graphics, GpImage* image, INT x, INT y, INT width, INT height, INT sx, INT sy, INT sw,
                INT sh, GpUnit unit, GDIPCONST GpImageAttributes* attributes, DrawImageAbort abort, VOID* data),
               (graphics, image, x, y, width, height, sx, sy, sw, sh, unit, attributes, abort, data))
QUILLO_GDIPLUS(GdipCreateImageAttributes, (GpImageAttributes * *attributes), (attributes))
QUILLO_GDIPLUS(GdipSetImageAttributesWrapMode, (GpImageAttributes * attributes, WrapMode wrap, ARGB colour, BOOL clamp),
               (attributes, wrap, colour, clamp))
QUILLO_GDIPLUS(GdipDisposeImageAttributes, (GpImageAttributes * attributes), (attributes))
QUILLO_GDIPLUS(GdipCreateSolidFill, (ARGB colour, GpSolidFill** brush), (colour, brush))
QUILLO_GDIPLUS(GdipDeleteBrush, (GpBrush * brush), (brush))
QUILLO_GDIPLUS(GdipFillRectangleI, (GpGraphics * graphics, GpBrush* brush, INT x, INT y, INT width, INT height),
               (graphics, brush, x, y, width, height))
QUILLO_GDIPLUS(GdipCreatePen1, (ARGB colour, REAL width, GpUnit unit, GpPen** pen), (colour, width, unit, pen))
QUILLO_GDIPLUS(GdipDeletePen, (GpPen * pen), (pen))
QUILLO_GDIPLUS(GdipDrawLineI, (GpGraphics * graphics, GpPen* pen, INT x1, INT y1, INT x2, INT y2),
               (graphics, pen, x1, y1, x2, y2))
QUILLO_GDIPLUS(GdipCreateFontFromLogfontW, (HDC dc, GDIPCONST LOGFONTW* logFont, GpFont** font), (dc, logFont, font))
QUILLO_GDIPLUS(GdipDeleteFont, (GpFont * font), (font))
QUILLO_GDIPLUS(GdipCreateStringFormat, (INT flags, LANGID language, GpStringFormat** format), (flags, language, format))
QUILLO_GDIPLUS(GdipDeleteStringFormat, (GpStringFormat * format), (format))
QUILLO_GDIPLUS(GdipSetStringFormatFlags, (GpStringFormat * format, INT flags), (format, flags))
QUILLO_GDIPLUS(GdipSetStringFormatAlign, (GpStringFormat * format, StringAlignment align), (format, align))
QUILLO_GDIPLUS(GdipSetStringFormatLineAlign, (GpStringFormat * format, StringAlignment align), (format, align))
QUILLO_GDIPLUS(GdipSetStringFormatTrimming, (GpStringFormat * format, StringTrimming trimming), (format, trimming))
QUILLO_GDIPLUS(GdipMeasureString,
               (GpGraphics * graphics, GDIPCONST WCHAR* text, INT length, GDIPCONST GpFont* font,
                GDIPCONST RectF* layout, GDIPCONST GpStringFormat* format, RectF* box, INT* fitted, INT* lines),
               (graphics, text, length, font, layout, format, box, fitted, lines))
QUILLO_GDIPLUS(GdipDrawString,
               (GpGraphics * graphics, GDIPCONST WCHAR* text, INT length, GDIPCONST GpFont* font,
                GDIPCONST RectF* layout, GDIPCONST GpStringFormat* format, GDIPCONST GpBrush* brush),
               (graphics, text, length, font, layout, format, brush))
}  // namespace DllExports
}  // namespace Gdiplus
