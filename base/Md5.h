// MD5 message digest (RFC 1321).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quillo {

class Md5 {
public:
    Md5();
    void update(const void* data, size_t length);
    std::array<uint8_t, 16> finish();  // the object is reset afterwards

private:
    void transform(const uint8_t* block);
    uint32_t state_[4];
    uint64_t bytes_ = 0;
    uint8_t buffer_[64];
    size_t buffered_ = 0;
};

// 32 upper-case hexadecimal digits.
std::string Md5Hex(const void* data, size_t length);
std::string DigestToHex(const std::array<uint8_t, 16>& digest);

}  // namespace quillo

namespace quillo {

// The package check of the install sequence: false when `expected` is empty
// (`digest` then stays empty) or differs from the package's digest, compared
// exactly, letter case included; `digest` receives the computed digest
// otherwise, also on a mismatch.
bool VerifyPackage(const void* package, size_t length, const std::string& expected, std::string& digest);
// The same check on a digest computed elsewhere (the streaming pass over
// the setup file): `digest` receives `computed` unless `expected` is empty.
bool CheckDigest(const std::string& computed, const std::string& expected, std::string& digest);

}  // namespace quillo
