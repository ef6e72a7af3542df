#include "net/MachineId.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <map>

#include "base/Md5.h"
#include "net/Smbios.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#ifdef _WIN32
#include <windows.h>
#include <winternl.h>
#include <iphlpapi.h>
#else
#include <fstream>
#include <iterator>
#endif

namespace quillo {

namespace {

using MacBytes = std::array<uint8_t, 6>;

std::string FormatMac(const uint8_t* b) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
    return text;
}

// Count, then search, as both access paths do with the table they obtained.
std::string UuidFromTable(const uint8_t* table, size_t length, size_t count) {
    std::string uuid;
    FindSmbiosUuid(table, length, count, uuid);
    return uuid;
}

#ifdef _WIN32

// ---- firmware table (NT 5.2 and later) ----

std::string UuidFromFirmwareTable() {
    using GetSystemFirmwareTableFn = UINT(WINAPI*)(DWORD, DWORD, PVOID, DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return std::string();
    auto getTable = reinterpret_cast<GetSystemFirmwareTableFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemFirmwareTable")));
    if (!getTable) return std::string();
    const DWORD provider = 0x52534D42;  // 'RSMB'
    const UINT size = getTable(provider, 0, nullptr, 0);
    if (size == 0) return std::string();
    std::vector<uint8_t> buffer(size);
    const UINT got = getTable(provider, 0, buffer.data(), size);
    if (got == 0 || got > size) return std::string();
    const uint8_t* table = nullptr;
    size_t length = 0;
    if (!ParseFirmwareTableBuffer(buffer.data(), got, table, length)) return std::string();
    return UuidFromTable(table, length, CountSmbiosStructures(table, length));
}

// ---- physical memory (NT 5.0 and 5.1) ----

using NtOpenSectionFn = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*);
using NtMapViewOfSectionFn = LONG(NTAPI*)(HANDLE, HANDLE, PVOID*, ULONG_PTR, SIZE_T, LARGE_INTEGER*, SIZE_T*,
                                          int /* SECTION_INHERIT */, ULONG, ULONG);
using NtUnmapViewOfSectionFn = LONG(NTAPI*)(HANDLE, PVOID);
using RtlInitUnicodeStringFn = VOID(NTAPI*)(UNICODE_STRING*, PCWSTR);

template <typename Fn>
Fn NtdllFunction(HMODULE ntdll, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
}

class PhysicalMemory {
public:
    PhysicalMemory() {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (!ntdll) return;
        auto openSection = NtdllFunction<NtOpenSectionFn>(ntdll, "NtOpenSection");
        auto initString = NtdllFunction<RtlInitUnicodeStringFn>(ntdll, "RtlInitUnicodeString");
        map_ = NtdllFunction<NtMapViewOfSectionFn>(ntdll, "NtMapViewOfSection");
        unmap_ = NtdllFunction<NtUnmapViewOfSectionFn>(ntdll, "NtUnmapViewOfSection");
        if (!openSection || !initString || !map_ || !unmap_) return;
        UNICODE_STRING name;
        initString(&name, L"\\device\\physicalmemory");
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
        HANDLE section = nullptr;
        if (openSection(&section, SECTION_MAP_READ, &attributes) >= 0) section_ = section;
    }
    ~PhysicalMemory() {
        if (section_) CloseHandle(section_);
    }
    PhysicalMemory(const PhysicalMemory&) = delete;
    PhysicalMemory& operator=(const PhysicalMemory&) = delete;

    // Copies `length` bytes at a physical address; empty on failure.
    std::vector<uint8_t> Copy(uint32_t address, size_t length) {
        std::vector<uint8_t> bytes;
        if (!section_ || length == 0) return bytes;
        LARGE_INTEGER offset;
        offset.QuadPart = address & ~static_cast<LONGLONG>(0xFFF);  // the page that holds the address
        SIZE_T viewSize = static_cast<SIZE_T>(address - offset.QuadPart) + length;
        PVOID base = nullptr;
        if (map_(section_, GetCurrentProcess(), &base, 0, viewSize, &offset, &viewSize, 1 /* ViewShare */, 0,
                 PAGE_READONLY) < 0)
            return bytes;
        // The system may move the view start down further; it reports where it begins.
        const ULONGLONG skip = static_cast<ULONGLONG>(address) - static_cast<ULONGLONG>(offset.QuadPart);
        if (static_cast<ULONGLONG>(address) >= static_cast<ULONGLONG>(offset.QuadPart) && skip <= viewSize &&
            viewSize - skip >= length) {
            const uint8_t* start = static_cast<const uint8_t*>(base) + skip;
            bytes.assign(start, start + length);
        }
        unmap_(GetCurrentProcess(), base);
        return bytes;
    }

private:
    HANDLE section_ = nullptr;
    NtMapViewOfSectionFn map_ = nullptr;
    NtUnmapViewOfSectionFn unmap_ = nullptr;
};

std::string UuidFromPhysicalMemory() {
    PhysicalMemory memory;
    const std::vector<uint8_t> bios = memory.Copy(0xF0000, 0x10000);
    SmbiosEntryPoint entry;
    if (bios.empty() || !ScanSmbiosEntryPoints(bios.data(), bios.size(), entry)) return std::string();
    const std::vector<uint8_t> table = memory.Copy(entry.tableAddress, entry.tableLength);
    if (table.empty()) return std::string();
    return UuidFromTable(table.data(), table.size(), entry.structureCount);
}

#endif  // _WIN32

}  // namespace

std::string FormatCpuWords(uint32_t edx1, uint32_t ecx1, uint32_t edx3, uint32_t ecx3) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X%08X-%08X%08X", static_cast<unsigned>(edx1), static_cast<unsigned>(ecx1),
                  static_cast<unsigned>(edx3), static_cast<unsigned>(ecx3));
    return text;
}

std::string ComputeMachineIdText(const std::string& uuid, const std::string& cpuWords, const std::string& adapterText) {
    const std::string facts = uuid + cpuWords + adapterText;
    return Md5Hex(facts.data(), facts.size());
}

std::string ChooseAdapterText(const std::vector<AdapterInfo>& adapters, uint32_t volumeSerial) {
    std::map<uint32_t, MacBytes> wired, wireless, other;
    for (const AdapterInfo& adapter : adapters) {
        MacBytes mac;
        std::memcpy(mac.data(), adapter.address, mac.size());
        if (adapter.type == kAdapterTypeEthernet && adapter.description.find("Bluetooth") == std::string::npos)
            wired[adapter.index] = mac;
        else if (adapter.type == kAdapterTypeWireless)
            wireless[adapter.index] = mac;
        else
            other[adapter.index] = mac;
    }
    MacBytes value = {static_cast<uint8_t>(volumeSerial), static_cast<uint8_t>(volumeSerial >> 8),
                      static_cast<uint8_t>(volumeSerial >> 16), static_cast<uint8_t>(volumeSerial >> 24), 0, 0};
    for (const auto* group : {&wired, &wireless, &other}) {
        if (!group->empty()) {
            value = group->begin()->second;
            break;
        }
    }
    return FormatMac(value.data());
}

std::string ReadCpuWords() {
    unsigned a1 = 0, b1 = 0, c1 = 0, d1 = 0, a3 = 0, b3 = 0, c3 = 0, d3 = 0;
#if defined(__i386__) || defined(__x86_64__)
    __cpuid_count(1, 0, a1, b1, c1, d1);
    __cpuid_count(3, 0, a3, b3, c3, d3);
#endif
    return FormatCpuWords(d1, c1, d3, c3);
}

#ifdef _WIN32

std::string ReadSystemUuid() {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&info)) return std::string();
#pragma GCC diagnostic pop
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) return std::string();
    if (info.dwMajorVersion < 6 && info.dwMinorVersion < 2) return UuidFromPhysicalMemory();
    return UuidFromFirmwareTable();
}

std::string ReadAdapterText() {
    DWORD serial = 0;
    if (!GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) serial = 0;

    std::vector<AdapterInfo> adapters;
    ULONG size = 648;
    std::vector<ULONGLONG> storage((size + 7) / 8);  // 8-byte aligned for the structures
    DWORD rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(storage.data()), &size);
    if (rc == ERROR_BUFFER_OVERFLOW && size > 0) {
        storage.assign((size + 7) / 8, 0);
        rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(storage.data()), &size);
    }
    if (rc == NO_ERROR) {
        for (const IP_ADAPTER_INFO* a = reinterpret_cast<const IP_ADAPTER_INFO*>(storage.data()); a; a = a->Next) {
            AdapterInfo info;
            info.index = a->Index;
            info.type = a->Type;
            info.description.assign(a->Description, strnlen(a->Description, sizeof a->Description));
            std::memcpy(info.address, a->Address, sizeof info.address);
            adapters.push_back(info);
        }
    }
    return ChooseAdapterText(adapters, serial);
}

#else

std::string ReadSystemUuid() {
    // The raw structure table the kernel exports (readable by root only on most systems).
    std::ifstream file("/sys/firmware/dmi/tables/DMI", std::ios::binary);
    if (!file) return std::string();
    const std::vector<uint8_t> table((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (table.empty()) return std::string();
    return UuidFromTable(table.data(), table.size(), CountSmbiosStructures(table.data(), table.size()));
}

std::string ReadAdapterText() { return ChooseAdapterText({}, 0); }

#endif

std::wstring GetMachineId() {
    // Initialised once, under the guard C++ gives function-local statics, by
    // whichever thread reports first.
    static const std::wstring id = [] {
        const std::string text = ComputeMachineIdText(ReadSystemUuid(), ReadCpuWords(), ReadAdapterText());
        return std::wstring(text.begin(), text.end());  // hexadecimal digits only
    }();
    return id;
}

}  // namespace quillo
