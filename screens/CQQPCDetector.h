// The recommended-software detector: an outside library, written to the
// temporary folder from the setup file's extra section, driven through three
// exports. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace quillo {

class CQQPCDetector {
public:
    using RunDetectorFn = int(__stdcall*)(int mode, int productId, int reserved);
    using GetResultFn = int(__stdcall*)(int* result, wchar_t* text, int textCapacity, wchar_t* text2,
                                        int text2Capacity, int reserved);
    using WaitCompleteFn = int(__stdcall*)(int first, int timeout);

    CQQPCDetector() = default;
    CQQPCDetector(const CQQPCDetector&) = delete;
    CQQPCDetector& operator=(const CQQPCDetector&) = delete;
    virtual ~CQQPCDetector();

    // Loads the library and finds the three entries; false (and nothing
    // loaded) when the library does not load or lacks one of them.
    bool Load(const std::wstring& libraryPath);
    // Forgets the entries and frees the library.
    void Unload();

    RunDetectorFn runDetector = nullptr;
    GetResultFn getResult = nullptr;
    WaitCompleteFn waitComplete = nullptr;
    HMODULE module = nullptr;
};

}  // namespace quillo
