// MD5 message digest (RFC 1321).
//
// The compression function is fully unrolled and reads message words straight
// from the input (callers' buffers are used in place whenever whole blocks are
// available; only a partial block at the edges is copied into buffer_).
// Words are fetched with memcpy so unaligned input is fine, and byte-swapped
// on big-endian hosts.
#include "base/Md5.h"

#include <cstring>

namespace quillo {

namespace {

#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define QUILLO_MD5_BIG_ENDIAN 1
#else
#define QUILLO_MD5_BIG_ENDIAN 0
#endif

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
#if QUILLO_MD5_BIG_ENDIAN
    v = (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
#endif
    return v;
}

inline void Store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline uint32_t Rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

// The four auxiliary functions, arranged to keep the dependency on the
// previous step's result (b) as late as possible.  G is split into two
// disjoint terms that are simply added: (b & d) and (c & ~d) never share a
// set bit, so the sum equals the OR and the (c & ~d) half can be computed
// before b is known.
#define MD5_F(a, b, c, d, k, s, t)                  \
    a += Load32(p + 4 * (k)) + (t);                 \
    a += ((c ^ d) & b) ^ d;                         \
    a = Rotl(a, s) + b;

#define MD5_G(a, b, c, d, k, s, t)                  \
    a += Load32(p + 4 * (k)) + (t);                 \
    a += c & ~d;                                    \
    a += b & d;                                     \
    a = Rotl(a, s) + b;

#define MD5_H(a, b, c, d, k, s, t)                  \
    a += Load32(p + 4 * (k)) + (t);                 \
    a += b ^ c ^ d;                                 \
    a = Rotl(a, s) + b;

#define MD5_I(a, b, c, d, k, s, t)                  \
    a += Load32(p + 4 * (k)) + (t);                 \
    a += c ^ (b | ~d);                              \
    a = Rotl(a, s) + b;

// Runs the compression function over `count` consecutive 64-byte blocks.
void ProcessBlocks(uint32_t* state, const uint8_t* p, size_t count) {
    uint32_t a = state[0];
    uint32_t b = state[1];
    uint32_t c = state[2];
    uint32_t d = state[3];

    for (; count != 0; --count, p += 64) {
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        MD5_F(a, b, c, d, 0, 7, 0xd76aa478u)
        MD5_F(d, a, b, c, 1, 12, 0xe8c7b756u)
        MD5_F(c, d, a, b, 2, 17, 0x242070dbu)
        MD5_F(b, c, d, a, 3, 22, 0xc1bdceeeu)
        MD5_F(a, b, c, d, 4, 7, 0xf57c0fafu)
        MD5_F(d, a, b, c, 5, 12, 0x4787c62au)
        MD5_F(c, d, a, b, 6, 17, 0xa8304613u)
        MD5_F(b, c, d, a, 7, 22, 0xfd469501u)
        MD5_F(a, b, c, d, 8, 7, 0x698098d8u)
        MD5_F(d, a, b, c, 9, 12, 0x8b44f7afu)
        MD5_F(c, d, a, b, 10, 17, 0xffff5bb1u)
        MD5_F(b, c, d, a, 11, 22, 0x895cd7beu)
        MD5_F(a, b, c, d, 12, 7, 0x6b901122u)
        MD5_F(d, a, b, c, 13, 12, 0xfd987193u)
        MD5_F(c, d, a, b, 14, 17, 0xa679438eu)
        MD5_F(b, c, d, a, 15, 22, 0x49b40821u)

        MD5_G(a, b, c, d, 1, 5, 0xf61e2562u)
        MD5_G(d, a, b, c, 6, 9, 0xc040b340u)
        MD5_G(c, d, a, b, 11, 14, 0x265e5a51u)
        MD5_G(b, c, d, a, 0, 20, 0xe9b6c7aau)
        MD5_G(a, b, c, d, 5, 5, 0xd62f105du)
        MD5_G(d, a, b, c, 10, 9, 0x02441453u)
        MD5_G(c, d, a, b, 15, 14, 0xd8a1e681u)
        MD5_G(b, c, d, a, 4, 20, 0xe7d3fbc8u)
        MD5_G(a, b, c, d, 9, 5, 0x21e1cde6u)
        MD5_G(d, a, b, c, 14, 9, 0xc33707d6u)
        MD5_G(c, d, a, b, 3, 14, 0xf4d50d87u)
        MD5_G(b, c, d, a, 8, 20, 0x455a14edu)
        MD5_G(a, b, c, d, 13, 5, 0xa9e3e905u)
        MD5_G(d, a, b, c, 2, 9, 0xfcefa3f8u)
        MD5_G(c, d, a, b, 7, 14, 0x676f02d9u)
        MD5_G(b, c, d, a, 12, 20, 0x8d2a4c8au)

        MD5_H(a, b, c, d, 5, 4, 0xfffa3942u)
        MD5_H(d, a, b, c, 8, 11, 0x8771f681u)
        MD5_H(c, d, a, b, 11, 16, 0x6d9d6122u)
        MD5_H(b, c, d, a, 14, 23, 0xfde5380cu)
        MD5_H(a, b, c, d, 1, 4, 0xa4beea44u)
        MD5_H(d, a, b, c, 4, 11, 0x4bdecfa9u)
        MD5_H(c, d, a, b, 7, 16, 0xf6bb4b60u)
        MD5_H(b, c, d, a, 10, 23, 0xbebfbc70u)
        MD5_H(a, b, c, d, 13, 4, 0x289b7ec6u)
        MD5_H(d, a, b, c, 0, 11, 0xeaa127fau)
        MD5_H(c, d, a, b, 3, 16, 0xd4ef3085u)
        MD5_H(b, c, d, a, 6, 23, 0x04881d05u)
        MD5_H(a, b, c, d, 9, 4, 0xd9d4d039u)
        MD5_H(d, a, b, c, 12, 11, 0xe6db99e5u)
        MD5_H(c, d, a, b, 15, 16, 0x1fa27cf8u)
        MD5_H(b, c, d, a, 2, 23, 0xc4ac5665u)

        MD5_I(a, b, c, d, 0, 6, 0xf4292244u)
        MD5_I(d, a, b, c, 7, 10, 0x432aff97u)
        MD5_I(c, d, a, b, 14, 15, 0xab9423a7u)
        MD5_I(b, c, d, a, 5, 21, 0xfc93a039u)
        MD5_I(a, b, c, d, 12, 6, 0x655b59c3u)
        MD5_I(d, a, b, c, 3, 10, 0x8f0ccc92u)
        MD5_I(c, d, a, b, 10, 15, 0xffeff47du)
        MD5_I(b, c, d, a, 1, 21, 0x85845dd1u)
        MD5_I(a, b, c, d, 8, 6, 0x6fa87e4fu)
        MD5_I(d, a, b, c, 15, 10, 0xfe2ce6e0u)
        MD5_I(c, d, a, b, 6, 15, 0xa3014314u)
        MD5_I(b, c, d, a, 13, 21, 0x4e0811a1u)
        MD5_I(a, b, c, d, 4, 6, 0xf7537e82u)
        MD5_I(d, a, b, c, 11, 10, 0xbd3af235u)
        MD5_I(c, d, a, b, 2, 15, 0x2ad7d2bbu)
        MD5_I(b, c, d, a, 9, 21, 0xeb86d391u)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }

    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

void InitState(uint32_t* state) {
    state[0] = 0x67452301u;
    state[1] = 0xefcdab89u;
    state[2] = 0x98badcfeu;
    state[3] = 0x10325476u;
}

}  // namespace

Md5::Md5() : buffer_{} { InitState(state_); }

void Md5::transform(const uint8_t* block) { ProcessBlocks(state_, block, 1); }

void Md5::update(const void* data, size_t length) {
    if (length == 0) return;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    bytes_ += length;

    // Top up a partially filled block first.
    if (buffered_ != 0) {
        const size_t take = length < 64 - buffered_ ? length : 64 - buffered_;
        std::memcpy(buffer_ + buffered_, p, take);
        buffered_ += take;
        p += take;
        length -= take;
        if (buffered_ < 64) return;
        transform(buffer_);
        buffered_ = 0;
    }

    // Whole blocks are hashed in place.
    const size_t blocks = length / 64;
    if (blocks != 0) {
        ProcessBlocks(state_, p, blocks);
        p += blocks * 64;
        length -= blocks * 64;
    }

    if (length != 0) {
        std::memcpy(buffer_, p, length);
        buffered_ = length;
    }
}

std::array<uint8_t, 16> Md5::finish() {
    const uint64_t bits = bytes_ * 8;

    // 0x80 terminator, zeros up to 56 mod 64, then the bit count (little endian).
    buffer_[buffered_++] = 0x80;
    if (buffered_ > 56) {
        std::memset(buffer_ + buffered_, 0, 64 - buffered_);
        transform(buffer_);
        buffered_ = 0;
    }
    std::memset(buffer_ + buffered_, 0, 56 - buffered_);
    Store32(buffer_ + 56, static_cast<uint32_t>(bits));
    Store32(buffer_ + 60, static_cast<uint32_t>(bits >> 32));
    transform(buffer_);

    std::array<uint8_t, 16> digest;
    for (int i = 0; i < 4; ++i) Store32(digest.data() + 4 * i, state_[i]);

    InitState(state_);
    bytes_ = 0;
    buffered_ = 0;
    std::memset(buffer_, 0, sizeof(buffer_));
    return digest;
}

std::string DigestToHex(const std::array<uint8_t, 16>& digest) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out(32, '0');
    for (size_t i = 0; i < digest.size(); ++i) {
        out[2 * i] = kHex[digest[i] >> 4];
        out[2 * i + 1] = kHex[digest[i] & 0x0f];
    }
    return out;
}

std::string Md5Hex(const void* data, size_t length) {
    Md5 md5;
    md5.update(data, length);
    return DigestToHex(md5.finish());
}

}  // namespace quillo

namespace quillo {

bool VerifyPackage(const void* package, size_t length, const std::string& expected, std::string& digest) {
    if (expected.empty()) return false;
    return CheckDigest(Md5Hex(package, length), expected, digest);
}

bool CheckDigest(const std::string& computed, const std::string& expected, std::string& digest) {
    if (expected.empty()) return false;
    digest = computed;
    return digest == expected;
}

}  // namespace quillo
