// Base64 with the standard alphabet and "=" padding, no line breaks (RFC 4648).
#pragma once

#include <cstddef>
#include <string>

namespace quillo {

std::string Base64Encode(const void* data, size_t length);
inline std::string Base64Encode(const std::string& bytes) { return Base64Encode(bytes.data(), bytes.size()); }

// Strict decoder: false for characters outside the alphabet, bad padding or a
// length that is not a multiple of four; `out` is then unspecified.
bool Base64Decode(const std::string& text, std::string& out);

}  // namespace quillo
