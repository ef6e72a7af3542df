// Just enough of the PE format to place data behind an executable image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillo {

struct PeInfo {
    uint32_t lfanew = 0;
    uint16_t machine = 0;
    uint16_t sectionCount = 0;
    uint64_t imageEnd = 0;     // end of the raw data of the last section in the file
    uint32_t locator = 0;      // the four bytes at lfanew - 4
    uint32_t certificateOffset = 0;  // security directory: file offset and size of a signature
    uint32_t certificateSize = 0;
};

// Parses the DOS and PE headers and the section table; false with a reason
// when the bytes are not a PE image this tool can work with.
bool ParsePe(const uint8_t* data, size_t size, PeInfo& info, std::string& error);

const char* MachineName(uint16_t machine);

}  // namespace quillo
