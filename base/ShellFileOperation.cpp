#include "base/ShellFileOperation.h"

#include <shellapi.h>

namespace quillo {

bool ShellFileOperation(UINT operation, const std::wstring& from, const std::wstring& to) {
    // The shell takes lists of paths, each ending with a NUL and the list
    // with another one.
    const std::wstring source = from + L'\0';
    const std::wstring target = to + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = operation;
    op.pFrom = source.c_str();
    op.pTo = operation == FO_DELETE ? nullptr : target.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;  // 0x414
    return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

}  // namespace quillo
