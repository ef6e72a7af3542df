#include "install/PackageExtractor.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <process.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <cwctype>
#include <vector>

#include <minizip/unzip.h>
// after unzip.h, which provides what this header expects
#include <minizip/iowin32.h>

#include "app/AppendedBlock.h"
#include "app/UninstallManifest.h"
#include "base/RunLog.h"
#include "base/ShellFileOperation.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "base/UserPrompt.h"
#include "install/EntryName.h"
#include "install/ProcessTools.h"

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


// A file that is not there yet is made as a new one, and only one that is
// there is replaced: a replacement truncates the file first, and some file
// systems (ext4 under Wine) then start writing a truncated file out at its
// close, once per file of the package.
HANDLE OpenForWriting(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return file;
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

std::wstring& PendingOldFile() {
    static std::wstring* pending = new std::wstring();  // lives until the process ends
    return *pending;
}

namespace {

// The ".old" file a held target was moved to goes once the new file is
// written; still held, it goes at the next restart.
void DropPendingOldFile() {
    std::wstring& pending = PendingOldFile();
    if (pending.empty()) return;
    std::wstring scheduled;
    if (GetFileAttributesW(pending.c_str()) != INVALID_FILE_ATTRIBUTES && !DeleteFileW(pending.c_str()))
        DeleteAtRestart(pending, scheduled);
    pending.clear();
}

}  // namespace

bool CanOpenArchive(const std::wstring& archivePath, PackageSource package) {
    unzFile zip = OpenArchive(archivePath, &package);
    if (!zip) return false;
    unzClose(zip);
    return true;
}

namespace {

// One entry as the reading side found it.
struct EntryHead {
    bool infoOk = false;
    std::string rawName;
    unz_file_info64 info = {};
    bool opened = false;  // readable, and its data opened
};

// The entries of the archive in order, with their data. The extraction
// either reads them itself (Direct) or takes them from a thread that reads
// and inflates ahead while it creates and writes the files (Ahead).
class EntryReader {
public:
    virtual ~EntryReader() = default;
    // The next entry to handle; false at the end of the walk, with the
    // reader's last result in `walkResult` (UNZ_END_OF_LIST_OF_FILE when
    // the directory ended where it should).
    virtual bool Next(EntryHead& head, int& walkResult) = 0;
    // The next piece of the current entry's data: > 0 bytes, 0 at its end,
    // < 0 when the data are damaged. `data` stays valid until the next call.
    virtual int Read(const char*& data) = 0;
    // After the end of the data: the result of closing the entry
    // (UNZ_CRCERROR when the data do not match their checksum).
    virtual int Close() = 0;
};

// What the extraction decides from an entry's name alone, so that the
// reading side never inflates what will not be written.
enum class EntryUse { Refuse, Skip, Folder, File };
EntryUse UseOf(const std::wstring& name, bool drivers64) {
    if (!IsSafeEntryName(name)) return EntryUse::Refuse;
    if (SkipForArchitecture(name, drivers64)) return EntryUse::Skip;
    return name.back() == L'/' ? EntryUse::Folder : EntryUse::File;
}

bool ReadHead(unzFile zip, EntryHead& head) {
    char rawName[kNameBuffer] = {};
    head = EntryHead();
    head.infoOk = unzGetCurrentFileInfo64(zip, &head.info, rawName, sizeof rawName - 1, nullptr, 0, nullptr, 0) ==
                  UNZ_OK;
    head.rawName = rawName;
    return head.infoOk;
}

class DirectReader : public EntryReader {
public:
    DirectReader(unzFile zip, bool drivers64) : zip_(zip), drivers64_(drivers64), buffer_(new char[kCopyBuffer]) {}
    bool Next(EntryHead& head, int& walkResult) override {
        for (;;) {
            r_ = started_ ? unzGoToNextFile(zip_) : unzGoToFirstFile(zip_);
            started_ = true;
            walkResult = r_;
            if (r_ != UNZ_OK) return false;
            if (!ReadHead(zip_, head)) return true;
            const EntryUse use = UseOf(EntryName(head.rawName.c_str(), head.info.flag), drivers64_);
            if (use == EntryUse::Skip) continue;
            if (use == EntryUse::File) head.opened = Readable(head.info) && unzOpenCurrentFile(zip_) == UNZ_OK;
            return true;
        }
    }
    int Read(const char*& data) override {
        data = buffer_.get();
        return unzReadCurrentFile(zip_, buffer_.get(), static_cast<unsigned>(kCopyBuffer));
    }
    int Close() override { return unzCloseCurrentFile(zip_); }

private:
    unzFile zip_;
    bool drivers64_;
    bool started_ = false;
    int r_ = UNZ_OK;
    std::unique_ptr<char[]> buffer_;
};

// Reads and inflates on a thread of its own, up to kAheadBuffers buffers of
// kAheadChunk bytes ahead of the files being written: the two overlap on a
// second core. The buffers are made once and handed round, so the memory
// held stays the same whatever the package's size. Under Wine every wait and
// every wake-up is a round trip to the server, so the two sides meet rarely:
// the writing side takes all that is ready at once and gives the buffers
// back half the pool at a time.
constexpr size_t kAheadChunk = 64 * 1024;
constexpr size_t kAheadBuffers = 32;
// A waiting writing side is woken once this many items are ready (or the
// reading side is about to wait itself, or is done).
constexpr size_t kWakeBatch = 16;

class AheadReader : public EntryReader {
public:
    AheadReader(unzFile zip, bool drivers64) : zip_(zip), drivers64_(drivers64) {}
    ~AheadReader() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        roomMade_.notify_one();
        if (thread_) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
    }
    bool Start() {
        memory_.reset(new (std::nothrow) char[kAheadBuffers * kAheadChunk]);
        if (!memory_) return false;
        for (size_t i = 0; i < kAheadBuffers; ++i) free_.push_back(memory_.get() + i * kAheadChunk);
        thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &AheadReader::Entry, this, 0, nullptr));
        return thread_ != nullptr;
    }

    bool Next(EntryHead& head, int& walkResult) override {
        Item item = Pop();
        // Data of an entry that was not read to its end are passed over.
        while (item.kind == Item::Data || item.kind == Item::End) item = Pop();
        if (item.kind == Item::WalkEnd) {
            walkResult = item.result;
            return false;
        }
        head = std::move(item.head);
        walkResult = UNZ_OK;
        return true;
    }
    int Read(const char*& data) override {
        const Item item = Pop();
        if (item.kind == Item::Data) {
            data = item.data;
            held_ = item.data;  // given back at the next Pop
            return static_cast<int>(item.size);
        }
        // The end of the data: 0, or the read error; the close result waits.
        closeResult_ = item.closeResult;
        return item.result;
    }
    int Close() override { return closeResult_; }

private:
    struct Item {
        enum Kind { Head, Data, End, WalkEnd } kind = WalkEnd;
        EntryHead head;
        char* data = nullptr;  // Data: a buffer of the pool
        size_t size = 0;
        int result = 0;       // End: 0 or the read error; WalkEnd: the walk's last result
        int closeResult = 0;  // End: the close result
    };

    static unsigned __stdcall Entry(void* self) {
        static_cast<AheadReader*>(self)->Run();
        return 0;
    }
    // A free buffer, waiting while none is; null once the extraction stopped.
    char* TakeBuffer() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!stop_ && free_.empty()) {
            // What is ready goes before this side sleeps.
            if (consumerWaits_ && !shared_.empty()) itemsReady_.notify_one();
            producerWaits_ = true;
            roomMade_.wait(lock, [&] { return stop_ || !free_.empty(); });
            producerWaits_ = false;
        }
        if (stop_) return nullptr;
        char* buffer = free_.back();
        free_.pop_back();
        return buffer;
    }
    void GiveBack(char* buffer) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(buffer);
    }
    // False once the extraction stopped listening. `last`: nothing follows
    // soon (the walk ends or stops), so a waiting writing side is woken.
    bool Push(Item item, bool last = false) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (stop_) return false;
        shared_.push_back(std::move(item));
        const bool wake = consumerWaits_ && (last || shared_.size() >= kWakeBatch);
        lock.unlock();
        if (wake) itemsReady_.notify_one();
        return true;
    }
    Item Pop() {
        if (held_) {
            released_.push_back(held_);
            held_ = nullptr;
        }
        const bool giveBack = released_.size() >= kAheadBuffers / 2;
        if (local_.empty() || giveBack) {
            std::unique_lock<std::mutex> lock(mutex_);
            bool wake = false;
            if (giveBack || (local_.empty() && shared_.empty())) {
                // Before waiting, and half the pool at a time otherwise.
                free_.insert(free_.end(), released_.begin(), released_.end());
                released_.clear();
                wake = producerWaits_ && !free_.empty();
            }
            if (wake) {
                lock.unlock();
                roomMade_.notify_one();
                lock.lock();
            }
            if (local_.empty()) {
                if (shared_.empty()) {
                    consumerWaits_ = true;
                    itemsReady_.wait(lock, [&] { return !shared_.empty(); });
                    consumerWaits_ = false;
                }
                local_.swap(shared_);
            }
        }
        Item item = std::move(local_.front());
        local_.pop_front();
        return item;
    }
    void Run() {
        int r = unzGoToFirstFile(zip_);
        for (; r == UNZ_OK; r = unzGoToNextFile(zip_)) {
            Item head;
            head.kind = Item::Head;
            if (!ReadHead(zip_, head.head)) {
                Push(std::move(head), true);
                return;  // the extraction stops here
            }
            const EntryUse use = UseOf(EntryName(head.head.rawName.c_str(), head.head.info.flag), drivers64_);
            if (use == EntryUse::Skip) continue;
            if (use == EntryUse::File)
                head.head.opened = Readable(head.head.info) && unzOpenCurrentFile(zip_) == UNZ_OK;
            const bool opened = head.head.opened;
            if (!Push(std::move(head), use == EntryUse::Refuse)) return;
            if (use == EntryUse::Refuse) return;
            if (!opened) continue;
            for (;;) {
                char* buffer = TakeBuffer();
                if (!buffer) {
                    unzCloseCurrentFile(zip_);
                    return;
                }
                const int n = unzReadCurrentFile(zip_, buffer, static_cast<unsigned>(kAheadChunk));
                if (n > 0) {
                    Item data;
                    data.kind = Item::Data;
                    data.data = buffer;
                    data.size = static_cast<size_t>(n);
                    if (!Push(std::move(data))) {
                        unzCloseCurrentFile(zip_);
                        return;
                    }
                    continue;
                }
                GiveBack(buffer);
                Item end;
                end.kind = Item::End;
                end.result = n;
                end.closeResult = unzCloseCurrentFile(zip_);
                if (!Push(std::move(end))) return;
                break;
            }
        }
        Item end;
        end.kind = Item::WalkEnd;
        end.result = r;
        Push(std::move(end), true);
    }

    unzFile zip_;
    bool drivers64_;
    HANDLE thread_ = nullptr;
    std::unique_ptr<char[]> memory_;  // the pool's buffers, one after the other
    std::mutex mutex_;
    std::condition_variable itemsReady_, roomMade_;
    std::deque<Item> shared_;        // pushed by the reading side
    std::vector<char*> free_;        // buffers the reading side may fill
    bool consumerWaits_ = false, producerWaits_ = false;
    bool stop_ = false;
    // The writing side's own.
    std::deque<Item> local_;         // taken over from shared_
    std::vector<char*> released_;    // written out, not yet given back
    char* held_ = nullptr;           // the data last handed out by Read
    int closeResult_ = 0;
};

}  // namespace

bool ExtractPackage(const std::wstring& archivePath, const std::wstring& installDir, bool drivers64,
                    JValue& manifest, HWND owner, PackageSource package, InstallResult* failure, bool showBoxes) {
    // The first failure, with the system's error at that moment, for the log.
    std::wstring current;  // the folder or file being made
    auto fail = [&](const std::wstring& text, const wchar_t* caption, bool show = true) {
        const DWORD error = GetLastError();
        if (failure && failure->ok())
            *failure = InstallResult::Failed(8, caption, current.empty() ? text : current, error);
        if (show && showBoxes) Box(owner, text, caption);
    };
    unzFile zip = OpenArchive(archivePath, &package);
    if (!zip) {
        if (!archivePath.empty()) DeleteFileW(archivePath.c_str());
        return false;
    }
    bool success = true;
    int r = UNZ_OK;
    {
        // The entries are read ahead on a thread of their own; should no
        // thread (or its buffers) be had, they are read here.
        std::unique_ptr<AheadReader> ahead(new AheadReader(zip, drivers64));
        if (!ahead->Start()) ahead.reset();
        std::unique_ptr<DirectReader> direct;
        if (!ahead) direct.reset(new DirectReader(zip, drivers64));
        EntryReader& reader = ahead ? static_cast<EntryReader&>(*ahead) : *direct;

        std::wstring madeFolder;  // the last folder tree made for a file
        EntryHead head;
        while (success && reader.Next(head, r)) {
            if (!head.infoOk) {
                fail(L"", L"unzGetCurrentFileInfo");
                success = false;
                break;
            }
            const std::wstring name = EntryName(head.rawName.c_str(), head.info.flag);
            const EntryUse use = UseOf(name, drivers64);
            // Names that would leave the installation folder are refused like
            // an empty one.
            if (use == EntryUse::Refuse) {
                fail(name, L"path not exist");
                success = false;
                break;
            }

            if (use == EntryUse::Folder) {
                const std::wstring folder = installDir + L"\\" + name.substr(0, name.size() - 1);
                current = folder;
                if (!CreateFolderTree(folder)) {
                    fail(name, L"folder ERROR_ALREADY_EXISTS");
                    success = false;
                    break;
                }
                AppendManifestPath(manifest, kManifestFolders, folder);
                continue;
            }

            const std::wstring path = FileTargetPath(installDir, name, drivers64);
            const std::wstring parent = ParentPath(path);
            current = path;
            if (!parent.empty()) {
                // Files of one folder usually follow each other; its tree is made once.
                if (parent != madeFolder && !CreateFolderTree(parent)) {
                    fail(name, L"file ERROR_ALREADY_EXISTS");
                    success = false;
                    break;
                }
                madeFolder = parent;
                AppendManifestPath(manifest, kManifestFolders, parent);
            }

            if (head.opened) {
                HANDLE file = OpenTarget(path, owner, installDir);
                if (file == INVALID_HANDLE_VALUE) {
                    fail(name, L"touch file failed", !IsBrowserExtension(name));
                    success = false;
                    break;
                }
                int n = 0;
                for (;;) {
                    const char* data = nullptr;
                    n = reader.Read(data);
                    if (n == 0) break;
                    if (n < 0) {
                        // Damaged compressed data: the file would be cut short.
                        fail(name, L"unzReadCurrentFile");
                        success = false;
                        break;
                    }
                    DWORD written = 0;
                    if (!WriteFile(file, data, static_cast<DWORD>(n), &written, nullptr) ||
                        written != static_cast<DWORD>(n)) {
                        fail(name, L"write file failed");
                        success = false;
                        break;
                    }
                }
                CloseHandle(file);
                if (success && reader.Close() == UNZ_CRCERROR) {
                    fail(name, L"unzReadCurrentFile");
                    success = false;
                }
                // A file cut short is not left behind as if it were whole.
                if (!success) DeleteFileW(path.c_str());
                DropPendingOldFile();
            }
            // An entry that cannot be opened (an encrypted one, say) is not
            // written but still listed.
            if (!success) break;
            AppendManifestPath(manifest, kManifestFiles, path);
            LogLine(L"file written: " + path);
        }
        // The reader (and its thread) goes before the archive is closed.
    }
    // A damaged central directory ends the walk early: the entries behind
    // the damage were never written, so this is a failure, not the end.
    if (success && r != UNZ_OK && r != UNZ_END_OF_LIST_OF_FILE) {
        fail(L"", L"unzGetCurrentFileInfo");
        success = false;
    }
    unzClose(zip);
    RemoveDirectoryW((installDir + (drivers64 ? L"\\x64" : L"\\x86")).c_str());
    if (!archivePath.empty()) DeleteFileW(archivePath.c_str());
    return success;
}

bool PlaceFile(const std::wstring& unpacked, const std::wstring& target, HWND owner, const std::wstring& installDir) {
    if (MoveFileExW(unpacked.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    // Held: written over in place, as the extraction writes a held file.
    FileSource source;
    if (!source.open(unpacked)) return false;
    HANDLE file = OpenTarget(target, owner, installDir);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool copied = CopyRange(source, 0, source.size(), [file](uint8_t* data, size_t size) {
        DWORD written = 0;
        return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    });
    const DWORD error = GetLastError();
    CloseHandle(file);
    source.close();
    DropPendingOldFile();
    if (!copied) {
        DeleteFileW(target.c_str());
        SetLastError(error);
        return false;
    }
    DeleteFileW(unpacked.c_str());
    return true;
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

ExtractionPlan PlanExtraction(const std::wstring& archivePath, PackageSource package, const std::wstring& installDir,
                              bool drivers64, uint64_t otherBytes) {
    ExtractionPlan plan;
    uint32_t cluster = 4096;
    plan.bytesFree = FreeBytesOfVolume(installDir, &cluster);
    auto onDisk = [cluster](uint64_t size) { return (size + cluster - 1) / cluster * cluster; };
    uint64_t manifestBytes = 0;  // the uninstaller's list of what was written
    // Every folder the extraction may make, up to the installation folder.
    std::set<std::wstring> seen;
    const std::wstring top = WithBackslashes(installDir);
    auto addFolder = [&](const std::wstring& folder) {
        for (std::wstring f = WithBackslashes(folder); f.size() >= top.size(); f = ParentPath(f)) {
            std::wstring key = f;
            for (wchar_t& c : key) c = static_cast<wchar_t>(towlower(c));
            if (!seen.insert(key).second) break;
            plan.folders.push_back(f);
            if (f.size() == top.size()) break;
        }
    };
    auto fail = [&plan](ExtractionPlan::Problem problem, const std::wstring& entry) {
        plan.problem = problem;
        plan.entry = entry;
        return plan;
    };
    // The uninstaller is written beside the files; the folder itself is made
    // with its parents.
    if (installDir.size() > kMaxFolderPath) return fail(ExtractionPlan::FolderTooLong, installDir);
    if (installDir.size() + 13 > kMaxFilePath) return fail(ExtractionPlan::FileTooLong, L"unins000.exe");

    unzFile zip = OpenArchive(archivePath, &package);
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
            plan.longestFolder = std::max(plan.longestFolder, installDir.size() + name.size());
            addFolder(installDir + L"\\" + name.substr(0, name.size() - 1));
            continue;
        }
        const std::wstring path = FileTargetPath(installDir, name, drivers64);
        if (ParentPath(path).size() > kMaxFolderPath) {
            unzClose(zip);
            return fail(ExtractionPlan::ParentTooLong, name);
        }
        plan.longestFile = std::max(plan.longestFile, path.size());
        plan.longestFolder = std::max(plan.longestFolder, ParentPath(path).size());
        if (path.size() > kMaxFilePath) {
            unzClose(zip);
            return fail(ExtractionPlan::FileTooLong, name);
        }
        ++plan.files;
        plan.targets.push_back(path);
        addFolder(ParentPath(path));
        // The file and its folder, each as base64 of up to three bytes a character.
        manifestBytes += 2 * (4 * static_cast<uint64_t>(path.size()) + 8);
        if (Readable(info)) {
            plan.bytesNeeded += onDisk(info.uncompressed_size);
            plan.fileBytes += info.uncompressed_size;
        }
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

bool ExtractArchive(const std::wstring& destFolder, const std::wstring& zipPath, HANDLE openFile,
                    std::vector<std::wstring>* written) {
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
        else if (written) written->push_back(target);
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
