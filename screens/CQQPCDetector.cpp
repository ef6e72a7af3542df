#include "screens/CQQPCDetector.h"

namespace quillo {

CQQPCDetector::~CQQPCDetector() { Unload(); }

bool CQQPCDetector::Load(const std::wstring& libraryPath) {
    Unload();
    module = LoadLibraryW(libraryPath.c_str());
    if (!module) return false;
    runDetector = reinterpret_cast<RunDetectorFn>(reinterpret_cast<void*>(GetProcAddress(module, "RunDetector")));
    // The export is spelled so by the library.
    getResult = reinterpret_cast<GetResultFn>(reinterpret_cast<void*>(GetProcAddress(module, "GetDectectorResult")));
    waitComplete =
        reinterpret_cast<WaitCompleteFn>(reinterpret_cast<void*>(GetProcAddress(module, "WaitDetectorComplete")));
    if (!runDetector || !getResult || !waitComplete) {
        Unload();
        return false;
    }
    return true;
}

void CQQPCDetector::Unload() {
    runDetector = nullptr;
    getResult = nullptr;
    waitComplete = nullptr;
    if (module) {
        FreeLibrary(module);
        module = nullptr;
    }
}

}  // namespace quillo
