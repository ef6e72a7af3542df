// Import slots for the functions the program uses from system libraries
// that are not on Windows' list of known DLLs (VERSION, IPHLPAPI, MSIMG32,
// MSVFW32, OLEACC, and COMCTL32, whose own imports would be resolved at the
// start too; OLEAUT32's one function goes the same way, which keeps the
// import table as it was). Imported statically, such a library is looked
// for in the program's own folder first, before any code of the program runs: a
// library of that name planted beside a downloaded setup file would be
// loaded, with the rights of an elevated setup.
//
// A function the headers declare dllimport is called through the pointer
// "__imp_<name>": as in ImportFallbacks.cpp, this file defines that pointer,
// starting at a resolver. A function declared without dllimport is called
// by its plain name, which the import library would provide as a jump
// through its slot: this file defines the function itself. Either way the
// function never reaches the import table; the library is loaded from the
// system folder by its full path at the first call, and the function looked
// up and kept. Should the library or the function be missing, the call
// fails as the function reports failure (0, FALSE or null) with
// ERROR_PROC_NOT_FOUND.
//
// This file must be linked as an object of the program (see ImportFallbacks.cpp).
#include <windows.h>
#include <commctrl.h>
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
#define QUILLO_SYSTEM_FUNCTION(library, Ret, name, Params, Args)                                       \
    extern "C" Ret WINAPI name Params {                                                               \
        using Function = Ret(WINAPI*) Params;                                                         \
        static Function found = nullptr;                                                              \
        Function f = __atomic_load_n(&found, __ATOMIC_ACQUIRE);                                       \
        if (!f) {                                                                                     \
            f = reinterpret_cast<Function>(reinterpret_cast<void*>(Resolve(library, #name)));         \
            if (!f) return Ret();                                                                     \
            __atomic_store_n(&found, f, __ATOMIC_RELEASE);                                            \
        }                                                                                             \
        return f Args;                                                                                \
    }

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
