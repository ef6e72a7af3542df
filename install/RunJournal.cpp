#include "install/RunJournal.h"

#include <shellapi.h>

#include <algorithm>
#include <string>

#include "base/Base64.h"
#include "base/FolderTree.h"
#include "base/PathText.h"
#include "base/PrivateFolder.h"
#include "base/ProtectedFolder.h"
#include "base/RunLog.h"
#include "base/SystemInfo.h"
#include "base/TempFile.h"
#include "base/TextCodec.h"
#include "install/ProcessTools.h"
#include "install/ProductRegistration.h"
#include "install/Registry.h"

namespace quillo {
namespace {

constexpr const wchar_t* kJournalName = L"\\journal";
constexpr const wchar_t* kRunMutexName = L"Global\\Brightfen.Quillo3.SetupRun";
constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;

// Paths and names are stored as Base64 of their UTF-8, as the uninstall
// manifest stores them: the JSON writer passes a backslash followed by "u"
// through unescaped, which a path such as "C:\users" has.
std::wstring W(const JValue& text) {
    std::string bytes;
    return Base64Decode(text.asString(), bytes) ? Utf8ToWide(bytes) : std::wstring();
}
JValue U(const std::wstring& text) { return JValue(Base64Encode(WideToUtf8(text))); }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> Paths(const JValue& list) {
    std::vector<std::wstring> paths;
    if (const JValue::ArrayType* items = list.arrayItems())
        for (const JValue& item : *items) paths.push_back(W(item));
    return paths;
}

JValue List(const std::vector<std::wstring>& paths) {
    JValue list;
    int i = 0;
    for (const std::wstring& path : paths) list[i++] = U(path);
    return list;
}

// Folders go deepest first, each only when empty.
void RemoveFoldersWhenEmpty(std::vector<std::wstring> folders) {
    std::stable_sort(folders.begin(), folders.end(),
                     [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : folders) RemoveDirectoryW(WithBackslashes(folder).c_str());
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A file goes; one that a program holds goes at the next restart. Most
// files simply go: only a failure looks closer. Never a folder.
void DeleteOrDefer(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) return;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (RetryWhileShared([&] { return DeleteFileW(path.c_str()) != FALSE; })) return;
    std::wstring scheduled;
    DeleteAtRestart(path, scheduled);
}

// A folder the run set aside whole, with all in it; links inside lose only
// the link. A folder still holding a file that waits for the restart goes
// at the restart after it.
void DeleteTreeOrDefer(const std::wstring& folder) {
    DeleteFolderTree(folder, DeleteOrDefer, [](const std::wstring& left) {
        if (MoveFileExW(left.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) NoteRestartNeeded();
    });
}

HKEY RootOf(const std::string& name) { return name == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

// The outermost of the key and its parents that does not exist; empty when
// the key exists.
std::wstring OutermostMissingKey(HKEY root, const std::wstring& path, REGSAM view) {
    std::wstring missing;
    std::wstring probe = path;
    for (;;) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, probe.c_str(), 0, KEY_READ | view, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return missing;
        }
        missing = probe;
        const size_t cut = probe.rfind(L'\\');
        if (cut == std::wstring::npos) return missing;
        probe.resize(cut);
    }
}

bool KeyIsEmpty(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    DWORD subkeys = 0, values = 0;
    const bool empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                        nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       subkeys == 0 && values == 0;
    RegCloseKey(key);
    return empty;
}

// Puts a key back as a "key" record describes it: its values exactly, or no
// key at all (with the parents the run made) when there was none.
void RestoreKey(const JValue& record) {
    const HKEY root = RootOf(record.get("root").asString());
    const std::wstring path = W(record.get("path"));
    const REGSAM view = record.get("view32").asBool() ? kRegView : 0;
    if (!record.get("exists").asBool()) {
        DeleteRegistryKey(root, path, view);
        const std::wstring made = W(record.get("made"));
        std::wstring parent = path;
        while (!made.empty() && parent.size() > made.size()) {
            parent.resize(parent.rfind(L'\\'));
            if (!KeyIsEmpty(root, parent, view) || !DeleteRegistryKey(root, parent, view)) break;
        }
        LogLine(L"registry key taken back: " + path);
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kReadWrite | view, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        LogLine(L"registry key cannot be restored: " + path);
        return;
    }
    // Values that were not there go; the others get their old type and data.
    std::vector<std::wstring> present;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD length = 16384;
        if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        present.emplace_back(name, length);
    }
    const JValue& values = record.get("values");
    for (const std::wstring& name : present) {
        bool kept = false;
        for (size_t i = 0; i < values.size() && !kept; ++i) kept = W(values.at(i).get("n")) == name;
        if (!kept) RegDeleteValueW(key, name.c_str());
    }
    for (size_t i = 0; i < values.size(); ++i) {
        const JValue& value = values.at(i);
        std::string data;
        Base64Decode(value.get("d").asString(), data);
        RegSetValueExW(key, W(value.get("n")).c_str(), 0, static_cast<DWORD>(value.get("ty").asInt64()),
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    }
    RegCloseKey(key);
    LogLine(L"registry key restored: " + path);
}

// Puts what was set aside at `to` back at `from`. Whatever the run put in
// its place goes first; a folder set aside whole goes back in one rename,
// or entry by entry into a folder that stands there again.
bool PutBack(const std::wstring& to, const std::wstring& from) {
    if (IsFolder(to) && IsFolder(from)) {
        bool all = true;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((to + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = data.cFileName;
                if (name != L"." && name != L"..") all = PutBack(to + L"\\" + name, from + L"\\" + name) && all;
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        RemoveDirectoryW(to.c_str());
        return all;
    }
    DeleteOrDefer(from);
    CreateFolderTree(ParentPath(from));
    return MoveFileAside(to, from);
}

void MoveBack(const JValue& pairs) {
    for (size_t i = pairs.size(); i-- > 0;) {
        const std::wstring from = W(pairs.at(i).at(0));
        const std::wstring to = W(pairs.at(i).at(1));
        if (!Exists(to)) continue;
        if (PutBack(to, from)) {
            LogLine(L"moved back: " + from);
        } else {
            LogLine(L"cannot be moved back: " + from + L" (" + WindowsErrorText(GetLastError()) + L"); it stays at " + to);
        }
    }
}

void Pin(const std::vector<std::wstring>& links, bool pin) {
    if (!IsNt6OrLater()) return;
    for (const std::wstring& link : links)
        if (Exists(link)) ShellExecuteW(nullptr, pin ? L"taskbarpin" : L"taskbarunpin", link.c_str(), nullptr, nullptr, SW_HIDE);
}

void UndoRecord(const JValue& record) {
    const std::string type = record.get("t").asString();
    if (type == "stage") {
        DeleteFolderTree(W(record.get("dir")));
    } else if (type == "key") {
        RestoreKey(record);
    } else if (type == "moved") {
        MoveBack(record.get("p"));
    } else if (type == "made") {
        for (const std::wstring& file : Paths(record.get("files"))) {
            // Only files: a folder standing at the name was never the run's.
            const DWORD attributes = GetFileAttributesW(file.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
            DeleteOrDefer(file);
            LogLine(L"taken back: " + file);
        }
        RemoveFoldersWhenEmpty(Paths(record.get("dirs")));
    } else if (type == "pins") {
        Pin(Paths(record.get("links")), !record.get("pinned").asBool());
    }
}

// The second half of a commit, also done for a run killed after it had
// committed: the files moved aside go, and the folders the commit names.
void FinishCommit(const std::vector<JValue>& records) {
    for (const JValue& record : records)
        if (record.get("t").asString() == "stage") DeleteFolderTree(W(record.get("dir")));
    for (const JValue& record : records) {
        if (record.get("t").asString() != "moved") continue;
        const JValue& pairs = record.get("p");
        for (size_t i = 0; i < pairs.size(); ++i) {
            const std::wstring aside = W(pairs.at(i).at(1));
            if (IsFolder(aside)) DeleteTreeOrDefer(aside);
            else DeleteOrDefer(aside);
        }
    }
    for (const JValue& record : records)
        if (record.get("t").asString() == "commit") RemoveFoldersWhenEmpty(Paths(record.get("dirs")));
}

// The uninstall entry names the run's folder while the run goes on.
void NameRun(const std::wstring& folder) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE, kReadWrite | kRegView,
                        nullptr, &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, kSetupRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    } else {
        LogLine(L"the uninstall entry cannot name the run; a killed run is not taken back by the next one");
    }
}

// The journal file, the run's folder, the parents made for the installation
// folder when they are empty, and the entry's note of the run (with the
// entry itself when the note was all it held: a run killed before its
// journal began made it only for the note).
void CloseRun(const std::wstring& folder, const JValue& head) {
    DeleteFileW((folder + kJournalName).c_str());
    if (!RemoveDirectoryW(folder.c_str())) {
        // Files still held go at the next restart; the folder after them.
        if (Exists(folder) && MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            NoteRestartNeeded();
            LogLine(L"the run's folder goes at the next restart: " + folder);
        }
    }
    RemoveFoldersWhenEmpty(Paths(head.get("made")));
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, kReadWrite | kRegView, &key) == ERROR_SUCCESS) {
        std::wstring named;
        bool empty = false;
        if (ReadRegString(key, kSetupRunValue, MAX_PATH * 2, named) && EqualsIgnoreCase(named, folder)) {
            RegDeleteValueW(key, kSetupRunValue);
            DWORD values = 1, subKeys = 1;
            empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                                     nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                    values == 0 && subKeys == 0;
        }
        RegCloseKey(key);
        if (empty) DeleteRegistryKey(HKEY_LOCAL_MACHINE, kUninstallKey, kRegView);
    }
}

std::vector<JValue> ReadRecords(const std::wstring& folder) {
    std::vector<JValue> records;
    std::string text;
    const std::wstring path = folder + kJournalName;
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return records;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(handle);
    // One record a line; a last line cut short by the kill is not a record.
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        JValue record;
        JReader reader;
        if (reader.parse(text.data() + start, end - start, record) && record.type() == JValue::Object)
            records.push_back(std::move(record));
    }
    return records;
}

}  // namespace

bool MoveFileAside(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED) != FALSE;
}

RunJournal::~RunJournal() {
    if (active()) RollBack();
}

InstallResult RunJournal::Begin(const std::wstring& installDir, bool madeForThisRun) {
    std::wstring dir = WithBackslashes(installDir);
    while (dir.size() > 3 && dir.back() == L'\\') dir.pop_back();
    const std::wstring parent = ParentPath(dir);
    if (parent.empty()) return InstallResult::Failed(8, L"the installation folder has no parent folder", dir);
    // The folders that this run makes for the installation folder.
    std::vector<std::wstring> made;
    for (std::wstring probe = dir; !probe.empty() && probe.size() > 3 && !Exists(probe); probe = ParentPath(probe))
        made.push_back(probe);
    // An installation folder made outside the program folders is made for
    // administrators to change only (the outermost folder made, which the
    // others inherit from); one that is there already keeps its permissions.
    // The parents come first, since the run's folder goes beside it.
    const InstallFolderOrigin parents = MakeInstallFolder(parent);
    if (parents == InstallFolderOrigin::Failed)
        return InstallResult::Failed(8, L"the folder cannot be made", parent, GetLastError());
    // The entry as it was, before it names the run. It names the run before
    // anything of the run exists, so that a run killed at any point from
    // here on is found and taken back by the next one.
    const JValue entryBefore = KeyState(HKEY_LOCAL_MACHINE, kUninstallKey, true);
    for (int attempt = 0; attempt < 8 && folder_.empty(); ++attempt) {
        const std::wstring candidate = parent + L"\\" + kRunFolderPrefix + UniqueHex16();
        NameRun(candidate);
        // An existing folder of that name is never taken over.
        if (CreateDirectoryW(candidate.c_str(), nullptr)) folder_ = candidate;
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            return InstallResult::Failed(8, L"the run's folder cannot be made", candidate, GetLastError());
    }
    if (folder_.empty()) return InstallResult::Failed(8, L"the run's folder cannot be made", parent, ERROR_ALREADY_EXISTS);
    SetFileAttributesW(folder_.c_str(), FILE_ATTRIBUTE_HIDDEN);
    file_ = CreateFileW((folder_ + kJournalName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseRun(folder_, JValue());
        folder_.clear();
        return InstallResult::Failed(8, L"the run's journal cannot be made", parent, error);
    }
    JValue head;
    head["t"] = "head";
    head["dir"] = U(dir);
    head["made"] = List(made);
    head_ = head;
    InstallResult r = Append(head);
    if (r.ok()) r = Append(entryBefore);
    if (!r.ok()) return r;
    const InstallFolderOrigin folder = MakeInstallFolder(dir);
    if (folder == InstallFolderOrigin::Failed)
        return InstallResult::Failed(8, L"the folder cannot be made", dir, GetLastError());
    switch (parents != InstallFolderOrigin::Existing ? parents : folder) {
        case InstallFolderOrigin::Existing:
            if (!madeForThisRun) LogLine(L"the installation folder exists; its permissions are used as they are: " + dir);
            break;
        case InstallFolderOrigin::Protected:
            LogLine(L"installation folder made, changeable by administrators only: " + (made.empty() ? dir : made.back()));
            break;
        case InstallFolderOrigin::Inherited:
        case InstallFolderOrigin::Failed:
            LogLine(L"installation folder made with the permissions of its parent: " + (made.empty() ? dir : made.back()));
            break;
    }
    LogLine(L"run folder: " + folder_);
    return InstallResult::Ok();
}

std::wstring RunJournal::NewBackupPath() { return folder_ + L"\\" + std::to_wstring(++backups_); }

InstallResult RunJournal::Append(const JValue& record) {
    const std::string text = toString(record);
    DWORD written = 0;
    if (!WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written != text.size()) {
        const DWORD error = GetLastError();
        return InstallResult::Failed(8, L"the run's journal cannot be written", folder_ + kJournalName,
                                     error ? error : ERROR_DISK_FULL);
    }
    records_.push_back(record);
    return InstallResult::Ok();
}

InstallResult RunJournal::RecordKey(HKEY root, const wchar_t* path, bool view32) {
    return Append(KeyState(root, path, view32));
}

JValue RunJournal::KeyState(HKEY root, const wchar_t* path, bool view32) {
    const REGSAM view = view32 ? kRegView : 0;
    JValue record;
    record["t"] = "key";
    record["root"] = root == HKEY_CURRENT_USER ? "HKCU" : "HKLM";
    record["path"] = U(path);
    record["view32"] = view32;
    HKEY key = nullptr;
    const bool exists = RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) == ERROR_SUCCESS;
    record["exists"] = exists;
    if (!exists) {
        record["made"] = U(OutermostMissingKey(root, path, view));
        return record;
    }
    int n = 0;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD length = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::string data(size, '\0');
        length = 16384;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
            ERROR_SUCCESS)
            continue;
        data.resize(size);
        // The note of a run is never part of what a key is put back to.
        if (std::wstring(name, length) == kSetupRunValue) continue;
        JValue& value = record["values"][n++];
        value["n"] = U(std::wstring(name, length));
        value["ty"] = static_cast<int64_t>(type);
        value["d"] = Base64Encode(data);
    }
    RegCloseKey(key);
    return record;
}

InstallResult RunJournal::RecordMoves(const std::vector<FileMove>& moves) {
    if (moves.empty()) return InstallResult::Ok();
    JValue record;
    record["t"] = "moved";
    int i = 0;
    for (const FileMove& move : moves) {
        record["p"][i][0] = U(move.first);
        record["p"][i++][1] = U(move.second);
    }
    return Append(record);
}

InstallResult RunJournal::RecordStage(const std::wstring& folder) {
    JValue record;
    record["t"] = "stage";
    record["dir"] = U(folder);
    return Append(record);
}

InstallResult RunJournal::RecordMade(const std::vector<std::wstring>& files, const std::vector<std::wstring>& folders) {
    if (files.empty() && folders.empty()) return InstallResult::Ok();
    JValue record;
    record["t"] = "made";
    record["files"] = List(files);
    record["dirs"] = List(folders);
    return Append(record);
}

InstallResult RunJournal::RecordPins(const std::vector<std::wstring>& links, bool pinned) {
    if (links.empty()) return InstallResult::Ok();
    JValue record;
    record["t"] = "pins";
    record["links"] = List(links);
    record["pinned"] = pinned;
    return Append(record);
}

void RunJournal::UndoSince(size_t mark) {
    while (records_.size() > mark) {
        UndoRecord(records_.back());
        records_.pop_back();
    }
}

void RunJournal::Commit(const std::vector<std::wstring>& foldersLeftEmpty) {
    if (!active()) return;
    JValue record;
    record["t"] = "commit";
    record["dirs"] = List(foldersLeftEmpty);
    // Should the note not be written, the run still stands: what follows
    // only tidies up.
    Append(record);
    FinishCommit(records_);
    Close();
    LogLine(std::string("the installation stands; what it replaced is gone"));
}

void RunJournal::RollBack() {
    if (!active()) return;
    LogLine(std::string("taking back what this run changed"));
    UndoSince(0);
    Close();
}

void RunJournal::Close() {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    CloseRun(folder_, head_);
    records_.clear();
}

bool RecoverInterruptedRun() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | kRegView, &key) != ERROR_SUCCESS) return false;
    std::wstring folder;
    const bool named = ReadRegString(key, kSetupRunValue, MAX_PATH * 2, folder);
    RegCloseKey(key);
    if (!named || folder.empty()) return false;
    if (!ProcessRunLock().TryAcquire()) {
        LogLine(L"another run of the product's setup is going on: " + folder);
        return false;
    }
    // Only a folder of the product's runs is ever looked into.
    if (FileNamePart(folder).compare(0, wcslen(kRunFolderPrefix), kRunFolderPrefix) != 0) return false;
    std::vector<JValue> records = ReadRecords(folder);
    bool committed = false;
    for (const JValue& record : records) committed = committed || record.get("t").asString() == "commit";
    if (committed) {
        LogLine(L"finishing an installation that was cut short after it stood: " + folder);
        FinishCommit(records);
    } else {
        LogLine(L"taking back an installation that was cut short: " + folder);
        for (size_t i = records.size(); i-- > 0;) UndoRecord(records[i]);
    }
    CloseRun(folder, !records.empty() && records.front().get("t").asString() == "head" ? records.front() : JValue());
    return !committed;
}

RunLock& ProcessRunLock() {
    static RunLock* lock = new RunLock();  // lives until the process ends
    return *lock;
}

bool RunLock::TryAcquire() {
    if (held_) return true;
    if (!mutex_) mutex_ = CreateMutexW(nullptr, FALSE, kRunMutexName);
    // Without the global namespace (no right to create global objects) the
    // session's own serves.
    if (!mutex_) mutex_ = CreateMutexW(nullptr, FALSE, L"Local\\Brightfen.Quillo3.SetupRun");
    if (!mutex_) return true;
    const DWORD r = WaitForSingleObject(mutex_, 0);
    held_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    return held_;
}

void RunLock::Release() {
    if (held_) ReleaseMutex(mutex_);
    held_ = false;
    if (mutex_) CloseHandle(mutex_);
    mutex_ = nullptr;
}

}  // namespace quillo
