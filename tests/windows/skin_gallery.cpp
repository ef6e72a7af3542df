// Renders every window skin of the product, with sample controls built from
// its elements, into one PNG per window so a person can look at the skin.
//   skin_gallery OUTPUT_FOLDER
// The skin is read from this program's own resource, as the setup program reads it.
#include <windows.h>
#include <objidl.h>
#include <ole2.h>
#include <gdiplus.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "base/TextCodec.h"
#include "ui/CHWindow.h"
#include "ui/ControlFactory.h"
#include "ui/UIButton.h"
#include "ui/UICheckBox.h"
#include "ui/UIEditBox.h"
#include "ui/UIFrameWindow.h"
#include "ui/UILabel.h"
#include "ui/UIProgress.h"
#include "ui/UIResource.h"

using namespace quillo;

namespace {

// Sample texts for the elements whose texts the screens set.
const std::map<std::string, std::wstring> kTexts = {
    {"MainWindow/InStall", L"立即安装"},          {"MainWindow/LabelPath", L"安装路径:"},
    {"MainWindow/LabelCheck", L"安装选项:"},      {"MainWindow/CheckBoxDesktop", L"建立桌面快捷方式"},
    {"MainWindow/CheckBoxTaskbar", L"建立任务栏快捷方式"}, {"MainWindow/CheckBoxStartMenu", L"建立开始菜单快捷方式"},
    {"MainWindow/CheckBoxAgree", L"我已阅读并同意"}, {"MainWindow/ButtonBrowser", L"更换目录"},
    {"MainWindow/ButtonOption", L"自定义安装"},    {"MainWindow/LisenceButton", L"《用户协议》"},
    {"MainWindow/EditBoxPath", L"C:\\Program Files (x86)\\Brightfen\\Quillo 3"},
    {"MainWindow/title", L"Quillo 3"},             {"InstallProcessWnd/tip", L"正在复制文件: 60%"},
    {"InstallFailWnd/L_error", L"安装失败"},        {"InstallFailWnd/L_errorinfo", L"解压失败, 请清理磁盘后重新安装"},
    {"ProcessWindow/Label1", L"正在删除文件"},      {"UninstalledWindow/LabelTKS", L"感谢您的使用"},
    {"UninstalledWindow/ButtonOK", L"完成"},
    {"FloatWnd/Check1", L"Quillo出现问题，我需要重装"}, {"FloatWnd/Check2", L"界面不好看"},
    {"FloatWnd/Check3", L"操作不方便"},            {"FloatWnd/Check4", L"资源太少"},
    {"FloatWnd/Check5", L"产品不稳定，经常出错(程序崩溃，功能异常等)"},
    {"FloatWnd/Labeltag1", L"功能不全，没有我想要的功能:"}, {"FloatWnd/Labeltag2", L"无法连接/不支持我的设备，机型是:"},
    {"FloatWnd/Labeltag3", L"我已有其它更好的同类产品，比如:"}, {"FloatWnd/Labeltag4", L"其它原因:"},
};

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The kind a screen would create for an element, guessed from its name.
int KindFor(const std::string& name) {
    if (StartsWith(name, "Check") || name == "check") return kKindCheckBox;
    if (StartsWith(name, "EditBox")) return kKindEditBox;
    if (StartsWith(name, "Progress") || name == "setupprocess") return kKindProgress;
    if (StartsWith(name, "Button") || name == "InStall" || name == "InstallButton" || name == "LisenceButton")
        return kKindButton;
    if (StartsWith(name, "Label") || StartsWith(name, "L_") || name == "title" || name == "tip" || name == "hot")
        return kKindLabel;
    return kKindPane;
}

bool SavePng(HBITMAP bitmap, const std::wstring& path) {
    static const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    Gdiplus::GpBitmap* image = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) != Gdiplus::Ok) return false;
    const bool ok = Gdiplus::DllExports::GdipSaveImageToFile(image, path.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
    Gdiplus::DllExports::GdipDisposeImage(image);
    return ok;
}

bool RenderWindow(UIResource& skin, const std::string& window, const std::wstring& folder) {
    RECT size = skin.GetRect(window + "/size", nullptr);
    int width = size.right, height = size.bottom;  // [x, y, w, h]
    if (window == "MainWindow") height = 630;     // unfolded, with every option shown
    if (width <= 0 || height <= 0) return false;

    UIFrameWindow host;
    if (!host.Create(nullptr, 0, 0, width, height, WS_POPUP, 0, L"")) return false;
    host.LoadSkin(&skin, window, nullptr);
    const JValue* node = skin.GetNode(window, nullptr);
    for (const auto& [name, element] : *node->objectItems()) {
        if (element.type() != JValue::Object || name == "Client" || name == "Frames" || name == "SysBtns") continue;
        if (name == "InstallButton" || name == "EditBoxReadMe") continue;  // described, never created
        // The closing screen's own questions are never created: the feedback form carries them.
        if (window == "UninstalledWindow" &&
            (StartsWith(name, "Check") || StartsWith(name, "EditBox") || StartsWith(name, "Labeltag")))
            continue;
        const int kind = KindFor(name);
        UIObject* control = CreateControl(kind, &skin, &host, window + "/" + name, nullptr);
        if (!control) continue;
        const auto text = kTexts.find(window + "/" + name);
        const std::wstring sample = text != kTexts.end() ? text->second : std::wstring();
        if (kind == kKindLabel && !sample.empty()) static_cast<UILabel*>(control)->SetText(sample);
        if (kind == kKindButton && !sample.empty()) static_cast<UIButton*>(control)->SetText(sample);
        if (kind == kKindCheckBox) {
            auto* box = static_cast<UICheckBox*>(control);
            if (!sample.empty()) box->SetText(sample);
            box->SetCheck(name != "CheckBoxStartMenu" && name != "Check2" && name != "Check4");
        }
        if (kind == kKindProgress) static_cast<UIProgress*>(control)->SetPos(60);
        if (kind == kKindEditBox && !sample.empty()) static_cast<UIEditBox*>(control)->SetText(sample);
    }

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    for (int i = 0; i < width * height; ++i) static_cast<uint32_t*>(bits)[i] = 0xDCE3EA;  // desktop grey
    host.Render(dc, host.rect());
    GdiFlush();
    SelectObject(dc, old);
    DeleteDC(dc);
    const bool ok = SavePng(bitmap, folder + L"\\" + Utf8ToWide(window) + L".png");
    DeleteObject(bitmap);
    DestroyWindow(host.hwnd());
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: skin_gallery OUTPUT_FOLDER\n");
        return 2;
    }
    CreateDirectoryW(argv[1], nullptr);
    if (!RegisterWindowClass(GetModuleHandleW(nullptr))) return 1;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    int written = 0, failed = 0;
    {
        UIResource skin;
        if (!skin.LoadFromResource(GetModuleHandleW(nullptr), L"UIR", 129)) {
            std::fprintf(stderr, "skin_gallery: no skin resource\n");
            return 1;
        }
        const JValue* cfg = skin.GetNode("", nullptr);
        if (cfg && cfg->objectItems()) {
            for (const auto& [window, elements] : *cfg->objectItems()) {
                if (RenderWindow(skin, window, argv[1])) {
                    ++written;
                    std::printf("%s.png\n", window.c_str());
                } else {
                    ++failed;
                    std::fprintf(stderr, "skin_gallery: %s could not be rendered\n", window.c_str());
                }
            }
        }
    }
    Gdiplus::GdiplusShutdown(token);
    return failed == 0 && written > 0 ? 0 : 1;
}
