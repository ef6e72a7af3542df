// Reading the system UUID out of raw SMBIOS data. Everything here works on
// byte buffers handed in by the caller, so it is portable and safe on any input:
// no read ever leaves the buffer, whatever the lengths inside it claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillo {

// "%02X%02X%02X%02X-" four times over the 16 bytes in stored order (35 characters).
std::string FormatSmbiosUuid(const uint8_t* sixteen);

// Number of structures in a structure table: from each structure skip its
// formatted length, then run to the next double zero (or the end of the table),
// count one and step over the two zero bytes, until the end of the table.
size_t CountSmbiosStructures(const uint8_t* table, size_t length);

// Looks at no more than `count` structures for the System Information
// structure (type 1, formatted length >= 0x19) and formats its UUID bytes
// 8..23 into `uuid`. Gives up at a structure shorter than its 4-byte header or
// one whose string set runs past the table. `uuid` is left alone on failure.
bool FindSmbiosUuid(const uint8_t* table, size_t length, size_t count, std::string& uuid);

// The 'RSMB' firmware table buffer: calling method, SMBIOS major and minor,
// DMI revision, a 32-bit little-endian table length, then the table. A length
// field larger than what follows the header is cut down to the bytes present.
// False when the buffer is shorter than its 8-byte header.
bool ParseFirmwareTableBuffer(const uint8_t* buffer, size_t size, const uint8_t*& table, size_t& tableLength);

// Where the BIOS says the structure table is in physical memory.
struct SmbiosEntryPoint {
    uint32_t tableAddress = 0;
    uint16_t tableLength = 0;
    uint16_t structureCount = 0;
};

// Scans a copy of the BIOS area (64 KiB from physical 0xF0000) in 16-byte
// steps for an "_SM_" entry point (both checksums and the "_DMI_" part at +16)
// or a legacy "_DMI_" one. The first paragraph with either anchor decides: a
// failed checksum there ends the scan with false.
bool ScanSmbiosEntryPoints(const uint8_t* area, size_t size, SmbiosEntryPoint& out);

}  // namespace quillo
