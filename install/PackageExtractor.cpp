#include "install/PackageExtractor.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include <minizip/unzip.h>
// after unzip.h, which provides what this header expects
#include <minizip/iowin32.h>

#include "app/RunLog.h"
#include "app/SystemInfo.h"
#include "app/TextCodec.h"
#include "app/UninstallManifest.h"
#include "install/EntryName.h"
#include "install/ProcessTools.h"
#include "install/ShellFileOperation.h"
#include "install/UserPrompt.h"

namespace quillo {
namespace {

constexpr size_t kNameBuffer = 1024;
constexpr size_t kCopyBuffer = 0x80000;
constexpr DWORD kWaitAfterEnding = 1000;
constexpr unsigned long kUtf8NameFlag = 0x800;

// Browser extensions: a running browser may hold them, so failing to replace
// one fails the installation without a message.
const wchar_t* const kBrowserExtensions[] = {L"Extensions/QuilloBHO.dll", L"Extensions/QuilloBHO64.dll",
                                            L"Extensions/npQuillo.dll"};

void Box(HWND owner, const std::wstring& text, const wchar_t* caption) {
    LogLine(std::wstring(L"extraction failed: ") + caption + L": " + text);
    TellUser(owner, text, caption);
}


HANDLE OpenForWriting(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

std::wstring EntryName(const char* raw, unsigned long flag) {
    const std::string bytes(raw);
    return TrimWhiteSpace((flag & kUtf8NameFlag) ? Utf8ToWide(bytes) : AnsiToWide(bytes));
}

// Entries the reader can decode: stored or deflated, not encrypted. Others
// count as entries that cannot be opened.
bool Readable(const unz_file_info64& info) {
    return (info.flag & 1) == 0 && (info.compression_method == 0 || info.compression_method == Z_DEFLATED);
}

bool IsBrowserExtension(const std::wstring& name) {
    for (const wchar_t* extension : kBrowserExtensions) {
        if (EqualsIgnoreCase(name, extension)) return true;
    }
    return false;
}

// Opens the target of a file entry, coping with a file that a running program
// holds: when the holder is the product's own program (it runs from the
// installation folder) the user may end it; failing that, or when any other
// program holds it, the file is deleted, or moved aside to ".old" when it
// cannot be deleted. A file that a scanner has open for a moment is tried
// again first.
HANDLE OpenTarget(const std::wstring& path, HWND owner, const std::wstring& installDir) {
    HANDLE file = INVALID_HANDLE_VALUE;
    auto open = [&] {
        file = OpenForWriting(path);
        return file != INVALID_HANDLE_VALUE;
    };
    if (RetryWhileShared(open)) return file;

    for (const FileHolder& holder : FindProcessesUsingFile(path)) {
        if (!IsProgramInside(holder, installDir)) {
            LogLine(L"held by a program that is not the product's, not ended: " + holder.executable);
            continue;
        }
        wchar_t text[1024];
        _snwprintf(text, sizeof text / sizeof text[0] - 1,
                   L"检测到程序”%ls“正在运行, 您必须结束该程序才能继续安装, 是否继续?", holder.name.c_str());
        text[sizeof text / sizeof text[0] - 1] = L'\0';
        // Unattended, the answer is no: nothing the user runs is ended, and
        // the file is moved aside below instead.
        if (AskUser(owner, text, L"关闭占用", MB_YESNO | MB_ICONQUESTION, IDNO) == IDYES) {
            EndProcessesNamed(holder.name, installDir);
            Sleep(kWaitAfterEnding);
            if (open()) return file;
        }
        break;
    }

    if (!RetryWhileShared([&] { return DeleteFileW(path.c_str()) != FALSE; }) &&
        GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        const std::wstring old = path + L".old";
        if (ShellFileOperation(FO_MOVE, path, old)) {
            PendingOldFile() = old;
            LogLine(L"held file moved aside: " + old);
        }
    }
    RetryWhileShared(open);
    return file;
}

}  // namespace

bool CreateFolderTree(const std::wstring& folder) {
    // Entry names separate with "/"; the shell wants backslashes throughout.
    const std::wstring path = WithBackslashes(folder);
    const int r = SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    return r == ERROR_SUCCESS || r == ERROR_ALREADY_EXISTS;
}

std::wstring& PendingOldFile() {
    static std::wstring* pending = new std::wstring();  // lives until the process ends
    return *pending;
}

std::wstring UniqueHex16() {
    GUID guid = {};
    if (FAILED(CoCreateGuid(&guid))) return std::wstring();
    const unsigned long long value = static_cast<unsigned long long>(guid.Data1) |
                                     (static_cast<unsigned long long>(guid.Data2) << 32) |
                                     (static_cast<unsigned long long>(guid.Data3) << 48);
    wchar_t digits[17];
    for (int i = 15; i >= 0; --i) digits[15 - i] = L"0123456789ABCDEF"[(value >> (i * 4)) & 0xF];
    digits[16] = L'\0';
    return digits;
}

bool WriteTempFile(const void* data, size_t length, const wchar_t* extension, std::wstring& path) {
    const std::wstring digits = UniqueHex16();
    if (digits.empty()) return false;
    // The temporary folder ends with a backslash; the second one is accepted.
    path = TempFolder() + L"\\" + digits + extension;

    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    bool ok = true;
    while (ok && length > 0) {
        const DWORD chunk = length > 0x1000000 ? 0x1000000 : static_cast<DWORD>(length);
        DWORD written = 0;
        ok = WriteFile(file, bytes, chunk, &written, nullptr) && written == chunk;
        bytes += chunk;
        length -= chunk;
    }
    CloseHandle(file);
    if (!ok) DeleteFileW(path.c_str());
    return ok;
}

bool WriteTempArchive(const void* package, size_t length, std::wstring& archivePath) {
    return WriteTempFile(package, length, L".zip", archivePath);
}

namespace {

// A read-only stream over package bytes in memory, for the ZIP reader.
struct MemoryStream {
    const uint8_t* data;
    uint64_t size;
    uint64_t position;
};

voidpf ZCALLBACK MemoryOpen(voidpf opaque, const void* /*name*/, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    const auto* bytes = static_cast<const PackageBytes*>(opaque);
    return new (std::nothrow) MemoryStream{static_cast<const uint8_t*>(bytes->data), bytes->size, 0};
}

uLong ZCALLBACK MemoryRead(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* s = static_cast<MemoryStream*>(stream);
    const uint64_t left = s->position < s->size ? s->size - s->position : 0;
    const uLong n = left < size ? static_cast<uLong>(left) : size;
    if (n) std::memcpy(buffer, s->data + s->position, n);
    s->position += n;
    return n;
}

uLong ZCALLBACK MemoryWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK MemoryTell(voidpf, voidpf stream) { return static_cast<MemoryStream*>(stream)->position; }

long ZCALLBACK MemorySeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* s = static_cast<MemoryStream*>(stream);
    uint64_t base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = s->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = s->size; break;
    default: return -1;
    }
    if (offset > s->size || base > s->size - offset) return -1;
    s->position = base + offset;
    return 0;
}

int ZCALLBACK MemoryClose(voidpf, voidpf stream) {
    delete static_cast<MemoryStream*>(stream);
    return 0;
}

int ZCALLBACK MemoryError(voidpf, voidpf) { return 0; }

// A read-only stream over a file handle that is already open (a temporary
// file marked for deletion cannot be opened again by its name). Each stream
// reads through a duplicate of that handle, with a position of its own.
struct HandleStream {
    HANDLE file;
};

voidpf ZCALLBACK HandleOpen(voidpf opaque, const void* /*name*/, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), static_cast<HANDLE>(opaque), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    // A duplicate shares the file position with the original; the stream
    // starts from the beginning.
    LARGE_INTEGER zero = {};
    SetFilePointerEx(copy, zero, nullptr, FILE_BEGIN);
    auto* stream = new (std::nothrow) HandleStream{copy};
    if (!stream) CloseHandle(copy);
    return stream;
}

uLong ZCALLBACK HandleRead(voidpf, voidpf stream, void* buffer, uLong size) {
    DWORD read = 0;
    if (!ReadFile(static_cast<HandleStream*>(stream)->file, buffer, size, &read, nullptr)) return 0;
    return read;
}

ZPOS64_T ZCALLBACK HandleTell(voidpf, voidpf stream) {
    LARGE_INTEGER zero = {}, position = {};
    if (!SetFilePointerEx(static_cast<HandleStream*>(stream)->file, zero, &position, FILE_CURRENT))
        return static_cast<ZPOS64_T>(-1);
    return static_cast<ZPOS64_T>(position.QuadPart);
}

long ZCALLBACK HandleSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    DWORD method = FILE_BEGIN;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: method = FILE_BEGIN; break;
    case ZLIB_FILEFUNC_SEEK_CUR: method = FILE_CURRENT; break;
    case ZLIB_FILEFUNC_SEEK_END: method = FILE_END; break;
    default: return -1;
    }
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(static_cast<HandleStream*>(stream)->file, distance, nullptr, method) ? 0 : -1;
}

int ZCALLBACK HandleClose(voidpf, voidpf stream) {
    auto* s = static_cast<HandleStream*>(stream);
    CloseHandle(s->file);
    delete s;
    return 0;
}

// Opens the package from memory when its bytes are given, else through the
// open handle when one is given, else the archive file by its name. `bytes`
// and `file` must outlive the returned handle.
unzFile OpenArchive(const std::wstring& archivePath, const PackageBytes* bytes = nullptr,
                    HANDLE file = INVALID_HANDLE_VALUE) {
    zlib_filefunc64_def funcs;
    if (bytes && bytes->data) {
        funcs = {MemoryOpen, MemoryRead, MemoryWrite, MemoryTell, MemorySeek, MemoryClose, MemoryError,
                 const_cast<PackageBytes*>(bytes)};
    } else if (file != INVALID_HANDLE_VALUE && file != nullptr) {
        funcs = {HandleOpen, HandleRead, MemoryWrite, HandleTell, HandleSeek, HandleClose, MemoryError, file};
    } else {
        fill_win32_filefunc64W(&funcs);
    }
    return unzOpen2_64(archivePath.c_str(), &funcs);
}

}  // namespace

bool CanOpenArchive(const std::wstring& archivePath, PackageBytes bytes) {
    unzFile zip = OpenArchive(archivePath, &bytes);
    if (!zip) return false;
    unzClose(zip);
    return true;
}

bool ExtractPackage(const std::wstring& archivePath, const std::wstring& installDir, bool drivers64,
                    JValue& manifest, HWND owner, PackageBytes bytes) {
    unzFile zip = OpenArchive(archivePath, &bytes);
    if (!zip) {
        DeleteFileW(archivePath.c_str());
        return false;
    }
    bool success = true;
    std::unique_ptr<char[]> buffer(new char[kCopyBuffer]);
    std::wstring madeFolder;  // the last folder tree made for a file
    int r = unzGoToFirstFile(zip);
    for (; r == UNZ_OK && success; r = unzGoToNextFile(zip)) {
        char rawName[kNameBuffer] = {};
        unz_file_info64 info = {};
        if (unzGetCurrentFileInfo64(zip, &info, rawName, sizeof rawName - 1, nullptr, 0, nullptr, 0) != UNZ_OK) {
            Box(owner, L"", L"unzGetCurrentFileInfo");
            success = false;
            break;
        }
        const std::wstring name = EntryName(rawName, info.flag);
        // Names that would leave the installation folder are refused like an
        // empty one.
        if (!IsSafeEntryName(name)) {
            Box(owner, name, L"path not exist");
            success = false;
            break;
        }
        if (SkipForArchitecture(name, drivers64)) continue;

        if (name.back() == L'/') {
            const std::wstring folder = installDir + L"\\" + name.substr(0, name.size() - 1);
            if (!CreateFolderTree(folder)) {
                Box(owner, name, L"folder ERROR_ALREADY_EXISTS");
                success = false;
                break;
            }
            AppendManifestPath(manifest, kManifestFolders, folder);
            continue;
        }

        const std::wstring path = FileTargetPath(installDir, name, drivers64);
        const std::wstring parent = ParentPath(path);
        if (!parent.empty()) {
            // Files of one folder usually follow each other; its tree is made once.
            if (parent != madeFolder && !CreateFolderTree(parent)) {
                Box(owner, name, L"file ERROR_ALREADY_EXISTS");
                success = false;
                break;
            }
            madeFolder = parent;
            AppendManifestPath(manifest, kManifestFolders, parent);
        }

        if (Readable(info) && unzOpenCurrentFile(zip) == UNZ_OK) {
            HANDLE file = OpenTarget(path, owner, installDir);
            if (file == INVALID_HANDLE_VALUE) {
                unzCloseCurrentFile(zip);
                if (!IsBrowserExtension(name)) Box(owner, name, L"touch file failed");
                success = false;
                break;
            }
            for (;;) {
                const int n = unzReadCurrentFile(zip, buffer.get(), static_cast<unsigned>(kCopyBuffer));
                if (n == 0) break;
                if (n < 0) {
                    // Damaged compressed data: the file would be cut short.
                    Box(owner, name, L"unzReadCurrentFile");
                    success = false;
                    break;
                }
                DWORD written = 0;
                if (!WriteFile(file, buffer.get(), static_cast<DWORD>(n), &written, nullptr) ||
                    written != static_cast<DWORD>(n)) {
                    Box(owner, name, L"write file failed");
                    success = false;
                    break;
                }
            }
            CloseHandle(file);
            if (unzCloseCurrentFile(zip) == UNZ_CRCERROR && success) {
                Box(owner, name, L"unzReadCurrentFile");
                success = false;
            }
            // A file cut short is not left behind as if it were whole.
            if (!success) DeleteFileW(path.c_str());
            std::wstring& pending = PendingOldFile();
            if (!pending.empty()) {
                // Still held: it goes at the next restart.
                std::wstring scheduled;
                if (GetFileAttributesW(pending.c_str()) != INVALID_FILE_ATTRIBUTES && !DeleteFileW(pending.c_str()))
                    DeleteAtRestart(pending, scheduled);
                pending.clear();
            }
        }
        // An entry that cannot be opened (an encrypted one, say) is not
        // written but still listed.
        if (!success) break;
        AppendManifestPath(manifest, kManifestFiles, path);
        LogLine(L"file written: " + path);
    }
    // A damaged central directory ends the walk early: the entries behind
    // the damage were never written, so this is a failure, not the end.
    if (success && r != UNZ_OK && r != UNZ_END_OF_LIST_OF_FILE) {
        Box(owner, L"", L"unzGetCurrentFileInfo");
        success = false;
    }
    unzClose(zip);
    RemoveDirectoryW((installDir + (drivers64 ? L"\\x64" : L"\\x86")).c_str());
    DeleteFileW(archivePath.c_str());
    return success;
}

const wchar_t* ExtractionPlan::Caption() const {
    switch (problem) {
        case None: return L"";
        case EntryUnreadable: return L"unzGetCurrentFileInfo";
        case BadName: return L"path not exist";
        case FolderTooLong: return L"folder ERROR_ALREADY_EXISTS";
        case ParentTooLong: return L"file ERROR_ALREADY_EXISTS";
        case FileTooLong: return L"touch file failed";
        case NoRoom: return L"write file failed";
    }
    return L"";
}

ExtractionPlan PlanExtraction(const std::wstring& archivePath, PackageBytes bytes, const std::wstring& installDir,
                              bool drivers64, uint64_t otherBytes) {
    ExtractionPlan plan;
    uint32_t cluster = 4096;
    plan.bytesFree = FreeBytesOfVolume(installDir, &cluster);
    auto onDisk = [cluster](uint64_t size) { return (size + cluster - 1) / cluster * cluster; };
    uint64_t manifestBytes = 0;  // the uninstaller's list of what was written
    auto fail = [&plan](ExtractionPlan::Problem problem, const std::wstring& entry) {
        plan.problem = problem;
        plan.entry = entry;
        return plan;
    };
    // The uninstaller is written beside the files; the folder itself is made
    // with its parents.
    if (installDir.size() > kMaxFolderPath) return fail(ExtractionPlan::FolderTooLong, installDir);
    if (installDir.size() + 13 > kMaxFilePath) return fail(ExtractionPlan::FileTooLong, L"unins000.exe");

    unzFile zip = OpenArchive(archivePath, &bytes);
    if (!zip) return fail(ExtractionPlan::EntryUnreadable, L"");
    int r = unzGoToFirstFile(zip);
    for (; r == UNZ_OK; r = unzGoToNextFile(zip)) {
        char rawName[kNameBuffer] = {};
        unz_file_info64 info = {};
        if (unzGetCurrentFileInfo64(zip, &info, rawName, sizeof rawName - 1, nullptr, 0, nullptr, 0) != UNZ_OK) break;
        const std::wstring name = EntryName(rawName, info.flag);
        if (!IsSafeEntryName(name)) {
            unzClose(zip);
            return fail(ExtractionPlan::BadName, name);
        }
        if (SkipForArchitecture(name, drivers64)) continue;
        if (name.back() == L'/') {
            if (installDir.size() + name.size() > kMaxFolderPath) {
                unzClose(zip);
                return fail(ExtractionPlan::FolderTooLong, name);
            }
            plan.bytesNeeded += cluster;
            continue;
        }
        const std::wstring path = FileTargetPath(installDir, name, drivers64);
        if (ParentPath(path).size() > kMaxFolderPath) {
            unzClose(zip);
            return fail(ExtractionPlan::ParentTooLong, name);
        }
        if (path.size() > kMaxFilePath) {
            unzClose(zip);
            return fail(ExtractionPlan::FileTooLong, name);
        }
        ++plan.files;
        // The file and its folder, each as base64 of up to three bytes a character.
        manifestBytes += 2 * (4 * static_cast<uint64_t>(path.size()) + 8);
        if (Readable(info)) plan.bytesNeeded += onDisk(info.uncompressed_size);
        if (plan.bytesNeeded > plan.bytesFree && plan.entry.empty()) plan.entry = name;
    }
    unzClose(zip);
    if (r != UNZ_END_OF_LIST_OF_FILE) return fail(ExtractionPlan::EntryUnreadable, L"");
    plan.bytesNeeded += onDisk(otherBytes + manifestBytes + 4096);
    if (plan.bytesNeeded > plan.bytesFree) {
        plan.problem = ExtractionPlan::NoRoom;
        if (plan.entry.empty()) plan.entry = L"unins000.exe";
    }
    return plan;
}

bool ExtractArchive(const std::wstring& destFolder, const std::wstring& zipPath, HANDLE openFile) {
    unzFile zip = OpenArchive(zipPath, nullptr, openFile);
    if (!zip) return false;
    bool success = true;
    std::unique_ptr<char[]> buffer(new char[kCopyBuffer]);
    int r = unzGoToFirstFile(zip);
    for (; r == UNZ_OK && success; r = unzGoToNextFile(zip)) {
        char rawName[kNameBuffer] = {};
        unz_file_info64 info = {};
        if (unzGetCurrentFileInfo64(zip, &info, rawName, sizeof rawName - 1, nullptr, 0, nullptr, 0) != UNZ_OK) {
            success = false;
            break;
        }
        const std::wstring name = EntryName(rawName, info.flag);
        if (!IsSafeEntryName(name)) {
            success = false;
            break;
        }
        if (name.back() == L'/') {
            success = CreateFolderTree(destFolder + L"\\" + name.substr(0, name.size() - 1));
            continue;
        }
        const std::wstring target = WithBackslashes(destFolder + L"\\" + name);
        const std::wstring parent = ParentPath(target);
        if (!parent.empty() && !CreateFolderTree(parent)) {
            success = false;
            break;
        }
        if (!Readable(info) || unzOpenCurrentFile(zip) != UNZ_OK) continue;
        FILE* file = _wfopen(target.c_str(), L"wb");
        if (!file) {
            unzCloseCurrentFile(zip);
            success = false;
            break;
        }
        for (;;) {
            const int n = unzReadCurrentFile(zip, buffer.get(), static_cast<unsigned>(kCopyBuffer));
            if (n == 0) break;
            if (n < 0 || std::fwrite(buffer.get(), 1, static_cast<size_t>(n), file) != static_cast<size_t>(n)) {
                success = false;
                break;
            }
        }
        if (std::fclose(file) != 0) success = false;
        if (unzCloseCurrentFile(zip) == UNZ_CRCERROR) success = false;
        // A file cut short is not left to be installed as if it were whole.
        if (!success) DeleteFileW(target.c_str());
    }
    // A damaged central directory stops the walk early; that is a failure too.
    if (success && r != UNZ_OK && r != UNZ_END_OF_LIST_OF_FILE) success = false;
    unzClose(zip);
    return success;
}

void RollBackExtraction(const JValue& manifest) {
    for (const std::wstring& file : ManifestPaths(manifest, kManifestFiles)) DeleteFileW(file.c_str());
    std::vector<std::wstring> folders = ManifestPaths(manifest, kManifestFolders);
    // Deepest first, so that a folder emptied by removing its subfolders goes
    // too: a path is always longer than the path of its parent.
    std::stable_sort(folders.begin(), folders.end(),
                     [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : folders) RemoveDirectoryW(folder.c_str());
}

}  // namespace quillo
