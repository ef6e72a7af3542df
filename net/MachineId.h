// The anonymous machine identifier sent with every statistics report: the MD5
// of the system UUID, two CPUID words and one network adapter's address.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillo {

// 32 upper-case hexadecimal digits, computed on first use and the same for the
// rest of the process (first use may come from any thread).
std::wstring GetMachineId();

// MD5 (upper-case hex) of uuid + cpuWords + adapterText as one narrow text.
std::string ComputeMachineIdText(const std::string& uuid, const std::string& cpuWords, const std::string& adapterText);

// "%08X%08X-%08X%08X" of EDX and ECX of CPUID leaf 1, then of leaf 3.
std::string FormatCpuWords(uint32_t edx1, uint32_t ecx1, uint32_t edx3, uint32_t ecx3);

// One network adapter as the adapter enumeration reports it.
struct AdapterInfo {
    uint32_t index = 0;  // interface index
    uint32_t type = 0;   // 6 = Ethernet, 71 = IEEE 802.11
    std::string description;
    uint8_t address[6] = {};  // first 6 bytes of the hardware address
};

constexpr uint32_t kAdapterTypeEthernet = 6;
constexpr uint32_t kAdapterTypeWireless = 71;

// The 12-digit adapter text: the address of the adapter with the smallest
// index among wired Ethernet ones (no "Bluetooth" in the description), else
// among wireless ones, else among the rest. Without adapters: the volume
// serial in little-endian order followed by two zero bytes.
std::string ChooseAdapterText(const std::vector<AdapterInfo>& adapters, uint32_t volumeSerial);

// The hardware facts as this machine reports them (exposed for tests).
std::string ReadSystemUuid();       // empty when the SMBIOS data is out of reach
std::string ReadCpuWords();
std::string ReadAdapterText();

}  // namespace quillo
