// The statistics server's reply body: a 4-byte big-endian length, then a zlib
// stream; decoded and then parsed as SendStatRequest does.
//
// What must hold for every input:
//  - no crash, over-read or leak, whatever the length field claims;
//  - a decoded text is never longer than the length field says;
//  - the decoder sizes its buffer by what the stream could possibly inflate
//    to rather than by the length field; that must not change the outcome,
//    which is checked against a plain inflate into a buffer of the declared
//    size (for declared sizes up to 256 KiB, to keep runs fast).
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "json/JValue.h"
#include "net/Statistics.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "stat_reply: %s\n", what);
    std::abort();
}

constexpr uint32_t kCompareUpTo = 256 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    std::string text = "left over";
    const bool ok = quillo::DecodeStatReply(body, text);
    if (!ok && !text.empty()) Fail("a failed decode left text behind");

    if (size >= 4) {
        const uint32_t declared = (static_cast<uint32_t>(data[0]) << 24) | (static_cast<uint32_t>(data[1]) << 16) |
                                  (static_cast<uint32_t>(data[2]) << 8) | static_cast<uint32_t>(data[3]);
        if (ok && (text.size() > declared || declared == 0)) Fail("the text is longer than the length field");
        if (declared >= 1 && declared <= kCompareUpTo) {
            std::vector<Bytef> plain(declared);
            uLongf plainLength = declared;
            const bool plainOk =
                uncompress(plain.data(), &plainLength, data + 4, static_cast<uLong>(size - 4)) == Z_OK;
            if (plainOk != ok) Fail("the decoder and a plain inflate disagree on success");
            if (ok && std::string(reinterpret_cast<const char*>(plain.data()), plainLength) != text)
                Fail("the decoder and a plain inflate give different texts");
        }
    } else if (ok) {
        Fail("a body shorter than its length field decoded");
    }

    if (ok) {
        quillo::JReader reader;
        quillo::JValue reply;
        reader.parse(text, reply);
    }
    return 0;
}
