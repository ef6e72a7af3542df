// The product's skin as packed from skin/: every window and element that the
// screens look up is there, with the command ids they expect, and every
// element lies inside its window.
#include <gtest/gtest.h>

#include "tools/mkskin/SkinPacker.h"
#include "ui/SkinData.h"

namespace quillo {
namespace {

class ProductSkinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::vector<std::string> errors;
        ok_ = BuildSkinFromFolder(QUILLO_SOURCE_DIR "/skin", package_, errors);
        for (const std::string& e : errors) ADD_FAILURE() << e;
        if (ok_) skin_.LoadFromMemory(reinterpret_cast<const uint8_t*>(package_.data()), package_.size());
    }
    static bool ok_;
    static std::string package_;
    static SkinData skin_;
};

bool ProductSkinTest::ok_ = false;
std::string ProductSkinTest::package_;
SkinData ProductSkinTest::skin_;

TEST_F(ProductSkinTest, PacksWithinItsSizeBudget) {
    ASSERT_TRUE(ok_);
    // About 80 KB of art at 1x and 170 KB at 2x (for displays from 150 %).
    EXPECT_LT(package_.size(), 300u * 1024) << "the skin is linked into every setup file";
}

TEST_F(ProductSkinTest, EveryElementTheScreensUseIsThereWithItsId) {
    ASSERT_TRUE(ok_);
    const std::pair<const char*, int> withIds[] = {
        {"MainWindow/InStall", 1001},          {"MainWindow/CheckBoxAgree", 1002},
        {"MainWindow/ButtonBrowser", 1005},    {"MainWindow/ButtonOption", 1009},
        {"MainWindow/LisenceButton", 1010},    {"MainWindow/SysBtns/Close", 1000},
        {"ProcessWindow/ButtonCancel", 2002},  {"InstallFailWnd/SysBtns/Close", 4563},
        {"UninstallWindow/ButtonOK", 1001},    {"UninstallWindow/SysBtns/Close", 1000},
        {"UninstalledWindow/ButtonOK", 1002},  {"UninstalledWindow/SysBtns/Close", 1000},
        {"InstallProcessWnd/SysBtns/Close", 1000}, {"InstallSuccessWnd/SysBtns/Close", 1000},
    };
    for (const auto& [path, id] : withIds) {
        ASSERT_NE(skin_.GetNode(path), nullptr) << path;
        EXPECT_EQ(skin_.GetInt(std::string(path) + "/id"), id) << path;
    }
    const char* const present[] = {
        "MainWindow/CheckBoxDesktop", "MainWindow/CheckBoxTaskbar", "MainWindow/CheckBoxStartMenu",
        "MainWindow/EditBoxPath", "MainWindow/LabelCheck", "MainWindow/LabelPath", "MainWindow/logo",
        "MainWindow/title", "ProcessWindow/Label1", "ProcessWindow/Label2", "ProcessWindow/Panel1",
        "ProcessWindow/Progress1", "InstallProcessWnd/hot", "InstallProcessWnd/setupprocess", "InstallProcessWnd/tip",
        "InstallProcessWnd/tipprocesswnd", "InstallSuccessWnd/check", "InstallSuccessWnd/logo",
        "InstallSuccessWnd/qrcode", "InstallFailWnd/errorlogo", "UninstallWindow/Label2", "UninstallWindow/Panel1",
        "UninstallWindow/ButtonCancel", "UninstalledWindow/Label2", "UninstalledWindow/LabelTKS",
        "UninstalledWindow/Panel1", "UninstalledWindow/Panel2", "FloatWnd/Check1", "FloatWnd/Check5",
        "FloatWnd/EditBox1", "FloatWnd/EditBox4", "FloatWnd/Labeltag1", "FloatWnd/Labeltag4",
    };
    for (const char* path : present) EXPECT_NE(skin_.GetNode(path), nullptr) << path;
}

TEST_F(ProductSkinTest, ElementsLieInsideTheirWindowsAndStylesNameLoadableImages) {
    ASSERT_TRUE(ok_);
    const JValue* cfg = skin_.GetNode("");
    ASSERT_NE(cfg, nullptr);
    ASSERT_NE(cfg->objectItems(), nullptr);
    EXPECT_EQ(cfg->objectItems()->size(), 9u);
    for (const auto& [window, elements] : *cfg->objectItems()) {
        SkinRect frame = skin_.GetRect("size", &elements);
        ASSERT_GT(frame.w, 0) << window;
        if (window == "MainWindow") frame.h = 630;  // the options unfold below the folded 430 pixels
        for (const auto& [name, element] : *elements.objectItems()) {
            const SkinRect r = skin_.GetRect("size", &element);
            if (r.w <= 0 || name == "size") continue;
            // Negative coordinates count from the right and bottom edges.
            const int32_t x = r.x < 0 ? frame.w + r.x : r.x;
            const int32_t y = r.y < 0 ? frame.h + r.y : r.y;
            EXPECT_TRUE(x >= 0 && y >= 0 && x + r.w <= frame.w && y + r.h <= frame.h)
                << window << "/" << name << " at " << x << "," << y << " size " << r.w << "x" << r.h;
        }
    }
    // A style whose image is present reads its source rectangle.
    auto loads = [](int32_t id) {
        std::string bytes;
        return skin_.GetBlob("images", static_cast<uint32_t>(id), bytes);
    };
    const ImageStyleValues install = skin_.GetImageStyleValues("MainWindow/InStall/normal", nullptr, loads);
    EXPECT_NE(install.image, 0);
    EXPECT_GT(install.srcW, 0);
    // Every sheet is drawn at 2x too, for displays from 150 %.
    for (const auto& [id, bytes] : skin_.sections().at("images")) {
        const uint32_t twice = skin_.Image2xId(id);
        std::string art;
        EXPECT_TRUE(twice != 0 && skin_.GetBlob(kImages2xSection, twice, art)) << "image " << id << " has no 2x art";
    }
}

}  // namespace
}  // namespace quillo
