// Import slots for system functions that Windows XP lacks but that the
// statically linked runtime imports: the thread library's timed waits
// (winpthreads) call GetTickCount64, which would otherwise sit in the
// program's import table, and XP's loader refuses to start a program that
// imports a function its system libraries do not export.
//
// A module that calls a system function declared dllimport calls through
// the pointer "__imp_<name>" (with the stdcall decoration on 32-bit x86),
// which the import library defines as the import table slot. This file
// defines that pointer itself, so the linker takes it from here and leaves
// the function out of the import table. The pointer starts at a resolver that,
// on the first call, looks the function up in kernel32 and keeps it, or keeps
// a stand-in built on what XP has.
//
// This file must be linked as an object of the program, not from a static
// library: the linker looks into libraries only for symbols still missing,
// and by the time the thread library asks for the slot, kernel32's import
// library would be the one to provide it.
#include <windows.h>

#include <atomic>

#include "base/TickCount.h"

namespace {

using TickCount64Fn = ULONGLONG(WINAPI*)();

ULONGLONG WINAPI TickCount64FirstCall();

uint32_t ReadTickCount() { return GetTickCount(); }

// GetTickCount64 where kernel32 has only GetTickCount.
ULONGLONG WINAPI TickCount64FromTickCount() {
    static std::atomic<uint64_t> last{0};
    return quillo::ExtendTickCount(last, ReadTickCount);
}

}  // namespace

#if defined(__i386__)
#define QUILLO_IMPORT_SLOT(name, argumentBytes) "__imp__" #name "@" #argumentBytes
#else
#define QUILLO_IMPORT_SLOT(name, argumentBytes) "__imp_" #name
#endif

extern "C" {
TickCount64Fn quilloGetTickCount64Slot __asm__(QUILLO_IMPORT_SLOT(GetTickCount64, 0)) = TickCount64FirstCall;
}

namespace {

ULONGLONG WINAPI TickCount64FirstCall() {
    auto system = reinterpret_cast<TickCount64Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount64")));
    const TickCount64Fn chosen = system ? system : TickCount64FromTickCount;
    // Threads that race here store the same pointer.
    __atomic_store_n(&quilloGetTickCount64Slot, chosen, __ATOMIC_RELEASE);
    return chosen();
}

}  // namespace
