#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/mkskin/SkinPacker.h"
#include "ui/SkinData.h"

namespace fs = std::filesystem;

namespace quillo {
namespace {

// The signature and header chunk of a 2 x 3 PNG: all the packer looks at.
const std::string kPng = std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\0\x02\0\0\0\x03\x08\x06\0\0\0", 29);

class MkskinTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) / ("mkskin_" + std::to_string(getpid()) + "_" +
                                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "images");
        fs::create_directories(dir_ / "fonts");
        Write("images/button.png", kPng);
        Write("fonts/title.json", "{\"Height\":-20,\"Weight\":700,\"FaceName\":\"微软雅黑\"}");
        Write("fonts/default.json", "null\n");
        WriteDescription(R"("MainWindow": {"size": [0, 0, 610, 430],
              "InStall": {"id": 1001, "size": [-145, -177, 93, 38], "normal": {"bi": 1, "bg": [0, 0, 2, 3]},
                          "Text": {"normal": {"ft": 101, "al": 37, "cr": 16777215}}},
              "title": {"text": {"ft": 102}}})");
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Write(const std::string& rel, const std::string& bytes) { std::ofstream(dir_ / rel, std::ios::binary) << bytes; }
    void WriteDescription(const std::string& windows, const std::string& res =
                                                          R"({"images": [{"id": 1, "name": "button.png"}],
                    "fonts": [{"id": 101, "name": "title.json"}, {"id": 102, "name": "default.json"}]})") {
        Write("skin.json", "{\n  // the product's skin\n  \"cfg\": {" + windows + "},\n  \"res\": " + res + "\n}\n");
    }
    std::vector<std::string> Build(std::string* package = nullptr) {
        std::vector<std::string> errors;
        std::string bytes;
        BuildSkinFromFolder(dir_.string(), bytes, errors);
        if (package) *package = bytes;
        return errors;
    }
    static bool Mentions(const std::vector<std::string>& errors, const std::string& text) {
        for (const std::string& e : errors)
            if (e.find(text) != std::string::npos) return true;
        return false;
    }

    fs::path dir_;
};

TEST_F(MkskinTest, PackageReadsBackWithEveryAssetInItsSection) {
    std::string package;
    ASSERT_TRUE(Build(&package).empty());
    SkinData skin;
    ASSERT_TRUE(skin.LoadFromMemory(reinterpret_cast<const uint8_t*>(package.data()), package.size()));
    EXPECT_EQ(skin.GetInt("MainWindow/InStall/id"), 1001);
    std::string bytes;
    ASSERT_TRUE(skin.GetBlob("images", 1, bytes));
    EXPECT_EQ(bytes, kPng);
    ASSERT_TRUE(skin.GetBlob("fonts", 101, bytes));
    EXPECT_EQ(bytes.back(), '\n');  // a line feed is added to a record that lacks one
    FontRecord record;
    ASSERT_TRUE(ParseFontRecord(bytes, record));
    EXPECT_EQ(record.integers.at("Weight"), 700);
    // The description is stored compact, ending with a line feed and a NUL.
    const uint32_t length = static_cast<uint8_t>(package[4]) | static_cast<uint8_t>(package[5]) << 8;
    EXPECT_EQ(package.substr(8 + length - 2, 2), std::string("\n\0", 2));
    EXPECT_EQ(package.find("// the product's skin"), std::string::npos);

    std::string again;
    Build(&again);
    EXPECT_EQ(package, again);
}

TEST_F(MkskinTest, BrokenSourcesAreRefusedWithTheirPlace) {
    WriteDescription(R"("W": {"a": {"normal": {"bi": 9}}, "b": {"Text": {"normal": {"ft": 1}}},
                          "c": {"size": [1, 2, 0, 5]}})");
    auto errors = Build();
    EXPECT_TRUE(Mentions(errors, "cfg/W/a/normal/bi: image 9 is not listed")) << errors.size();
    EXPECT_TRUE(Mentions(errors, "cfg/W/b/Text/normal/ft: font 1 is not listed"));
    EXPECT_TRUE(Mentions(errors, "cfg/W/c/size"));

    WriteDescription("", R"({"images": [{"id": 1, "name": "missing.png"}, {"id": 1, "name": "button.png"}],
                             "fonts": [{"id": 2, "name": "../skin.json"}, {"id": "3", "name": "title.json"}]})");
    errors = Build();
    EXPECT_TRUE(Mentions(errors, "missing.png cannot be read"));
    EXPECT_TRUE(Mentions(errors, "id 1 is used twice"));
    EXPECT_TRUE(Mentions(errors, "plain file name"));
    EXPECT_TRUE(Mentions(errors, "\"id\" must be an integer"));

    Write("images/button.png", "GIF89a not a png");
    Write("fonts/title.json", "[1, 2]");
    WriteDescription("");
    errors = Build();
    EXPECT_TRUE(Mentions(errors, "button.png is not a PNG file"));
    EXPECT_TRUE(Mentions(errors, "title.json is not a font record"));

    Write("skin.json", "{\"cfg\": {\"W\": }");
    errors = Build();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(Mentions(errors, "invalid JSON"));

    // A failed build leaves no output behind.
    errors.clear();
    EXPECT_FALSE(PackSkin(dir_.string(), (dir_ / "out.uir").string(), errors));
    EXPECT_FALSE(fs::exists(dir_ / "out.uir"));
}

// The 2x images: each names an image of res/images and is exactly twice its
// size (2 x 3 here); the package maps the image to it. A skin without them
// packs as before.
TEST_F(MkskinTest, TwiceSizedImagesAreCheckedAgainstTheirImage) {
    auto png = [](uint8_t w, uint8_t h) {
        std::string bytes = kPng;
        bytes[19] = static_cast<char>(w);
        bytes[23] = static_cast<char>(h);
        return bytes;
    };
    struct Row {
        std::string file;     // bytes of images2x/button.png
        std::string entries;  // the "images2x" list
        std::string error;    // expected in the errors; empty: it packs
        uint32_t mapped;      // Image2xId(1) of the package
    };
    const Row rows[] = {
        {png(4, 6), R"([{"id": 201, "image": 1, "name": "button.png"}])", "", 201},
        {png(4, 5), R"([{"id": 201, "image": 1, "name": "button.png"}])", "is 4 x 5, not twice image 1 (2 x 3)", 0},
        {png(2, 3), R"([{"id": 201, "image": 1, "name": "button.png"}])", "not twice image 1", 0},
        {png(4, 6), R"([{"id": 201, "image": 5, "name": "button.png"}])", "must be the id of an image", 0},
        {png(4, 6), R"([{"id": 201, "name": "button.png"}])", "must be the id of an image", 0},
        {png(4, 6), R"([{"id": 1, "image": 1, "name": "button.png"}])", "id 1 is used twice", 0},
        {png(4, 6), R"([{"id": 201, "image": 1, "name": "button.png"}, {"id": 202, "image": 1, "name": "button.png"}])",
         "image 1 has a 2x image already", 0},
        {"GIF89a", R"([{"id": 201, "image": 1, "name": "button.png"}])", "button.png is not a PNG file", 0},
        {png(4, 6), R"({"id": 201})", "\"res\"/\"images2x\" must be an array", 0},
    };
    fs::create_directories(dir_ / "images2x");
    for (const Row& row : rows) {
        Write("images2x/button.png", row.file);
        WriteDescription(R"("W": {"b": {"normal": {"bi": 1, "bg": [0, 0, 2, 3]}}})",
                         R"({"images": [{"id": 1, "name": "button.png"}], "fonts": [], "images2x": )" + row.entries +
                             "}");
        std::string package;
        const auto errors = Build(&package);
        if (row.error.empty()) {
            EXPECT_TRUE(errors.empty()) << row.entries << ": " << (errors.empty() ? "" : errors[0]);
        } else {
            EXPECT_TRUE(Mentions(errors, row.error)) << row.entries << ": " << (errors.empty() ? "none" : errors[0]);
            continue;
        }
        SkinData skin;
        ASSERT_TRUE(skin.LoadFromMemory(reinterpret_cast<const uint8_t*>(package.data()), package.size()));
        EXPECT_EQ(skin.Image2xId(1), row.mapped) << row.entries;
        std::string bytes;
        EXPECT_TRUE(skin.GetBlob(kImages2xSection, row.mapped, bytes));
        EXPECT_EQ(bytes, row.file);
    }
    // Without the section the skin packs as it always did: no 2x image.
    WriteDescription(R"("W": {"b": {"normal": {"bi": 1, "bg": [0, 0, 2, 3]}}})",
                     R"({"images": [{"id": 1, "name": "button.png"}], "fonts": []})");
    std::string package;
    ASSERT_TRUE(Build(&package).empty());
    SkinData skin;
    ASSERT_TRUE(skin.LoadFromMemory(reinterpret_cast<const uint8_t*>(package.data()), package.size()));
    EXPECT_EQ(skin.Image2xId(1), 0u);
}

TEST_F(MkskinTest, InspectListsWindowsElementsAndAssets) {
    std::vector<std::string> errors;
    ASSERT_TRUE(PackSkin(dir_.string(), (dir_ / "out.uir").string(), errors));
    std::string report;
    EXPECT_EQ(InspectSkin((dir_ / "out.uir").string(), report), 0);
    EXPECT_NE(report.find("window MainWindow 610 x 430"), std::string::npos) << report;
    EXPECT_NE(report.find("  InStall  id 1001"), std::string::npos) << report;
    EXPECT_NE(report.find("asset 1 in images: PNG 2 x 3"), std::string::npos) << report;
    Write("bad.uir", "PK nothing");
    EXPECT_EQ(InspectSkin((dir_ / "bad.uir").string(), report), 1);
}

}  // namespace
}  // namespace quillo
