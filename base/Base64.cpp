// Base64 with the standard alphabet and "=" padding, no line breaks (RFC 4648).
#include "base/Base64.h"

#include <cstdint>

namespace quillo {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr uint8_t kInvalid = 0xff;

struct DecodeTable {
    uint8_t value[256];
    constexpr DecodeTable() : value{} {
        for (int i = 0; i < 256; ++i) value[i] = kInvalid;
        for (int i = 0; i < 26; ++i) {
            value['A' + i] = static_cast<uint8_t>(i);
            value['a' + i] = static_cast<uint8_t>(26 + i);
        }
        for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<uint8_t>(52 + i);
        value[static_cast<unsigned char>('+')] = 62;
        value[static_cast<unsigned char>('/')] = 63;
    }
};

constexpr DecodeTable kDecode;

}  // namespace

std::string Base64Encode(const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    std::string out;
    out.resize((length + 2) / 3 * 4);
    char* o = &out[0];

    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = kAlphabet[v & 63];
    }
    const size_t rest = length - i;
    if (rest == 1) {
        const uint32_t v = uint32_t(p[i]) << 16;
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = '=';
        *o++ = '=';
    } else if (rest == 2) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8);
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = '=';
    }
    return out;
}

// Only the canonical encoding is accepted.  Besides the obvious (alphabet,
// length, "=" only as the last one or two characters of the text), the bits
// of the final quantum that do not make it into an output byte must be zero:
// "QQ==" decodes to "A" but "QR==" is rejected, so every byte string has
// exactly one accepted text and decoded data can be compared by its text.
bool Base64Decode(const std::string& text, std::string& out) {
    out.clear();
    const size_t n = text.size();
    if (n % 4 != 0) return false;
    if (n == 0) return true;

    size_t pad = 0;
    if (text[n - 1] == '=') pad = text[n - 2] == '=' ? 2 : 1;

    out.reserve(n / 4 * 3);
    const size_t body = n - 4;  // every quantum before the last has no padding
    for (size_t i = 0; i < body; i += 4) {
        const uint8_t a = kDecode.value[static_cast<unsigned char>(text[i])];
        const uint8_t b = kDecode.value[static_cast<unsigned char>(text[i + 1])];
        const uint8_t c = kDecode.value[static_cast<unsigned char>(text[i + 2])];
        const uint8_t d = kDecode.value[static_cast<unsigned char>(text[i + 3])];
        if (((a | b | c | d) & 0xc0) != 0) return false;  // kInvalid has the top bits set
        const uint32_t v = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | d;
        out.push_back(static_cast<char>(v >> 16));
        out.push_back(static_cast<char>(v >> 8));
        out.push_back(static_cast<char>(v));
    }

    // Last quantum: 4 - pad significant characters ("=" elsewhere is not in
    // the table and fails the lookup above or below).
    uint32_t v = 0;
    for (size_t k = 0; k < 4 - pad; ++k) {
        const uint8_t x = kDecode.value[static_cast<unsigned char>(text[body + k])];
        if (x == kInvalid) return false;
        v |= uint32_t(x) << (18 - 6 * k);
    }
    if (pad == 2) {
        if ((v & 0xffff) != 0) return false;
        out.push_back(static_cast<char>(v >> 16));
    } else if (pad == 1) {
        if ((v & 0xff) != 0) return false;
        out.push_back(static_cast<char>(v >> 16));
        out.push_back(static_cast<char>(v >> 8));
    } else {
        out.push_back(static_cast<char>(v >> 16));
        out.push_back(static_cast<char>(v >> 8));
        out.push_back(static_cast<char>(v));
    }
    return true;
}

}  // namespace quillo
