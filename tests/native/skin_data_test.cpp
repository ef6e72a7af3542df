#include <gtest/gtest.h>

#include <random>

#include "app/AppendedBlock.h"
#include "tools/mkskin/SkinPacker.h"
#include "ui/FocusOrder.h"
#include "ui/DpiScale.h"
#include "ui/SkinData.h"

namespace quillo {
namespace {

const char kDescription[] = R"({
  "cfg": {
    "MainWindow": {
      "Frames": {"Top": {"normal": {"bi": 2, "bg": [0, 0, 30, 10], "mg": [4, 0, 4, 0]}}},
      "InStall": {"id": 1001, "size": [-145, -177, 93, 38],
                  "normal": {"bi": 2, "bg": [0, 10, 90, 40], "mg": [6, 6, 6, 6], "bc": [255, 0, 255], "md": 3},
                  "grayed": {"bi": 0, "bg": [1, 2, 3, 4], "mg": [1, 1, 1, 1]},
                  "lighted": {"bi": 7, "bg": [1, 2, 3, 4]},
                  "pressed": {"fi": 2, "fg": [5, 6, 7, 8], "fc": [1, 2, 3], "al": 64, "of": [-2, 3]},
                  "Text": {"normal": {"ft": 101, "al": 37, "cr": 5263440, "of": [1, -1], "tx": "立即安装"}}},
      "Short": [1, 2, 3],
      "Point": [4, 5],
      "Colour": [1, 2, 3],
      "Real": 2.5
    }
  },
  "res": {"images": [{"id": 2, "name": "a.png"}, {"id": "7", "name": "b.png"}],
          "fonts": [{"id": 101.9, "name": "title.json"}, {"id": true, "name": "Default"}]}
})";

std::string Package() {
    return BuildSkinPackage(kDescription, {{2, "PNG-two"},
                                           {1, "font-one"},
                                           {7, "PNG-seven"},
                                           {101, "{\"Height\":-16,\"Weight\":400}\n"},
                                           {55, "unlisted"},
                                           {2, "PNG-two-again"}});
}

class SkinDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string p = Package();
        ASSERT_TRUE(skin_.LoadFromMemory(reinterpret_cast<const uint8_t*>(p.data()), p.size()));
    }
    SkinData skin_;
};

TEST_F(SkinDataTest, PathsResolveWithEmptyPiecesAndRelativeToAParent) {
    const JValue* top = skin_.GetNode("MainWindow/Frames/Top");
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(skin_.GetNode("/MainWindow//Frames/Top/"), top);
    const JValue* window = skin_.GetNode("MainWindow");
    EXPECT_EQ(skin_.GetNode("Frames//Top/", window), top);
    EXPECT_EQ(skin_.GetNode("", window), window);
    EXPECT_EQ(skin_.GetNode("MainWindow/Nothing"), nullptr);
    EXPECT_EQ(skin_.GetNode("MainWindow/InStall/id/deeper"), nullptr);
    EXPECT_EQ(skin_.GetInt("MainWindow/InStall/id"), 1001);
    EXPECT_EQ(skin_.GetInt("MainWindow/Real"), 0);  // not an integer
    EXPECT_EQ(skin_.GetInt("MainWindow/Missing"), 0);
}

TEST_F(SkinDataTest, GettersWantExactArrayLengths) {
    EXPECT_EQ(skin_.GetRect("MainWindow/InStall/size"), (SkinRect{-145, -177, 93, 38}));
    EXPECT_EQ(skin_.GetRect("MainWindow/Short"), SkinRect());
    int32_t x = 9, y = 9;
    skin_.GetPoint("MainWindow/Point", nullptr, x, y);
    EXPECT_EQ(x, 4);
    EXPECT_EQ(y, 5);
    skin_.GetPoint("MainWindow/Short", nullptr, x, y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(skin_.GetColor("MainWindow/Colour"), 1u + 2u * 256 + 3u * 65536);
    EXPECT_EQ(skin_.GetColor("MainWindow/Point"), 0u);
}

TEST_F(SkinDataTest, ImageStyleKeysAreReadOnlyWhenTheImageLoads) {
    auto loads = [this](int32_t id) {
        std::string bytes;
        return skin_.GetBlob("images", static_cast<uint32_t>(id), bytes);
    };
    const ImageStyleValues normal = skin_.GetImageStyleValues("MainWindow/InStall/normal", nullptr, loads);
    EXPECT_EQ(normal.image, 2);
    EXPECT_EQ(normal.srcY, 10);
    EXPECT_EQ(normal.srcW, 90);
    EXPECT_EQ(normal.marginB, 6);
    EXPECT_EQ(normal.colorKey, 0xFF00FFu);
    EXPECT_EQ(normal.mode, 3);

    // "bi": 0 names no asset: the rest of the background keys are not read.
    const ImageStyleValues grayed = skin_.GetImageStyleValues("MainWindow/InStall/grayed", nullptr, loads);
    EXPECT_EQ(grayed.image, 0);
    EXPECT_EQ(grayed.srcX + grayed.srcY + grayed.srcW + grayed.srcH + grayed.marginL, 0);

    const ImageStyleValues lighted = skin_.GetImageStyleValues("MainWindow/InStall/lighted", nullptr, loads);
    EXPECT_EQ(lighted.image, 7);  // id given as a string in "res"
    EXPECT_EQ(lighted.srcH, 4);

    const ImageStyleValues pressed = skin_.GetImageStyleValues("MainWindow/InStall/pressed", nullptr, loads);
    EXPECT_EQ(pressed.image, 0);
    EXPECT_EQ(pressed.foreImage, 2);
    EXPECT_EQ(pressed.foreW, 7);
    EXPECT_EQ(pressed.foreKey, 1u + 2u * 256 + 3u * 65536);
    EXPECT_EQ(pressed.foreAlign, 64);
    EXPECT_EQ(pressed.foreOffsetX, -2);

    const ImageStyleValues never = skin_.GetImageStyleValues("MainWindow/InStall/normal", nullptr,
                                                             [](int32_t) { return false; });
    EXPECT_EQ(never.image, 0);
    EXPECT_EQ(never.srcW, 0);
    EXPECT_EQ(skin_.GetImageStyleValues("Nope", nullptr, loads).srcW, 0);
}

TEST_F(SkinDataTest, TextStyleAndAssetSections) {
    const TextStyleValues t = skin_.GetTextStyleValues("MainWindow/InStall/Text/normal");
    EXPECT_EQ(t.font, 101);
    EXPECT_EQ(t.align, 37);
    EXPECT_EQ(t.color, 5263440u);
    EXPECT_EQ(t.offsetY, -1);
    EXPECT_EQ(t.text, "立即安装");
    EXPECT_EQ(skin_.GetTextStyleValues("MainWindow/Nothing").text, "");

    std::string bytes;
    ASSERT_TRUE(skin_.GetBlob("images", 2, bytes));
    EXPECT_EQ(bytes, "PNG-two-again");  // a later record with the same id wins
    ASSERT_TRUE(skin_.GetBlob("fonts", 101, bytes));  // id 101.9 truncated
    EXPECT_FALSE(skin_.GetBlob("images", 101, bytes));
    EXPECT_FALSE(skin_.GetBlob("images", 55, bytes));  // listed by no section: dropped
    EXPECT_FALSE(skin_.GetBlob("sounds", 1, bytes));
    ASSERT_TRUE(skin_.GetBlob("fonts", 1, bytes));  // id true reads as 1
    EXPECT_EQ(bytes, "font-one");
}

TEST(SkinPackageTest, DamagedPackagesLoadAsFarAsTheyCanBeRead) {
    const std::string good = Package();
    SkinData skin;
    EXPECT_FALSE(skin.LoadFromMemory(reinterpret_cast<const uint8_t*>("PK\3\4"), 4));
    EXPECT_FALSE(skin.LoadFromMemory(nullptr, 0));
    const std::string record = "{\"Height\":-16,\"Weight\":400}\n";
    const size_t recordEnd = good.find(record) + record.size();
    for (size_t n = 0; n <= good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));  // exact size for ASan
        SkinData s;
        const bool ok = s.LoadFromMemory(cut.data(), cut.size());
        ASSERT_EQ(ok, n >= 4) << n;
        std::string bytes;
        EXPECT_EQ(s.GetBlob("fonts", 101, bytes), n >= recordEnd) << n;
    }
    // Lengths that lie.
    std::string lying = good;
    StoreLe32(reinterpret_cast<uint8_t*>(&lying[4]), 0xFFFFFFF0u);
    SkinData s;
    ASSERT_TRUE(s.LoadFromMemory(reinterpret_cast<const uint8_t*>(lying.data()), lying.size()));
    EXPECT_EQ(s.GetNode("MainWindow"), nullptr);
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes(good.begin(), good.end());
        for (int k = 0; k < 3; ++k) bytes[4 + rng() % (bytes.size() - 4)] = static_cast<uint8_t>(rng());
        SkinData m;
        m.LoadFromMemory(bytes.data(), bytes.size());
        m.GetImageStyleValues("MainWindow/InStall/normal", nullptr, [](int32_t) { return true; });
    }
}

TEST(FontRecordTest, OnlyNonZeroMembersOverride) {
    FontRecord r;
    ASSERT_TRUE(ParseFontRecord("{\"Height\":-16,\"Weight\":400,\"Italic\":0,\"FaceName\":\"微软雅黑\"}\n", r));
    EXPECT_FALSE(r.isNull);
    EXPECT_EQ(r.integers.size(), 2u);
    EXPECT_EQ(r.integers.at("Height"), -16);
    EXPECT_EQ(r.integers.count("Italic"), 0u);
    EXPECT_EQ(r.faceName, "微软雅黑");
    ASSERT_TRUE(ParseFontRecord("null\n", r));
    EXPECT_TRUE(r.isNull);
    EXPECT_FALSE(ParseFontRecord("[1]\n", r));
    EXPECT_FALSE(ParseFontRecord("{", r));
}

TEST(TintTest, ZeroTintKeepsColoursAndOthersFollowTheTables) {
    EXPECT_EQ(TintColorValue(0x123456, 0, 0, 0), 0x123456u);
    // Lightness alone: grey stays grey and moves toward white or black.
    EXPECT_EQ(TintColorValue(0x808080, 0, 0, 100), 0xBFBFBFu);  // 128 + 100 * 127 / 200 = 191
    EXPECT_EQ(TintColorValue(0x808080, 0, 0, -100), 0x404040u);  // 128 - 128 / 2 = 64
    // Saturation -100 makes any colour grey.
    const uint32_t grey = TintColorValue(0x0000FF, 0, -100, 0);
    EXPECT_EQ(grey & 0xFF, (grey >> 8) & 0xFF);
    EXPECT_EQ(grey & 0xFF, (grey >> 16) & 0xFF);
    // A hue turn of 120 degrees moves pure red toward green.
    const uint32_t turned = TintColorValue(0x0000FF, 120, 0, 0);
    EXPECT_GT((turned >> 8) & 0xFF, 200u);
    EXPECT_LT(turned & 0xFF, 60u);
    EXPECT_EQ(TintColorValue(0xFFFFFF, 500, 500, 0), TintColorValue(0xFFFFFF, 180, 100, 0));  // clamped
}

// Tab order by place: rows from the top, left to right in a row; an element
// a little lower than its neighbour (a link beside a check box) shares its row.
TEST(FocusOrderTest, ReadingOrderAndWrapping) {
    struct Row {
        std::vector<FocusBox> boxes;
        std::vector<size_t> order;
    };
    const Row rows[] = {
        {{}, {}},
        {{{300, 10, 340, 30}, {10, 10, 50, 30}, {10, 50, 50, 70}}, {1, 0, 2}},
        // the options screen, unfolded: button, path and browse, three boxes, the bottom row
        {{{47, 585, 171, 609}, {215, 247, 395, 295}, {457, 355, 563, 391}, {125, 355, 447, 391},
          {125, 411, 365, 435}, {125, 441, 365, 465}, {443, 585, 563, 609}, {169, 587, 259, 611}},
         {1, 3, 2, 4, 5, 0, 7, 6}},
        // below the middle of the first of a row: the next row
        {{{10, 10, 50, 30}, {60, 20, 90, 40}, {5, 21, 50, 40}}, {0, 2, 1}},
        // the same place twice keeps the order of the tree
        {{{10, 10, 50, 30}, {10, 10, 50, 30}}, {0, 1}},
    };
    for (const Row& row : rows) EXPECT_EQ(ReadingOrder(row.boxes), row.order) << row.boxes.size() << " boxes";

    EXPECT_EQ(NextStop(3, 3, false), 0u) << "nothing focused: the first";
    EXPECT_EQ(NextStop(3, 3, true), 2u) << "nothing focused, backwards: the last";
    EXPECT_EQ(NextStop(2, 3, false), 0u);
    EXPECT_EQ(NextStop(0, 3, true), 2u);
    EXPECT_EQ(NextStop(1, 3, false), 2u);
    EXPECT_EQ(NextStop(0, 0, false), 0u);
}

// Source (10, 20, 30, 40) with margins 5, 6, 7, 8.
ImageStyleValues GridStyle() {
    ImageStyleValues s;
    s.srcX = 10;
    s.srcY = 20;
    s.srcW = 30;
    s.srcH = 40;
    s.marginL = 5;
    s.marginT = 6;
    s.marginR = 7;
    s.marginB = 8;
    return s;
}

TEST(NineGridTest, CornersKeepTheirSizeAndTheRestStretches) {
    ImageStyleValues s = GridStyle();
    const auto pieces = NineGridPieces({100, 200, 300, 100}, s);
    ASSERT_EQ(pieces.size(), 9u);
    EXPECT_EQ(pieces[0].src, (SkinRect{10, 20, 5, 6}));
    EXPECT_EQ(pieces[0].dst, (SkinRect{100, 200, 5, 6}));
    EXPECT_EQ(pieces[4].src, (SkinRect{15, 26, 18, 26}));   // centre
    EXPECT_EQ(pieces[4].dst, (SkinRect{105, 206, 288, 86}));
    EXPECT_EQ(pieces[8].src, (SkinRect{33, 52, 7, 8}));
    EXPECT_EQ(pieces[8].dst, (SkinRect{393, 292, 7, 8}));

    s.marginL = s.marginT = s.marginR = s.marginB = 0;
    const auto whole = NineGridPieces({0, 0, 50, 60}, s);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].src, (SkinRect{10, 20, 30, 40}));
    EXPECT_EQ(whole[0].dst, (SkinRect{0, 0, 50, 60}));

    s.marginL = 15;  // margins covering the width: no middle column
    s.marginR = 15;
    EXPECT_EQ(NineGridPieces({0, 0, 50, 60}, s).size(), 2u);
    EXPECT_TRUE(NineGridPieces({0, 0, 0, 60}, s).empty());
}

// Lengths at the display's scale: the nearest pixel, halves away from zero
// (a negative place counts from the right or bottom edge), the identity at 96.
TEST(DisplayScaleTest, LengthsRoundToTheNearestPixel) {
    struct Row {
        int32_t length;
        int dpi;
        int32_t scaled;
    };
    const Row rows[] = {
        {610, 144, 915}, {430, 144, 645}, {610, 192, 1220}, {430, 192, 860}, {167, 144, 251}, {1, 144, 2},
        {-45, 144, -68}, {-47, 144, -71}, {-45, 192, -90}, {7, 120, 9},     {5, 120, 6},    {36, 120, 45},
        {0, 144, 0},     {13, 168, 23},   {-1, 120, -1},   {4, 0, 4},       {4, -96, 4},    {30000000, 192, 60000000},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ScaleToDpi(row.length, row.dpi), row.scaled) << row.length << " at " << row.dpi;
    for (int32_t v = -2000; v <= 2000; ++v) ASSERT_EQ(ScaleToDpi(v, 96), v);

    // The image drawn: 1x up to 125 %, 2x from 150 %.
    const std::pair<int, int> images[] = {{96, 1}, {120, 1}, {143, 1}, {144, 2}, {168, 2}, {192, 2}, {288, 2}, {0, 1}};
    for (const auto& [dpi, scale] : images) EXPECT_EQ(ImageScaleForDpi(dpi), scale) << dpi;
}

// A nine-grid drawn from a 2x image at 144 DPI: source rectangles and margins
// doubled, fixed destination margins at 1.5 times, the middle takes the rest.
TEST(NineGridTest, ScaledImagesAndDisplays) {
    ImageStyleValues s = GridStyle();
    struct Row {
        int imageScale, dpi;
        SkinRect src0, dst0, src4, dst4, src8, dst8;
    };
    const Row rows[] = {
        {1, 96, {10, 20, 5, 6}, {100, 200, 5, 6}, {15, 26, 18, 26}, {105, 206, 288, 86}, {33, 52, 7, 8},
         {393, 292, 7, 8}},
        {2, 144, {20, 40, 10, 12}, {100, 200, 8, 9}, {30, 52, 36, 52}, {108, 209, 281, 79}, {66, 104, 14, 16},
         {389, 288, 11, 12}},
        {2, 192, {20, 40, 10, 12}, {100, 200, 10, 12}, {30, 52, 36, 52}, {110, 212, 276, 72}, {66, 104, 14, 16},
         {386, 284, 14, 16}},
        // the 1x image on a 120 DPI display
        {1, 120, {10, 20, 5, 6}, {100, 200, 6, 8}, {15, 26, 18, 26}, {106, 208, 285, 82}, {33, 52, 7, 8},
         {391, 290, 9, 10}},
    };
    for (const Row& row : rows) {
        const auto pieces = NineGridPieces({100, 200, 300, 100}, s, row.imageScale, row.dpi);
        ASSERT_EQ(pieces.size(), 9u);
        EXPECT_EQ(pieces[0].src, row.src0) << row.dpi;
        EXPECT_EQ(pieces[0].dst, row.dst0) << row.dpi;
        EXPECT_EQ(pieces[4].src, row.src4) << row.dpi;
        EXPECT_EQ(pieces[4].dst, row.dst4) << row.dpi;
        EXPECT_EQ(pieces[8].src, row.src8) << row.dpi;
        EXPECT_EQ(pieces[8].dst, row.dst8) << row.dpi;
    }
    // The foreground box and its offset at the display's scale.
    s.foreW = 10;
    s.foreH = 4;
    s.foreAlign = 128;
    s.foreOffsetX = -3;
    s.foreOffsetY = 2;
    EXPECT_EQ(PlaceForeground({0, 0, 100, 50}, s, 96), (SkinRect{87, 48, 10, 4}));
    EXPECT_EQ(PlaceForeground({0, 0, 150, 75}, s, 144), (SkinRect{130, 72, 15, 6}));
    s.foreAlign = 0;
    EXPECT_EQ(PlaceForeground({0, 0, 200, 100}, s, 192), (SkinRect{84, 50, 20, 8}));
}

TEST(NineGridTest, ForegroundPlacementByAlignment) {
    ImageStyleValues s;
    s.foreW = 10;
    s.foreH = 4;
    const SkinRect d{0, 0, 100, 50};
    const std::pair<int, SkinRect> cases[] = {
        {1, {0, 0, 10, 4}},   {2, {45, 0, 10, 4}},  {4, {90, 0, 10, 4}},   {8, {0, 23, 10, 4}},
        {16, {90, 23, 10, 4}}, {32, {0, 46, 10, 4}}, {64, {45, 46, 10, 4}}, {128, {90, 46, 10, 4}},
        {0, {45, 23, 10, 4}},  {3, {45, 23, 10, 4}},
    };
    for (const auto& [align, expected] : cases) {
        s.foreAlign = align;
        EXPECT_EQ(PlaceForeground(d, s), expected) << align;
    }
    s.foreAlign = 128;
    s.foreOffsetX = -3;
    s.foreOffsetY = 2;
    EXPECT_EQ(PlaceForeground(d, s), (SkinRect{87, 48, 10, 4}));
}

}  // namespace
}  // namespace quillo

namespace quillo {
namespace {

// The compressed form the program links: it gives back the package byte for
// byte, passes a plain package through, and refuses damage and size claims
// beyond the limit instead of allocating them.
TEST(CompressedSkinTest, RoundTripPlainPassThroughAndDamage) {
    std::string package = BuildSkinPackage("{\"cfg\":{},\"res\":{\"fonts\":[],\"images\":[]}}", {{1, std::string(5000, 'x')}});
    const std::string packed = CompressSkinPackage(package);
    ASSERT_GT(packed.size(), 8u);
    EXPECT_LT(packed.size(), package.size());
    std::string out;
    ASSERT_TRUE(ExpandSkinResource(packed.data(), packed.size(), out));
    EXPECT_EQ(out, package);

    ASSERT_TRUE(ExpandSkinResource(package.data(), package.size(), out));
    EXPECT_EQ(out, package);

    std::string cut = packed.substr(0, packed.size() - 3);
    EXPECT_FALSE(ExpandSkinResource(cut.data(), cut.size(), out));
    std::string lying = packed;
    lying[4] = static_cast<char>(lying[4] + 1);  // one byte more than the stream holds
    EXPECT_FALSE(ExpandSkinResource(lying.data(), lying.size(), out));
    std::string huge = packed;
    huge[7] = '\x7F';  // about 2 GiB claimed
    EXPECT_FALSE(ExpandSkinResource(huge.data(), huge.size(), out));
    std::string noise = packed;
    for (size_t i = 8; i < noise.size(); i += 3) noise[i] = static_cast<char>(noise[i] ^ 0xA5);
    EXPECT_FALSE(ExpandSkinResource(noise.data(), noise.size(), out));
}

}  // namespace
}  // namespace quillo
