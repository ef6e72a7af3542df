// Tests for the MD5 digest (install/Md5) and the Base64 codec (app/Base64).
#include "base/Base64.h"
#include "base/Md5.h"
#include "base/TextCodec.h"
#include "json/JValue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quillo {
namespace {

// Byte i is (31 * i + 7) mod 256.  The reference digests below were produced
// with `openssl dgst -md5` / `md5sum` on the same byte sequence.
std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(31 * i + 7);
    return v;
}

std::string HexOf(Md5& md5) { return DigestToHex(md5.finish()); }

// ---------------------------------------------------------------- MD5

TEST(Md5, Rfc1321TestSuite) {
    struct Case {
        const char* text;
        const char* hex;
    };
    const Case cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Md5Hex(c.text, std::strlen(c.text)), c.hex);

        Md5 md5;
        md5.update(c.text, std::strlen(c.text));
        EXPECT_EQ(HexOf(md5), c.hex);
    }
}

TEST(Md5, MillionAs) {
    const std::string a(1000000, 'a');
    EXPECT_EQ(Md5Hex(a.data(), a.size()), "7707D6AE4E027C70EEA2A935C2296F21");
}

// Lengths on either side of the points where the padding and the 64-bit
// length spill into an extra block.
TEST(Md5, PaddingBoundaries) {
    struct Case {
        size_t length;
        const char* hex;
    };
    const Case cases[] = {
        {0, "D41D8CD98F00B204E9800998ECF8427E"},    {1, "89E74E640B8C46257A29DE0616794D5D"},
        {54, "3C600DF998DC0E0610DC12C670346FCE"},   {55, "C9E512626618C9980EF21A96597AF94C"},
        {56, "ECDE7CAA08E9F5657C863DF107CAC60A"},   {57, "B17B1A018DD6A4D1EDDA8ACA15F17846"},
        {63, "2F0301069E1C40AF7F6C8F843B1B13F2"},   {64, "B6BF87C24B1BC334E2541387A92B981B"},
        {65, "F168246F08B6134D66BD2A10343FA9F1"},   {119, "D5DC3D8264DE3AA24DEE105910EE27FE"},
        {120, "BCC139B3848923904860D1EEFD6E5923"},  {121, "10AAC7FE9E1DEF45870B0AA1C3A2FAF0"},
        {127, "27670172396247FA5F68637F13F8933D"},  {128, "3E85B70FFC8DF5C735ECF2A8F14F1BEE"},
        {129, "E45ECAC9930FE93DE302F98BA673BA36"},  {200, "4C1E627A4BCC5FFB25084AFEDB8477C8"},
        {1000, "2B1E78D5765DE9E10495A01412A1CF22"}, {4097, "90AF61113BBFA322FCCC11B4C75F4808"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::vector<uint8_t> data = Pattern(c.length);
        EXPECT_EQ(Md5Hex(data.data(), data.size()), c.hex);

        // Byte-at-a-time feeding takes the buffered path for every block.
        Md5 md5;
        for (uint8_t byte : data) md5.update(&byte, 1);
        EXPECT_EQ(HexOf(md5), c.hex);
    }
}

TEST(Md5, IncrementalUpdatesMatchOneShot) {
    const std::vector<uint8_t> data = Pattern(200);
    const std::string expected = "4C1E627A4BCC5FFB25084AFEDB8477C8";

    for (size_t cut = 0; cut <= data.size(); ++cut) {
        SCOPED_TRACE(cut);
        Md5 md5;
        md5.update(data.data(), cut);
        md5.update(data.data() + cut, data.size() - cut);
        EXPECT_EQ(HexOf(md5), expected);
    }

    // Three pieces: a partial block, then a run that both completes the
    // buffered block and carries whole blocks of its own.
    for (size_t first = 1; first < 64; first += 5) {
        for (size_t second = 0; first + second <= data.size(); second += 13) {
            SCOPED_TRACE(testing::Message() << first << "+" << second);
            Md5 md5;
            md5.update(data.data(), first);
            md5.update(data.data() + first, second);
            md5.update(data.data() + first + second, data.size() - first - second);
            EXPECT_EQ(HexOf(md5), expected);
        }
    }
}

TEST(Md5, UnalignedInput) {
    const std::vector<uint8_t> data = Pattern(1000);
    const std::string expected = "2B1E78D5765DE9E10495A01412A1CF22";
    for (size_t shift = 1; shift < 8; ++shift) {
        SCOPED_TRACE(shift);
        std::vector<uint8_t> storage(data.size() + shift);
        std::memcpy(storage.data() + shift, data.data(), data.size());
        EXPECT_EQ(Md5Hex(storage.data() + shift, data.size()), expected);
    }
}

TEST(Md5, ObjectIsReusableAfterFinish) {
    Md5 md5;
    EXPECT_EQ(HexOf(md5), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(HexOf(md5), "D41D8CD98F00B204E9800998ECF8427E");

    // A partly filled buffer and a large byte count must not leak into the
    // next message.
    const std::vector<uint8_t> data = Pattern(1000);
    md5.update(data.data(), data.size());
    EXPECT_EQ(HexOf(md5), "2B1E78D5765DE9E10495A01412A1CF22");
    md5.update("abc", 3);
    EXPECT_EQ(HexOf(md5), "900150983CD24FB0D6963F7D28E17F72");
    md5.update("abc", 3);
    EXPECT_EQ(HexOf(md5), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(HexOf(md5), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST(Md5, EmptyUpdatesAreIgnored) {
    Md5 md5;
    md5.update(nullptr, 0);
    md5.update("ab", 2);
    md5.update(nullptr, 0);
    md5.update("c", 1);
    EXPECT_EQ(HexOf(md5), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(Md5Hex(nullptr, 0), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST(Md5, DigestToHexIsUpperCaseInByteOrder) {
    std::array<uint8_t, 16> digest;
    for (size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<uint8_t>(i * 0x11 + 0x0a);
    EXPECT_EQ(DigestToHex(digest), "0A1B2C3D4E5F708192A3B4C5D6E7F809");
}

// ---------------------------------------------------------------- Base64

std::string Decoded(const std::string& text) {
    std::string out;
    EXPECT_TRUE(Base64Decode(text, out)) << '"' << text << '"';
    return out;
}

bool Rejects(const std::string& text) {
    std::string out;
    return !Base64Decode(text, out);
}

TEST(Base64, Rfc4648Vectors) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Base64Encode(std::string(c.first)), c.second);
        EXPECT_EQ(Decoded(c.second), c.first);
    }
}

TEST(Base64, AllByteValues) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    // Reference from `base64 -w0`.
    const std::string expected =
        "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+P0BBQkNERUZH"
        "SElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6P"
        "kJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmqq6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX"
        "2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==";
    EXPECT_EQ(Base64Encode(bytes), expected);
    EXPECT_EQ(Decoded(expected), bytes);

    // The last two alphabet entries, and the all-ones / all-zeros sextets.
    EXPECT_EQ(Base64Encode(std::string("\xfb\xff\xbf", 3)), "+/+/");
    EXPECT_EQ(Decoded("+/+/"), std::string("\xfb\xff\xbf", 3));
    EXPECT_EQ(Base64Encode(std::string("\xff\xff\xff\x00\x00\x00", 6)), "////AAAA");
    EXPECT_EQ(Decoded("////AAAA"), std::string("\xff\xff\xff\x00\x00\x00", 6));
}

TEST(Base64, RandomBuffersRoundTripAtEveryLength) {
    std::mt19937 rng(12345);
    for (size_t n = 0; n <= 100; ++n) {
        SCOPED_TRACE(n);
        std::string bytes(n, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        const std::string text = Base64Encode(bytes.data(), bytes.size());

        ASSERT_EQ(text.size(), (n + 2) / 3 * 4);
        const size_t pad = (3 - n % 3) % 3;
        EXPECT_EQ(text.find('='), pad == 0 ? std::string::npos : text.size() - pad);
        EXPECT_EQ(Decoded(text), bytes);
    }
}

TEST(Base64, DecodeReplacesPreviousOutput) {
    std::string out = "stale contents";
    ASSERT_TRUE(Base64Decode("Zm8=", out));
    EXPECT_EQ(out, "fo");
    ASSERT_TRUE(Base64Decode("", out));
    EXPECT_EQ(out, "");
}

TEST(Base64, RejectsMalformedText) {
    // Length not a multiple of four.
    EXPECT_TRUE(Rejects("Z"));
    EXPECT_TRUE(Rejects("Zg="));
    EXPECT_TRUE(Rejects("Zg"));
    EXPECT_TRUE(Rejects("Zm9vY"));
    EXPECT_TRUE(Rejects("Zm9vYg"));      // "foob" without its padding
    EXPECT_TRUE(Rejects("Zm9vYmE"));
    EXPECT_TRUE(Rejects("Zm9vYmFy=="));
    EXPECT_TRUE(Rejects("Zm9vYg==="));

    // Characters outside the alphabet, including URL-safe ones and whitespace.
    EXPECT_TRUE(Rejects("Zm9v!A=="));
    EXPECT_TRUE(Rejects("Zm-v"));
    EXPECT_TRUE(Rejects("Zm_v"));
    EXPECT_TRUE(Rejects("Zm9v\nYmFy"));
    EXPECT_TRUE(Rejects("Zm 9"));
    EXPECT_TRUE(Rejects(std::string("Zm\0v", 4)));
    EXPECT_TRUE(Rejects("Zm\xc3v"));
    EXPECT_TRUE(Rejects("Zm9vYmF\x80"));

    // Padding anywhere but the last one or two characters.
    EXPECT_TRUE(Rejects("Zg==Zm9v"));
    EXPECT_TRUE(Rejects("Zm=v"));
    EXPECT_TRUE(Rejects("=Zm9"));
    EXPECT_TRUE(Rejects("Zm8=Zm8="));
    EXPECT_TRUE(Rejects("Z=9v"));
    EXPECT_TRUE(Rejects("Zm9v=m9v"));

    // More than two "=".
    EXPECT_TRUE(Rejects("Z==="));
    EXPECT_TRUE(Rejects("===="));
    EXPECT_TRUE(Rejects("Zm9v===="));
}

// Non-zero bits left over after the last whole byte are rejected, so each
// byte string has exactly one accepted text.
TEST(Base64, RejectsNonCanonicalTrailingBits) {
    EXPECT_TRUE(Rejects("Zh=="));      // "f" is "Zg=="
    EXPECT_TRUE(Rejects("Zm9="));      // "fo" is "Zm8="
    EXPECT_TRUE(Rejects("Zm9vYh=="));
    EXPECT_TRUE(Rejects("Zm9vYmF="));

    // Exhaustively over the last quantum: a text is accepted exactly when it
    // is what the encoder produces for the decoded bytes.
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    int accepted_two = 0;
    int accepted_three = 0;
    std::string text = "Zm9v____";
    std::string out;
    for (int i = 0; i < 64; ++i) {
        for (int j = 0; j < 64; ++j) {
            text[4] = kAlphabet[i];
            text[5] = kAlphabet[j];
            text[6] = text[7] = '=';
            if (Base64Decode(text, out)) {
                ++accepted_two;
                ASSERT_EQ(out.size(), 4u);
                ASSERT_EQ(Base64Encode(out), text);
            }
            for (int k = 0; k < 64; ++k) {
                text[6] = kAlphabet[k];
                if (Base64Decode(text, out)) {
                    ++accepted_three;
                    ASSERT_EQ(out.size(), 5u);
                    ASSERT_EQ(Base64Encode(out), text);
                }
            }
        }
    }
    EXPECT_EQ(accepted_two, 256);
    EXPECT_EQ(accepted_three, 65536);
}


// Block texts are UTF-8 when they are well-formed UTF-8; anything else is
// taken from the ANSI code page, so the check must refuse every malformed
// sequence and accept every well-formed one.
TEST(BlockText, WellFormedUtf8IsRecognisedAndEverythingElseIsNot) {
    struct Row {
        const char* bytes;
        bool valid;
    };
    const Row rows[] = {
        {"", true},
        {"Quillo 3", true},
        {"Quillo 3 \xE5\x8A\xA9\xE6\x89\x8B", true},      // "助手"
        {"\xC2\x80\xDF\xBF", true},                        // two-byte bounds
        {"\xE0\xA0\x80\xEF\xBF\xBF", true},                // three-byte bounds
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", true},        // four-byte bounds
        {"\xD6\xFA\xCA\xD6", false},                       // "助手" in GBK
        {"caf\xE9", false},                                // "café" in code page 1252
        {"\x80", false},                                   // a stray continuation byte
        {"\xC0\xAF", false},                               // overlong "/"
        {"\xE0\x80\xAF", false},                           // overlong "/" in three bytes
        {"\xF0\x80\x80\xAF", false},                       // and in four
        {"\xED\xA0\x80", false},                           // a surrogate
        {"\xF4\x90\x80\x80", false},                       // above U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\xE5\x8A", false},                               // cut short
        {"\xE5\x8A\x41", false},                           // a continuation that is not one
    };
    for (const Row& row : rows) EXPECT_EQ(IsValidUtf8(row.bytes), row.valid) << row.bytes;
    EXPECT_EQ(BlockTextToWide("Quillo 3 \xE5\x8A\xA9\xE6\x89\x8B"), L"Quillo 3 \u52A9\u624B");
}

// A setup block written in an ANSI code page is still JSON: its strings keep
// their bytes for the program to decode.
TEST(BlockText, TheJsonReaderKeepsTheBytesOfAnAnsiBlock) {
    JValue block;
    JReader reader;
    ASSERT_TRUE(reader.parse(std::string("{\"lastrun\":\"\xD6\xFA\xCA\xD6.exe\"}"), block));
    EXPECT_EQ(block.get("lastrun").asString(), "\xD6\xFA\xCA\xD6.exe");
}

}  // namespace
}  // namespace quillo
