// The SMBIOS walk behind the machine identifier, on both of its access paths:
//  - the input as the firmware table buffer (header, then the structure
//    table): count the structures, then search that many for the UUID;
//  - the input as the copy of the BIOS area: find the entry point, then
//    search the structure count it gives, over the input as the table.
//
// What must hold for every input:
//  - no read leaves the buffer, whatever the lengths inside claim;
//  - the table found lies inside the buffer, the count is at least one for a
//    non-empty table and never more than its length;
//  - a UUID found has the 35-character form, and searching more structures
//    finds the same one (the search stops at the first match).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/MachineId.h"
#include "net/Smbios.h"

namespace {

using namespace quillo;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "smbios: %s\n", what);
    std::abort();
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

void CheckUuid(const std::string& uuid) {
    if (uuid.size() != 35) Fail("a UUID of the wrong length");
    for (size_t i = 0; i < uuid.size(); ++i) {
        const bool dash = i % 9 == 8;
        if (dash ? uuid[i] != '-' : !IsHex(uuid[i])) Fail("a UUID not in the 35-character form");
    }
}

void Search(const uint8_t* table, size_t length, size_t count) {
    std::string uuid = "unchanged";
    if (FindSmbiosUuid(table, length, count, uuid)) {
        CheckUuid(uuid);
        std::string wider;
        if (!FindSmbiosUuid(table, length, count + 1, wider) || wider != uuid)
            Fail("searching one more structure lost the UUID");
        // As the identifier uses it.
        if (ComputeMachineIdText(uuid, FormatCpuWords(1, 2, 3, 4), "000000000000").size() != 32)
            Fail("an identifier that is not 32 digits");
    } else if (uuid != "unchanged") {
        Fail("a failed search changed the UUID");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* table = nullptr;
    size_t length = 0;
    if (ParseFirmwareTableBuffer(data, size, table, length)) {
        if (size < 8 || table != data + 8 || length > size - 8) Fail("the table lies outside the buffer");
        const size_t count = CountSmbiosStructures(table, length);
        if ((length > 0 && count == 0) || count > length) Fail("a structure count that cannot be");
        Search(table, length, count);
    } else if (size >= 8) {
        Fail("a buffer with a whole header was refused");
    }

    // The same bytes as a structure table of their own, every structure looked at.
    Search(data, size, CountSmbiosStructures(data, size));

    SmbiosEntryPoint entry;
    if (ScanSmbiosEntryPoints(data, size, entry)) Search(data, size, entry.structureCount);
    return 0;
}
