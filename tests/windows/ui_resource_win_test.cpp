// The Windows half of the skin against real GDI, GDI+ and fonts: decoding,
// the image and font caches, nine-grid and foreground drawing, text and tint.
#include <gtest/gtest.h>

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/windows/TestImages.h"
#include "ui/CHBitmap.h"
#include "ui/SkinData.h"
#include "ui/SkinDraw.h"
#include "ui/UIResource.h"

namespace quillo {
namespace {

using test::Png;
using test::Rgba;
using test::SolidPng;

const Rgba kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0}, kCyan{0, 255, 255},
    kPurple{128, 0, 128}, kOlive{128, 128, 0}, kNavy{0, 0, 128}, kGrey{200, 200, 200}, kWhite{255, 255, 255},
    kKey{255, 0, 255};

// 6x6: 2x2 corners red, green, blue, yellow; edges cyan (top), purple
// (bottom), olive (left), navy (right); grey centre.
std::string NineGridPng(bool alpha) {
    std::vector<Rgba> p(36);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const int col = x < 2 ? 0 : (x < 4 ? 1 : 2), row = y < 2 ? 0 : (y < 4 ? 1 : 2);
            const Rgba grid[3][3] = {{kRed, kCyan, kGreen}, {kOlive, kGrey, kNavy}, {kBlue, kPurple, kYellow}};
            p[static_cast<size_t>(y * 6 + x)] = grid[row][col];
        }
    return Png(6, 6, alpha, p);
}

Rgba PixelOf(const CHBitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.PixelAt(x, y);
    return {p[2], p[1], p[0], bitmap.bitsPerPixel() == 32 ? p[3] : 255};
}

::testing::AssertionResult Near(const Rgba& actual, const Rgba& expected, int tolerance = 2) {
    return test::NearColor(actual, expected, tolerance);
}

// A top-down 32-bit DIB in a memory DC, filled with one colour.
using test::Canvas;

TEST(CHBitmapTest, DecodesOpaqueAs24BitAndAlphaAs32BitPremultiplied) {
    CHBitmap opaque;
    ASSERT_TRUE(opaque.LoadFromMemory(Png(3, 2, false, {kRed, kGreen, kBlue, kYellow, kCyan, kPurple})));
    EXPECT_EQ(opaque.bitsPerPixel(), 24);
    EXPECT_EQ(opaque.stride(), 12);  // 9 bytes padded to 4
    EXPECT_TRUE(Near(PixelOf(opaque, 2, 0), kBlue, 0));
    EXPECT_TRUE(Near(PixelOf(opaque, 0, 1), kYellow, 0));

    CHBitmap translucent;
    ASSERT_TRUE(translucent.LoadFromMemory(Png(3, 1, true, {{200, 100, 50, 128}, {10, 20, 30, 255}, {90, 90, 90, 0}})));
    EXPECT_EQ(translucent.bitsPerPixel(), 32);
    const Rgba half = PixelOf(translucent, 0, 0);
    EXPECT_TRUE(Near(half, {100, 50, 25}, 1)) << "AlphaBlend needs premultiplied pixels";
    EXPECT_NEAR(half.a, 128, 1);
    EXPECT_TRUE(Near(PixelOf(translucent, 1, 0), {10, 20, 30}, 0));
    EXPECT_EQ(PixelOf(translucent, 1, 0).a, 255);
    EXPECT_EQ(PixelOf(translucent, 2, 0).a + PixelOf(translucent, 2, 0).r, 0);

    CHBitmap broken;
    EXPECT_FALSE(broken.LoadFromMemory(std::string("\x89PNG not really")));
    EXPECT_TRUE(broken.empty());
}

TEST(CHBitmapTest, GdiplusStopsWithTheLastBitmapAndStartsAgain) {
    const std::string png = SolidPng(2, 2, kGreen);
    for (int round = 0; round < 3; ++round) {
        {
            CHBitmap a, b;
            ASSERT_TRUE(a.LoadFromMemory(png));
            ASSERT_TRUE(b.LoadFromMemory(png));
            EXPECT_TRUE(CHBitmap::GdiplusRunning());
        }
        if (CHBitmap::LiveUsers() == 0) {
            EXPECT_FALSE(CHBitmap::GdiplusRunning()) << "round " << round;
        }
    }
    CHBitmap last;
    ASSERT_TRUE(last.LoadFromMemory(png));
    EXPECT_TRUE(Near(PixelOf(last, 1, 1), kGreen, 0));
}

// Assets share one id space; the "res" lists say which are fonts and which images.
const char kDescription[] = R"({
  "cfg": {"Win": {
    "Plain": {"bi": 0, "bg": [1, 2, 3, 4], "mg": [1, 1, 1, 1], "md": 2, "fi": 0, "fg": [1, 1, 1, 1], "al": 4},
    "Btn": {"normal": {"bi": 1, "bg": [0, 0, 6, 6], "bc": [255, 0, 255], "mg": [2, 2, 2, 2], "md": 3,
                       "fi": 2, "fg": [0, 0, 4, 4], "fc": [1, 2, 3], "al": 128, "of": [1, -1]}},
    "Broken": {"bi": 9, "bg": [0, 0, 1, 1], "fi": 9, "fg": [0, 0, 1, 1]},
    "Label": {"ft": 101, "al": 37, "cr": 5263440, "of": [2, 3], "tx": "Gr\u00fc\u00dfe"}
  }},
  "res": {"images": [{"id": 1, "name": "grid.png"}, {"id": 2, "name": "fore.png"}, {"id": 3, "name": "late.png"},
                     {"id": 9, "name": "bad.png"}],
          "fonts": [{"id": 101, "name": "a.json"}, {"id": 102, "name": "Default"}, {"id": 103, "name": "b.json"},
                    {"id": 105, "name": "missing.json"}]}
})";

const Rgba kBrick{200, 40, 10};

// `image9` replaces the undecodable image 9, `font105` adds the missing font 105.
std::string Package(const std::string& image1 = NineGridPng(false), const std::string& image9 = "not a png",
                    const std::string& font105 = "") {
    std::vector<std::pair<uint32_t, std::string>> assets = {
        {1, image1},
        {2, SolidPng(4, 4, kBrick)},
        {3, SolidPng(1, 1, kBrick)},
        {9, image9},
        {101, "{\"Height\":-16,\"Weight\":400}\n"},
        {102, "null\n"},
        {103, "{\"Weight\":700,\"Italic\":0,\"FaceName\":\"Abcdefghijklmnopqrstuvwxyz0123456789\"}\n"},
    };
    if (!font105.empty()) assets.push_back({105, font105});
    return BuildSkinPackage(kDescription, assets);
}

bool Load(UIResource& skin, const std::string& package) { return skin.LoadFromMemory(package.data(), package.size()); }

// Every number of an image style, in field order.
std::vector<int> Numbers(const ImageStyle& s) {
    return {s.srcX,    s.srcY,  s.srcW,  s.srcH,    s.colorKey,  s.marginL,   s.marginT,     s.marginR,
            s.marginB, s.mode,  s.foreX, s.foreY,   s.foreW,     s.foreH,     s.foreKey,     s.foreAlign,
            s.foreOffsetX, s.foreOffsetY};
}

TEST(UIResourceTest, StylesReadKeysOnlyForImagesThatLoad) {
    UIResource skin;
    ASSERT_TRUE(Load(skin, Package()));
    const std::vector<int> zeros(18, 0);
    for (const char* path : {"Win/Plain", "Win/Broken", "Win/Nothing"}) {
        const ImageStyle style = skin.GetImageStyle(path);
        EXPECT_EQ(style.image, nullptr) << path;
        EXPECT_EQ(style.foreImage, nullptr) << path;
        EXPECT_EQ(Numbers(style), zeros) << path;
    }

    const ImageStyle button = skin.GetImageStyle("Btn/normal", skin.GetNode("Win"));
    ASSERT_NE(button.image, nullptr);
    EXPECT_EQ(button.image, skin.GetImage(1, true));
    EXPECT_EQ(button.image, skin.GetImageStyle("Win//Btn/normal/").image) << "cached: one bitmap per id";
    EXPECT_EQ(button.foreImage, skin.GetImage(2, true));
    EXPECT_EQ(button.image->width(), 6);
    EXPECT_EQ(Numbers(button), (std::vector<int>{0, 0, 6, 6, 0xFF00FF, 2, 2, 2, 2, 3, 0, 0, 4, 4, 0x030201, 128, 1, -1}));

    const TextStyle label = skin.GetTextStyle("Win/Label");
    ASSERT_NE(label.font, nullptr);
    EXPECT_EQ(label.font, skin.GetFont(101));
    EXPECT_EQ(std::vector<int>({label.align, static_cast<int>(label.color), label.offsetX, label.offsetY}),
              (std::vector<int>{37, RGB(80, 80, 80), 2, 3}));
    EXPECT_EQ(label.text, L"Gr\u00fc\u00dfe");
    const TextStyle none = skin.GetTextStyle("Win/None");
    EXPECT_EQ(none.font, nullptr);
    EXPECT_TRUE(none.text.empty());

    // A skin whose windows are never drawn decodes no art; its texts and
    // fonts read as before.
    UIResource hidden;
    hidden.LeaveArtUndecoded();
    ASSERT_TRUE(Load(hidden, Package()));
    const int bitmaps = CHBitmap::LiveUsers();
    const ImageStyle undrawn = hidden.GetImageStyle("Win/Btn/normal");
    EXPECT_EQ(undrawn.image, nullptr);
    EXPECT_EQ(undrawn.foreImage, nullptr);
    EXPECT_EQ(Numbers(undrawn), zeros);
    EXPECT_EQ(hidden.GetImage(1, true), nullptr);
    EXPECT_EQ(CHBitmap::LiveUsers(), bitmaps) << "no bitmap was made";
    EXPECT_EQ(hidden.GetTextStyle("Win/Label").text, label.text);
    EXPECT_NE(hidden.GetFont(101), nullptr);
}

TEST(UIResourceTest, CachesSurviveReloadButFailedImagesAreRetried) {
    UIResource skin;
    ASSERT_TRUE(Load(skin, Package()));
    CHBitmap* grid = skin.GetImage(1, true);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(skin.GetImage(9, true), nullptr);
    EXPECT_EQ(skin.GetFont(105), nullptr);

    ASSERT_TRUE(Load(skin, Package(SolidPng(2, 2, kGreen), SolidPng(1, 1, kBlue), "{\"Weight\":700}\n")));
    EXPECT_EQ(skin.GetImage(1, true), grid);
    EXPECT_TRUE(Near(PixelOf(*grid, 0, 0), kRed, 0)) << "the cached bitmap is not replaced";
    CHBitmap* retried = skin.GetImage(9, true);
    ASSERT_NE(retried, nullptr);
    EXPECT_TRUE(Near(PixelOf(*retried, 0, 0), kBlue, 0));
    EXPECT_EQ(skin.GetFont(105), nullptr) << "a missing font is remembered as missing";
}

TEST(UIResourceTest, LoadsFromFileAndRejectsWhatIsNotAPackage) {
    wchar_t folder[MAX_PATH], path[MAX_PATH];
    ASSERT_TRUE(GetTempPathW(MAX_PATH, folder) && GetTempFileNameW(folder, L"uir", 0, path));
    const std::string package = Package();
    FILE* f = _wfopen(path, L"wb");
    ASSERT_TRUE(f && fwrite(package.data(), 1, package.size(), f) == package.size());
    fclose(f);

    UIResource skin;
    EXPECT_TRUE(skin.LoadFromFile(path));
    DeleteFileW(path);
    EXPECT_EQ(skin.GetInt("Win/Label/al"), 37);
    EXPECT_FALSE(skin.LoadFromFile(path));
    EXPECT_FALSE(Load(skin, "RIFF" + package.substr(4)));
    EXPECT_EQ(skin.GetInt("Win/Label/al"), 37) << "a rejected package changes nothing";
    EXPECT_FALSE(skin.LoadFromResource(GetModuleHandleW(nullptr), L"UIR", 129));

    // The program's way: a "UIR" resource of language 2052 in a module.
    wchar_t self[MAX_PATH];
    ASSERT_TRUE(GetModuleFileNameW(nullptr, self, MAX_PATH) && CopyFileW(self, path, FALSE));
    HANDLE update = BeginUpdateResourceW(path, FALSE);
    ASSERT_TRUE(update && UpdateResourceW(update, L"UIR", MAKEINTRESOURCEW(129), 2052,
                                          const_cast<char*>(package.data()), static_cast<DWORD>(package.size())));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    UIResource fromModule;
    EXPECT_TRUE(fromModule.LoadFromResource(module, L"UIR", 129));
    EXPECT_EQ(fromModule.GetInt("Win/Label/al"), 37);
    FreeLibrary(module);
    DeleteFileW(path);
}

// Makes the system icon-title font italic for the test's duration, so that a
// record leaving Italic unset can be told from one that resets it.
class ItalicIconTitleFont {
public:
    ItalicIconTitleFont() : saved_(IconTitleLogFont()) {
        LOGFONTW italic = saved_;
        italic.lfItalic = TRUE;
        ok_ = SystemParametersInfoW(SPI_SETICONTITLELOGFONT, sizeof italic, &italic, 0) && IconTitleLogFont().lfItalic;
    }
    ~ItalicIconTitleFont() { SystemParametersInfoW(SPI_SETICONTITLELOGFONT, sizeof saved_, &saved_, 0); }
    bool ok() const { return ok_; }

private:
    LOGFONTW saved_;
    bool ok_ = false;
};

LOGFONTW FontOf(HFONT font) {
    LOGFONTW lf = {};
    GetObjectW(font, sizeof lf, &lf);
    return lf;
}

TEST(UIResourceTest, FontRecordsOverrideOnlyNonZeroMembersOfTheSystemFont) {
    ItalicIconTitleFont italic;
    ASSERT_TRUE(italic.ok());
    const LOGFONTW system = IconTitleLogFont();
    UIResource skin;
    ASSERT_TRUE(Load(skin, Package()));

    const HFONT sized = skin.GetFont(101);
    ASSERT_NE(sized, nullptr);
    EXPECT_EQ(skin.GetFont(101), sized);
    LOGFONTW expected = system;
    expected.lfHeight = -16;
    expected.lfWeight = 400;
    const LOGFONTW a = FontOf(sized);
    EXPECT_EQ(std::memcmp(&a, &expected, sizeof a), 0) << "only Height and Weight change; Italic stays";

    const LOGFONTW b = FontOf(skin.GetFont(102));
    EXPECT_EQ(std::memcmp(&b, &system, sizeof b), 0) << "\"null\" is the system font unchanged";

    const LOGFONTW c = FontOf(skin.GetFont(103));
    EXPECT_EQ(c.lfWeight, 700);
    EXPECT_TRUE(c.lfItalic) << "a zero member does not override";
    EXPECT_EQ(c.lfHeight, system.lfHeight);
    EXPECT_STREQ(c.lfFaceName, L"Abcdefghijklmnopqrstuvwxyz01234");
}

TEST(UIResourceTest, DefaultFontsAreCreatedOncePerProcess) {
    UIResource one, two;
    const LOGFONTW system = IconTitleLogFont();
    ASSERT_NE(one.GetDefaultFont(), nullptr);
    EXPECT_EQ(one.GetDefaultFont(), two.GetDefaultFont());
    EXPECT_EQ(one.GetDefaultBoldUnderlineFont(), two.GetDefaultBoldUnderlineFont());
    EXPECT_EQ(ToolkitDefaultFont(), ToolkitDefaultFont());

    const HFONT fonts[] = {one.GetDefaultFont(), one.GetDefaultBoldFont(), one.GetDefaultUnderlineFont(),
                           one.GetDefaultBoldUnderlineFont()};
    for (int i = 0; i < 4; ++i) {
        const LOGFONTW f = FontOf(fonts[i]);
        EXPECT_EQ(f.lfWeight, i & 1 ? FW_BOLD : system.lfWeight) << i;
        EXPECT_EQ(f.lfUnderline != 0, (i & 2) != 0) << i;
    }
    EXPECT_EQ(FontOf(ToolkitDefaultFont()).lfWeight, FW_NORMAL);
}

// Counts the tint notifications each window receives.
std::map<HWND, int> g_tintNotices;

LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kTintChangedMessage) ++g_tintNotices[hwnd];
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

TEST(UIResourceTest, SetTintRecoloursTintableImagesAndNotifiesWindows) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuilloTintCounter";
    RegisterClassW(&wc);
    HWND top = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                               nullptr, wc.hInstance, nullptr);
    HWND child = CreateWindowExW(0, wc.lpszClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, top, nullptr,
                                 wc.hInstance, nullptr);
    HWND grandchild = CreateWindowExW(0, wc.lpszClassName, L"", WS_CHILD, 0, 0, 5, 5, child, nullptr, wc.hInstance,
                                      nullptr);
    ASSERT_TRUE(top && child && grandchild);
    g_tintNotices.clear();

    UIResource skin;
    ASSERT_TRUE(Load(skin, Package()));
    CHBitmap* tinted = skin.GetImage(2, true);
    CHBitmap* fixed = skin.GetImage(1, false);  // the grid, not tintable
    ASSERT_TRUE(tinted && fixed);
    EXPECT_EQ(skin.TintColor(RGB(200, 40, 10)), RGB(200, 40, 10));

    skin.SetTint(120, 20, -10);
    EXPECT_EQ(std::vector<int>({skin.GetHue(), skin.GetSaturation(), skin.GetLightness()}),
              (std::vector<int>{120, 20, -10}));
    const COLORREF expected = TintColorValue(RGB(200, 40, 10), 120, 20, -10);
    ASSERT_NE(expected, RGB(200, 40, 10));
    EXPECT_EQ(skin.TintColor(RGB(200, 40, 10)), expected);
    const Rgba want{GetRValue(expected), GetGValue(expected), GetBValue(expected)};
    EXPECT_TRUE(Near(PixelOf(*tinted, 3, 3), want, 0));
    EXPECT_TRUE(Near(PixelOf(*fixed, 0, 0), kRed, 0));
    CHBitmap* late = skin.GetImage(3, true);  // decoded while a tint is set
    ASSERT_NE(late, nullptr);
    EXPECT_TRUE(Near(PixelOf(*late, 0, 0), want, 0));

    EXPECT_EQ(g_tintNotices[top], 1);
    EXPECT_EQ(g_tintNotices[child], 1);
    EXPECT_EQ(g_tintNotices[grandchild], 1);

    skin.SetTint(0, 0, 0);
    EXPECT_TRUE(Near(PixelOf(*tinted, 3, 3), kBrick, 0)) << "restored from the untinted copy";
    EXPECT_TRUE(Near(PixelOf(*late, 0, 0), kBrick, 0));
    EXPECT_EQ(g_tintNotices[top], 2);
    DestroyWindow(top);
}

void Draw(Canvas& canvas, const RECT& dest, const ImageStyle& style) { DrawImageStyle(canvas.dc(), dest, style); }

TEST(SkinDrawTest, NineGridKeepsCornersAndStretchesEdgesAndCentre) {
    for (const bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "32-bit through AlphaBlend" : "24-bit through BitBlt and DrawDibDraw");
        CHBitmap image;
        ASSERT_TRUE(image.LoadFromMemory(NineGridPng(alpha)));
        ImageStyle style;
        style.image = &image;
        style.srcW = style.srcH = 6;
        style.marginL = style.marginT = style.marginR = style.marginB = 2;
        Canvas canvas(40, 30, kWhite);
        Draw(canvas, {5, 5, 25, 21}, style);  // 20 x 16

        // Corners 2 x 2 at the four ends; edges and centre fill the rest.
        const struct {
            int x, y;
            Rgba color;
        } probes[] = {{5, 5, kRed},      {6, 6, kRed},     {7, 7, kGrey},    {24, 5, kGreen},  {23, 6, kGreen},
                      {5, 20, kBlue},    {24, 19, kYellow}, {8, 5, kCyan},   {21, 6, kCyan},   {8, 20, kPurple},
                      {21, 19, kPurple}, {5, 8, kOlive},   {6, 17, kOlive},  {24, 8, kNavy},   {23, 17, kNavy},
                      {8, 8, kGrey},     {21, 17, kGrey},  {4, 4, kWhite},   {25, 21, kWhite}, {25, 5, kWhite}};
        for (const auto& p : probes) EXPECT_TRUE(Near(canvas.At(p.x, p.y), p.color)) << p.x << "," << p.y;

        Canvas empty(10, 10, kWhite);
        Draw(empty, {5, 5, 5, 9}, style);
        style.srcW = 0;
        Draw(empty, {0, 0, 10, 10}, style);
        EXPECT_EQ(empty.Dark({0, 0, 10, 10}, true), 0);
        EXPECT_TRUE(Near(empty.At(5, 5), kWhite, 0));
    }
}

TEST(SkinDrawTest, AlphaImagesBlendOverTheBackground) {
    CHBitmap image;
    ASSERT_TRUE(image.LoadFromMemory(Png(2, 1, true, {{255, 0, 0, 128}, {0, 255, 0, 0}})));
    ImageStyle style;
    style.image = &image;
    style.srcW = 2;
    style.srcH = 1;
    Canvas canvas(4, 2, kBlue);
    Draw(canvas, {0, 0, 4, 2}, style);
    EXPECT_TRUE(Near(canvas.At(0, 0), {128, 0, 127}));
    EXPECT_TRUE(Near(canvas.At(1, 1), {128, 0, 127}));
    EXPECT_TRUE(Near(canvas.At(3, 1), kBlue, 0)) << "transparent pixels leave the background";
}

// At 150 % a sprite is resampled on its own with a smooth filter: a hard
// black-to-white edge gets grey steps, and the red sprite beside it in the
// sheet does not bleed into its last column. At 100 % it is copied as it is.
TEST(SkinDrawTest, BetweenScalesASpriteIsResampledSmoothlyAndAlone) {
    const Rgba kBlack{0, 0, 0};
    std::vector<Rgba> pixels;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) pixels.push_back(x < 2 ? kBlack : (x < 4 ? kWhite : kRed));
    CHBitmap sheet;
    ASSERT_TRUE(sheet.LoadFromMemory(Png(8, 4, true, pixels)));
    ImageStyle style;
    style.image = &sheet;
    style.srcW = 4;
    style.srcH = 4;
    for (const int dpi : {96, 144}) {
        const int size = dpi == 96 ? 4 : 6;
        Canvas canvas(size, size, kBlue);
        DrawImageStyle(canvas.dc(), {0, 0, size, size}, style, dpi);
        int steps = 0;
        for (int x = 0; x < size; ++x) {
            const Rgba p = canvas.At(x, size / 2);
            EXPECT_TRUE(Near(p, {p.r, p.r, p.r}, 8)) << dpi << " dpi, column " << x << ": grey, no red or blue";
            steps += p.r > 40 && p.r < 215;
        }
        EXPECT_TRUE(Near(canvas.At(size - 1, 0), kWhite, 8)) << dpi << " dpi: the last column stays white";
        if (dpi == 96)
            EXPECT_EQ(steps, 0) << "copied as it is";
        else
            EXPECT_GT(steps, 0) << "a smooth edge, not the nearest pixel";
    }
}

TEST(SkinDrawTest, ColourKeyLeavesKeyPixelsUntouched) {
    CHBitmap image;  // left half key, right half navy
    ASSERT_TRUE(image.LoadFromMemory(Png(4, 2, false, {kKey, kKey, kNavy, kNavy, kKey, kKey, kNavy, kNavy})));
    ImageStyle style;
    style.image = &image;
    style.srcW = 4;
    style.srcH = 2;
    style.colorKey = static_cast<int32_t>(RGB(255, 0, 255));

    Canvas same(4, 2, kGreen);
    Draw(same, {0, 0, 4, 2}, style);
    EXPECT_TRUE(Near(same.At(1, 1), kGreen, 0));
    EXPECT_TRUE(Near(same.At(3, 0), kNavy, 0));

    Canvas stretched(16, 16, kGreen);
    Draw(stretched, {0, 0, 16, 16}, style);
    EXPECT_TRUE(Near(stretched.At(2, 8), kGreen, 0));
    EXPECT_TRUE(Near(stretched.At(13, 8), kNavy));

    // A 24-bit foreground is keyed on foreKey.
    ImageStyle fore;
    fore.foreImage = &image;
    fore.foreW = 4;
    fore.foreH = 2;
    fore.foreAlign = 1;
    fore.foreKey = style.colorKey;
    Canvas keyed(8, 4, kGreen);
    Draw(keyed, {0, 0, 8, 4}, fore);
    EXPECT_TRUE(Near(keyed.At(0, 0), kGreen, 0));
    EXPECT_TRUE(Near(keyed.At(3, 1), kNavy, 0));
    EXPECT_TRUE(Near(keyed.At(4, 0), kGreen, 0));
}

TEST(SkinDrawTest, ForegroundLandsUnscaledWhereItsAlignmentSays) {
    CHBitmap image;
    ASSERT_TRUE(image.LoadFromMemory(SolidPng(6, 6, kRed, true)));
    // Destination (10, 10)-(50, 40); the box is 4 x 4 taken from (1, 1).
    const struct {
        int align, x, y;
    } cases[] = {{1, 10, 10}, {2, 28, 10},  {4, 46, 10},  {8, 10, 23}, {16, 46, 23},
                 {32, 10, 36}, {64, 28, 36}, {128, 46, 36}, {0, 28, 23}, {3, 28, 23}};
    for (const auto& c : cases) {
        for (const POINT offset : {POINT{0, 0}, POINT{-3, 2}}) {
            SCOPED_TRACE(testing::Message() << "align " << c.align << " offset " << offset.x << "," << offset.y);
            ImageStyle style;
            style.foreImage = &image;
            style.foreX = style.foreY = 1;
            style.foreW = style.foreH = 4;
            style.foreAlign = c.align;
            style.foreOffsetX = offset.x;
            style.foreOffsetY = offset.y;
            Canvas canvas(60, 50, kWhite);
            Draw(canvas, {10, 10, 50, 40}, style);
            const int x = c.x + offset.x, y = c.y + offset.y;
            EXPECT_EQ(canvas.Dark({x, y, x + 4, y + 4}, true), 16);
            EXPECT_EQ(canvas.Dark({x, y, x + 4, y + 4}, false), 0);
        }
    }
}

TEST(SkinDrawTest, TextIsDrawnInsideTheClipAndAligned) {
    Canvas canvas(200, 60, kWhite);
    TextStyle style;
    style.align = DT_VCENTER | DT_SINGLELINE;
    const RECT clip = {10, 10, 100, 50};
    DrawTextStyle(canvas.dc(), {0, 0, 200, 60}, L"MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM", style, &clip);
    EXPECT_GT(canvas.Dark(clip, true), 20);
    EXPECT_EQ(canvas.Dark(clip, false), 0);

    style.text = L"MM";
    for (const int horizontal : {0, DT_RIGHT}) {
        Canvas line(200, 40, kWhite);
        style.align = horizontal | DT_VCENTER | DT_SINGLELINE;
        DrawTextStyle(line.dc(), {0, 0, 200, 40}, nullptr, style);
        const RECT left = {0, 0, 100, 40};
        EXPECT_GT(line.Dark(left, horizontal == 0), 5) << horizontal;
        EXPECT_EQ(line.Dark(left, horizontal != 0), 0) << horizontal;
    }

    LOGFONTW big = IconTitleLogFont();
    big.lfHeight = -36;
    const HFONT font = CreateFontIndirectW(&big);
    Canvas styled(200, 60, kWhite);
    style.font = font;
    style.color = RGB(220, 0, 0);
    style.align = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    style.offsetX = -60;
    DrawTextStyle(styled.dc(), {0, 0, 200, 60}, nullptr, style);
    DeleteObject(font);
    EXPECT_EQ(styled.Dark({0, 0, 100, 60}, false), 0) << "moved left by the offset";
    int top = 60, bottom = 0, red = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x) {
            const Rgba p = styled.At(x, y);
            if (p.r + p.g + p.b >= 3 * 128) continue;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
            red += p.r > 150 && p.g < 60 && p.b < 60;
        }
    EXPECT_GE(bottom - top, 18) << "drawn with the style's 36-pixel font";
    EXPECT_GT(red, 5) << "in the style's colour";
}

}  // namespace
}  // namespace quillo
