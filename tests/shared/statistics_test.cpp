// Report paths, feedback encoding, reply decoding, SMBIOS parsing and the
// machine identifier, without any network.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/Base64.h"
#include "net/MachineId.h"
#include "net/Smbios.h"
#include "net/Statistics.h"

using namespace quillo;

namespace {

const std::wstring kId = L"0123456789ABCDEF0123456789ABCDEF";

// The framed reply the statistics server sends: big-endian length, then zlib.
std::string FrameReply(const std::string& text, uint32_t declared) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string packed(size, '\0');
    EXPECT_EQ(Z_OK, compress(reinterpret_cast<Bytef*>(&packed[0]), &size,
                             reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size())));
    packed.resize(size);
    std::string body;
    for (int shift = 24; shift >= 0; shift -= 8) body += static_cast<char>((declared >> shift) & 0xFF);
    return body + packed;
}

std::string FrameReply(const std::string& text) { return FrameReply(text, static_cast<uint32_t>(text.size())); }

std::string DecodedFeedback(const std::wstring& path) {
    const std::wstring prefix = L"/clt_v2_fb?machid=" + kId + L"&plat=21&fb=";
    EXPECT_EQ(0, path.compare(0, prefix.size(), prefix));
    std::string json;
    EXPECT_TRUE(Base64Decode(std::string(path.begin() + static_cast<std::ptrdiff_t>(prefix.size()), path.end()), json));
    return json;
}

}  // namespace

// ---- report paths ----

TEST(StatisticsPaths, EventReportKeysAndOmissions) {
    // Success: no e, no itunes, md5 last with an empty value.
    EXPECT_EQ(L"/clt_v2_set?machid=" + kId + L"&plat=21&op=1&v=3100&l=1&c=7&md5=",
              BuildEventPath(kId, 1, 3100, 7, 1, L"", 0, 0));
    // l's value comes before the channel although the channel is passed first.
    EXPECT_EQ(L"/clt_v2_set?machid=" + kId + L"&plat=21&op=3&v=12&l=5&c=9&md5=",
              BuildEventPath(kId, 3, 12, 9, 5, L"", 0, 0));
    // Driver outcome -1 travels as itunes=-1.
    EXPECT_EQ(L"/clt_v2_set?machid=" + kId + L"&plat=21&op=1&v=3100&l=1&c=1&md5=&itunes=-1",
              BuildEventPath(kId, 1, 3100, 1, 1, L"", 0, -1));
    // Failure: digest and error code; negative codes keep their sign.
    EXPECT_EQ(L"/clt_v2_set?machid=" + kId +
                  L"&plat=21&op=1&v=3100&l=1&c=1&md5=D41D8CD98F00B204E9800998ECF8427E&e=-2147483648",
              BuildEventPath(kId, 1, 3100, 1, 1, L"D41D8CD98F00B204E9800998ECF8427E", INT32_MIN, 0));
    // Both optional keys: e before itunes.
    EXPECT_EQ(L"/clt_v2_set?machid=" + kId + L"&plat=21&op=2&v=1&l=1&c=1&md5=&e=1&itunes=1",
              BuildEventPath(kId, 2, 1, 1, 1, L"", 1, 1));
}

TEST(StatisticsPaths, OfferLaunchStat) {
    EXPECT_EQ(L"/clt_v2_set?machid=" + kId + L"&plat=21&v=3100&l=1&c=42&stat=1",
              BuildOfferLaunchPath(kId, 3100, 42, 1, true));
    EXPECT_EQ(L"/clt_v2_set?machid=" + kId + L"&plat=21&v=3100&l=2&c=42&stat=0",
              BuildOfferLaunchPath(kId, 3100, 42, 2, false));
}

TEST(StatisticsPaths, FeedbackEncoding) {
    // Two boxes, no text.
    EXPECT_EQ("eyJjaGVjayI6WzEsM119Cg==", EncodeFeedback({1, 3}, {}));
    EXPECT_EQ(L"/clt_v2_fb?machid=" + kId + L"&plat=21&fb=eyJjaGVjayI6WzEsM119Cg==",
              BuildFeedbackPath(kId, {1, 3}, {}));
    // Text only: no "check" member; one element for one filled field.
    EXPECT_EQ("{\"feedback\":[\"other\"]}\n", DecodedFeedback(BuildFeedbackPath(kId, {}, {L"other"})));
    // Non-ASCII text goes in as UTF-8.
    EXPECT_EQ("{\"check\":[5],\"feedback\":[\"\xE7\x95\x8C\xE9\x9D\xA2\"]}\n",
              DecodedFeedback(BuildFeedbackPath(kId, {5}, {L"\u754C\u9762"})));
    // '+', '/' and '=' of the Base64 text stay as they are.
    EXPECT_EQ(L"/clt_v2_fb?machid=" + kId + L"&plat=21&fb=eyJjaGVjayI6WzJdLCJmZWVkYmFjayI6WyI+Pj4iLCI/PyJdfQo=",
              BuildFeedbackPath(kId, {2}, {L">>>", L"??"}));
    // Nothing to say.
    EXPECT_EQ("", EncodeFeedback({}, {}));
}

// ---- reply decoding ----

TEST(StatisticsReply, Framing) {
    std::string text;
    EXPECT_TRUE(DecodeStatReply(FrameReply("{\"ok\":1}"), text));
    EXPECT_EQ("{\"ok\":1}", text);

    // A declared length above the real one is only a buffer size.
    EXPECT_TRUE(DecodeStatReply(FrameReply("{}", 100), text));
    EXPECT_EQ("{}", text);
    EXPECT_TRUE(DecodeStatReply(FrameReply("{}", 0x4000000), text));
    EXPECT_EQ("{}", text);

    text = "stale";
    EXPECT_FALSE(DecodeStatReply(FrameReply("{}", 0), text));
    EXPECT_EQ("", text);
    EXPECT_FALSE(DecodeStatReply(FrameReply("", 0), text));  // even when the stream is empty
    EXPECT_FALSE(DecodeStatReply(FrameReply("{}", 0x4000001), text));
    EXPECT_FALSE(DecodeStatReply(FrameReply("{\"abc\":123}", 5), text));  // does not fit
    EXPECT_FALSE(DecodeStatReply(std::string("\0\0\0", 3), text));
    EXPECT_FALSE(DecodeStatReply(std::string("\0\0\0\x10", 4), text));     // no stream at all

    std::string corrupt = FrameReply("{\"key\":\"value\"}");
    corrupt[8] = static_cast<char>(corrupt[8] ^ 0x5A);
    EXPECT_FALSE(DecodeStatReply(corrupt, text));
    EXPECT_EQ("", text);
}

// ---- SMBIOS ----

namespace {

const uint8_t kUuid[16] = {0x4C, 0x4C, 0x45, 0x44, 0x00, 0x30, 0x10, 0x80,
                           0x80, 0x35, 0xB8, 0xC0, 0x4F, 0x52, 0x33, 0x32};
const char kUuidText[] = "4C4C4544-00301080-8035B8C0-4F523332";

using Bytes = std::vector<uint8_t>;

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// A structure: header (type, formatted length, handle), the rest of the
// formatted area filled with `fill`, then strings, then the terminating zero(s).
Bytes Structure(uint8_t type, uint8_t formatted, uint16_t handle, const std::vector<std::string>& strings,
                uint8_t fill = 0x11) {
    Bytes s = {type, formatted, static_cast<uint8_t>(handle), static_cast<uint8_t>(handle >> 8)};
    while (s.size() < formatted) s.push_back(fill);
    for (const std::string& text : strings) {
        s.insert(s.end(), text.begin(), text.end());
        s.push_back(0);
    }
    if (strings.empty()) s.push_back(0);
    s.push_back(0);
    return s;
}

Bytes SystemInformation(uint8_t formatted = 0x1B) {
    Bytes s = Structure(1, formatted, 1, {"Maker", "Model"});
    if (formatted >= 24) std::memcpy(&s[8], kUuid, 16);
    return s;
}

Bytes SampleTable() {
    Bytes table = Structure(0, 0x12, 0, {"Vendor", "1.0"});
    Append(table, SystemInformation());
    Append(table, Structure(127, 4, 2, {}));
    return table;
}

std::string Find(const Bytes& table, size_t count) {
    std::string uuid;
    return FindSmbiosUuid(table.data(), table.size(), count, uuid) ? uuid : std::string("(none)");
}

Bytes FirmwareBuffer(const Bytes& table, uint32_t declared) {
    Bytes buffer = {0, 2, 7, 0, static_cast<uint8_t>(declared), static_cast<uint8_t>(declared >> 8),
                    static_cast<uint8_t>(declared >> 16), static_cast<uint8_t>(declared >> 24)};
    Append(buffer, table);
    return buffer;
}

void FixChecksum(uint8_t* p, size_t n, size_t at) {
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        if (i != at) sum = static_cast<uint8_t>(sum + p[i]);
    p[at] = static_cast<uint8_t>(0x100 - sum);
}

// "_SM_" entry point with its "_DMI_" part, checksums made valid.
void PutSmEntry(Bytes& area, size_t at, uint32_t address, uint16_t length, uint16_t count) {
    uint8_t* p = &area[at];
    std::memcpy(p, "_SM_", 4);
    p[5] = 0x1F;
    p[6] = 2;
    p[7] = 7;
    std::memcpy(p + 16, "_DMI_", 5);
    p[22] = static_cast<uint8_t>(length);
    p[23] = static_cast<uint8_t>(length >> 8);
    for (int i = 0; i < 4; ++i) p[24 + i] = static_cast<uint8_t>(address >> (8 * i));
    p[28] = static_cast<uint8_t>(count);
    p[29] = static_cast<uint8_t>(count >> 8);
    FixChecksum(p + 16, 15, 5);  // intermediate checksum at +21
    FixChecksum(p, 0x1F, 4);
}

}  // namespace

TEST(Smbios, UuidFormat) {
    EXPECT_EQ(kUuidText, FormatSmbiosUuid(kUuid));
    const uint8_t ordered[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    EXPECT_EQ("00010203-04050607-08090A0B-0C0D0E0F", FormatSmbiosUuid(ordered));
}

TEST(Smbios, WalkCountsStructures) {
    const Bytes table = SampleTable();
    EXPECT_EQ(3u, CountSmbiosStructures(table.data(), table.size()));
    // A structure cut off inside its strings still counts once.
    EXPECT_EQ(2u, CountSmbiosStructures(table.data(), table.size() - 12));
    // Padding zeros after the end structure count two bytes at a time.
    Bytes padded = table;
    padded.insert(padded.end(), 4, 0);
    EXPECT_EQ(5u, CountSmbiosStructures(padded.data(), padded.size()));
    const uint8_t one = 1;
    EXPECT_EQ(1u, CountSmbiosStructures(&one, 1));
    EXPECT_EQ(0u, CountSmbiosStructures(&one, 0));
}

TEST(Smbios, SearchRule) {
    const Bytes table = SampleTable();
    EXPECT_EQ(kUuidText, Find(table, 3));
    EXPECT_EQ("(none)", Find(table, 1));  // the count limits the search

    // A structure without strings before the system information.
    Bytes bare = Structure(4, 0x10, 5, {});
    Append(bare, SystemInformation());
    EXPECT_EQ(kUuidText, Find(bare, 2));

    // Formatted length below 4 ends the search.
    Bytes broken = Structure(0, 0x12, 0, {"Vendor"});
    broken[1] = 3;
    Append(broken, SystemInformation());
    EXPECT_EQ("(none)", Find(broken, 5));

    // A type 1 too short for the UUID is passed over; a later full one counts.
    Bytes shortFirst = SystemInformation(0x18);
    Append(shortFirst, SystemInformation());
    EXPECT_EQ(kUuidText, Find(shortFirst, 2));
    EXPECT_EQ("(none)", Find(SystemInformation(0x18), 5));
    EXPECT_EQ(kUuidText, Find(SystemInformation(0x19), 1));

    // System information whose strings run past the end of the table.
    Bytes cut = Structure(0, 0x12, 0, {"Vendor"});
    Append(cut, SystemInformation());
    cut.resize(cut.size() - 3);
    EXPECT_EQ("(none)", Find(cut, 2));
    // Its formatted area itself past the end.
    cut.resize(0x12 + 8 + 12);
    EXPECT_EQ("(none)", Find(cut, 2));
    // Fewer than 4 bytes left.
    EXPECT_EQ("(none)", Find(Bytes{1, 0x1B, 0}, 1));
}

TEST(Smbios, FirmwareTableBuffer) {
    const Bytes table = SampleTable();
    const uint8_t* start = nullptr;
    size_t length = 0;

    Bytes buffer = FirmwareBuffer(table, static_cast<uint32_t>(table.size()));
    ASSERT_TRUE(ParseFirmwareTableBuffer(buffer.data(), buffer.size(), start, length));
    EXPECT_EQ(buffer.data() + 8, start);
    EXPECT_EQ(table.size(), length);

    // A length field that claims more than the buffer holds is cut to the buffer.
    buffer = FirmwareBuffer(table, 0xFFFFFFF0u);
    ASSERT_TRUE(ParseFirmwareTableBuffer(buffer.data(), buffer.size(), start, length));
    EXPECT_EQ(table.size(), length);
    std::string uuid;
    EXPECT_TRUE(FindSmbiosUuid(start, length, CountSmbiosStructures(start, length), uuid));
    EXPECT_EQ(kUuidText, uuid);

    // A shorter length field is obeyed.
    buffer = FirmwareBuffer(table, 10);
    ASSERT_TRUE(ParseFirmwareTableBuffer(buffer.data(), buffer.size(), start, length));
    EXPECT_EQ(10u, length);

    EXPECT_FALSE(ParseFirmwareTableBuffer(buffer.data(), 7, start, length));
}

TEST(Smbios, EntryPointScan) {
    Bytes area(0x10000, 0);
    SmbiosEntryPoint entry;
    EXPECT_FALSE(ScanSmbiosEntryPoints(area.data(), area.size(), entry));

    PutSmEntry(area, 0x8A50, 0x000E1234, 0x0456, 0x0021);
    ASSERT_TRUE(ScanSmbiosEntryPoints(area.data(), area.size(), entry));
    EXPECT_EQ(0x000E1234u, entry.tableAddress);
    EXPECT_EQ(0x0456u, entry.tableLength);
    EXPECT_EQ(0x0021u, entry.structureCount);

    // Each checksum and the "_DMI_" anchor matter.
    Bytes bad = area;
    bad[0x8A50 + 10] ^= 1;  // covered by the entry-point checksum only
    EXPECT_FALSE(ScanSmbiosEntryPoints(bad.data(), bad.size(), entry));
    bad = area;
    bad[0x8A50 + 26] = static_cast<uint8_t>(bad[0x8A50 + 26] + 1);  // breaks the intermediate sum,
    bad[0x8A50 + 10] = static_cast<uint8_t>(bad[0x8A50 + 10] - 1);  // the outer one stays zero
    EXPECT_FALSE(ScanSmbiosEntryPoints(bad.data(), bad.size(), entry));
    bad = area;
    bad[0x8A50 + 17] = 'X';  // "_XMI_" with both sums kept at zero
    bad[0x8A50 + 21] = static_cast<uint8_t>(bad[0x8A50 + 21] + 'D' - 'X');
    EXPECT_FALSE(ScanSmbiosEntryPoints(bad.data(), bad.size(), entry));

    // Legacy "_DMI_" entry point.
    Bytes legacy(0x10000, 0);
    uint8_t* p = &legacy[0x100];
    std::memcpy(p, "_DMI_", 5);
    p[6] = 0x34;
    p[7] = 0x12;
    p[8] = 0x00;
    p[9] = 0x80;
    p[10] = 0x0F;
    p[11] = 0x00;
    p[12] = 9;
    FixChecksum(p, 15, 5);
    ASSERT_TRUE(ScanSmbiosEntryPoints(legacy.data(), legacy.size(), entry));
    EXPECT_EQ(0x000F8000u, entry.tableAddress);
    EXPECT_EQ(0x1234u, entry.tableLength);
    EXPECT_EQ(9u, entry.structureCount);
    p[14] ^= 0x40;
    EXPECT_FALSE(ScanSmbiosEntryPoints(legacy.data(), legacy.size(), entry));

    // The first anchor decides; a later good one is not looked at.
    Bytes twice(0x10000, 0);
    PutSmEntry(twice, 0x20, 1, 1, 1);
    twice[0x20 + 10] ^= 1;
    PutSmEntry(twice, 0x1000, 2, 2, 2);
    EXPECT_FALSE(ScanSmbiosEntryPoints(twice.data(), twice.size(), entry));

    // "_SM_" in the last paragraph has no room for its entry point.
    Bytes last(0x10000, 0);
    std::memcpy(&last[0xFFF0], "_SM_", 4);
    EXPECT_FALSE(ScanSmbiosEntryPoints(last.data(), last.size(), entry));
}

TEST(Smbios, ArbitraryBytesStayInBounds) {
    // Run under the address sanitizer: every length inside the data lies.
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return static_cast<uint8_t>(state >> 16);
    };
    std::string uuid;
    SmbiosEntryPoint entry;
    const uint8_t* table = nullptr;
    size_t length = 0;
    for (size_t size = 0; size < 300; ++size) {
        for (int round = 0; round < 20; ++round) {
            Bytes data(size);
            for (uint8_t& b : data) b = (round & 1) ? next() : static_cast<uint8_t>(next() & 0x1F);
            if (size >= 2 && round % 4 == 2) data[1] = 0x19;
            if (size >= 4 && round % 8 == 3) std::memcpy(data.data(), "_SM_", 4);
            if (size >= 5 && round % 8 == 5) std::memcpy(data.data(), "_DMI_", 5);
            // Heap copies of exactly `size` bytes so that any overrun is caught.
            std::unique_ptr<uint8_t[]> exact(new uint8_t[size]);
            if (size) std::memcpy(exact.get(), data.data(), size);
            CountSmbiosStructures(exact.get(), size);
            FindSmbiosUuid(exact.get(), size, 1000, uuid);
            ScanSmbiosEntryPoints(exact.get(), size, entry);
            if (ParseFirmwareTableBuffer(exact.get(), size, table, length)) {
                EXPECT_LE(table + length, exact.get() + size);
                FindSmbiosUuid(table, length, CountSmbiosStructures(table, length), uuid);
            }
        }
    }
}

// ---- machine identifier ----

TEST(MachineId, FactsFormattedAndHashedInOrder) {
    EXPECT_EQ("00000001ABCDEF00-00000000FFFFFFFF", FormatCpuWords(1, 0xABCDEF00u, 0, 0xFFFFFFFFu));
    // MD5("abc") from RFC 1321: the three parts are joined in this order.
    EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72", ComputeMachineIdText("a", "b", "c"));
    EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72", ComputeMachineIdText("", "ab", "c"));
}

TEST(MachineId, StableUpperCaseHexAcrossThreads) {
    const std::wstring id = GetMachineId();
    ASSERT_EQ(32u, id.size());
    for (wchar_t c : id) EXPECT_TRUE((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F')) << static_cast<int>(c);

    std::vector<std::wstring> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = GetMachineId(); });
    for (std::thread& t : threads) t.join();
    for (const std::wstring& other : seen) EXPECT_EQ(id, other);

    // The facts it is made of, as this machine reports them.
    const std::string cpu = ReadCpuWords();
    EXPECT_EQ(33u, cpu.size());
    EXPECT_EQ('-', cpu[16]);
    const std::string adapter = ReadAdapterText();
    EXPECT_EQ(12u, adapter.size());
    EXPECT_EQ(std::string::npos, adapter.find_first_not_of("0123456789ABCDEF"));
    const std::string uuid = ReadSystemUuid();
    EXPECT_TRUE(uuid.empty() || uuid.size() == 35) << uuid;
    const std::string expected = ComputeMachineIdText(uuid, cpu, adapter);
    EXPECT_EQ(id, std::wstring(expected.begin(), expected.end()));
}

// ---- adapter choice ----

namespace {

AdapterInfo Adapter(uint32_t index, uint32_t type, const std::string& description, uint8_t tag) {
    AdapterInfo a;
    a.index = index;
    a.type = type;
    a.description = description;
    const uint8_t address[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, tag};
    std::memcpy(a.address, address, 6);
    return a;
}

}  // namespace

TEST(AdapterChoice, OrderOfPreference) {
    const AdapterInfo bluetooth = Adapter(3, 6, "Bluetooth Device (Personal Area Network)", 0xB1);
    const AdapterInfo wifi = Adapter(1, 71, "Wireless LAN", 0x71);
    const AdapterInfo wired = Adapter(20, 6, "Realtek PCIe GbE", 0xE0);
    const AdapterInfo wired2 = Adapter(12, 6, "Intel Ethernet", 0xE1);
    const AdapterInfo loopback = Adapter(2, 24, "Loopback", 0x24);

    // A Bluetooth PAN adapter alone is still used (third group).
    EXPECT_EQ("001A2B3C4DB1", ChooseAdapterText({bluetooth}, 0x12345678));
    // The third group keeps the smallest index.
    EXPECT_EQ("001A2B3C4D24", ChooseAdapterText({bluetooth, loopback}, 0));
    // Wireless beats the third group, wired beats wireless whatever the index.
    EXPECT_EQ("001A2B3C4D71", ChooseAdapterText({bluetooth, wifi, loopback}, 0));
    EXPECT_EQ("001A2B3C4DE0", ChooseAdapterText({wifi, bluetooth, wired}, 0));
    // Smallest index among the wired ones, not list order.
    EXPECT_EQ("001A2B3C4DE1", ChooseAdapterText({wired, wifi, wired2}, 0));
    // The Bluetooth test is case-sensitive.
    EXPECT_EQ("001A2B3C4DB2", ChooseAdapterText({wifi, Adapter(9, 6, "bluetooth lower", 0xB2)}, 0));
    // No adapters: the volume serial, little-endian, then two zero bytes.
    EXPECT_EQ("785634120000", ChooseAdapterText({}, 0x12345678));
    EXPECT_EQ("000000000000", ChooseAdapterText({}, 0));
}
