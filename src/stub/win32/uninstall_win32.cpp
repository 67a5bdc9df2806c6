// The uninstaller on Windows: the Apps & Features entry in the registry, uninstall.exe
// made from the stub's own image, and the uninstaller's run.
//
// A running program's file cannot be deleted on Windows, so the uninstaller's last
// step hands that to a copy of itself in the temporary folder: the copy is opened to be
// deleted when its last handle closes, and started with that handle and one of this
// process; it waits for this process to end, deletes uninstall.exe and the folder
// when empty, and when it ends, its copy goes with it.
#include <windows.h>

#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "fileattributes.h"
#include "layout.h"
#include "pelayout.h"
#include "uninstall.h"
#include "veksfxp.h"
#include "win32ui.h"

namespace vek {
namespace {

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// How long the copy waits for the uninstaller to end, and then for its file to go.
constexpr DWORD kWaitMilliseconds = 60000;
constexpr int kDeleteTries = 50;
constexpr DWORD kDeletePause = 100;
// The optional header's CheckSum field, at the same place in PE32 and PE32+.
constexpr size_t kCheckSumOffset = 64;
// GetCurrentProcess's pseudo handle, without the import.
const HANDLE kThisProcess = reinterpret_cast<HANDLE>(-1);

// Where the signature's entry among the data directories lies from the PE signature,
// in this program's own kind of optional header (PE32+ in a 64-bit build).
constexpr size_t kSecurityEntryOffset =
    pe::kSignatureSize + pe::FileHeader::kSize +
    (sizeof(void*) == 8 ? pe::OptionalHeader::kPe32PlusDirectoriesOffset : pe::OptionalHeader::kPe32DirectoriesOffset) +
    pe::kSecurityDirectory * pe::DataDirectory::kSize;
static_assert(kSecurityEntryOffset == offsetof(IMAGE_NT_HEADERS, OptionalHeader.DataDirectory) +
                                          IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY),
              "the PE layout agrees with the system's headers");

// kUninstallKey followed by the id.
class EntryKey {
 public:
  explicit EntryKey(const char* id) : id_(id) {
    const size_t base = wcslen(kUninstallKey), more = wcslen(id_.get());
    path_ = static_cast<wchar_t*>(malloc((base + more + 1) * sizeof(wchar_t)));
    if (!path_) return;
    wmemcpy(path_, kUninstallKey, base);
    wmemcpy(path_ + base, id_.get(), more + 1);
  }
  ~EntryKey() { free(path_); }
  EntryKey(const EntryKey&) = delete;
  EntryKey& operator=(const EntryKey&) = delete;
  const wchar_t* get() const { return path_; }

 private:
  WideText id_;
  wchar_t* path_ = nullptr;
};

HKEY Root(bool machine) { return machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// Room for an entry's InstallLocation and "\\uninstall.exe" after it.
constexpr DWORD kLocationRoom = 32768;
constexpr size_t kLocationName = sizeof kUninstallerName;

// The length of the InstallLocation of entry path in that list, copied into there
// (kLocationRoom + kLocationName units) with "\\uninstall.exe" after it, when that
// folder holds an uninstaller; 0 otherwise.
size_t InstalledAt(bool machine, const wchar_t* path, wchar_t* there) {
  DWORD bytes = kLocationRoom * sizeof(wchar_t);
  if (RegGetValueW(Root(machine), path, L"InstallLocation", RRF_RT_REG_SZ, nullptr, there, &bytes) != ERROR_SUCCESS) {
    return 0;
  }
  const size_t length = wcslen(there);
  there[length] = L'\\';
  for (size_t i = 0; i < kLocationName; ++i) there[length + 1 + i] = static_cast<wchar_t>(kUninstallerName[i]);
  return FileAttributes(there) != INVALID_FILE_ATTRIBUTES ? length : 0;
}

wchar_t* LocationRoom() { return static_cast<wchar_t*>(malloc((kLocationRoom + kLocationName) * sizeof(wchar_t))); }

bool SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

class Win32AppsEdge final : public AppsEdge {
 public:
  bool WriteEntry(bool machine, const AppsEntry& entry) override {
    const EntryKey path(entry.id);
    HKEY key;
    if (!path.get() || RegCreateKeyExW(Root(machine), path.get(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                       nullptr) != ERROR_SUCCESS) {
      return false;
    }
    // "PROGRAM" /S, and for the last value "PROGRAM" alone.
    AnsiString command("\"");
    command += entry.program;
    command += "\" /S";
    const struct {
      const wchar_t* name;
      const char* text;
    } texts[] = {{L"QuietUninstallString", command.c_str()}, {L"DisplayName", entry.name},
                 {L"DisplayVersion", entry.version},         {L"Publisher", entry.publisher},
                 {L"InstallLocation", entry.location},       {L"DisplayIcon", entry.program},
                 {L"UninstallString", command.c_str()}};
    bool written = !command.failed();
    for (const auto& value : texts) {
      if (&value == &texts[sizeof texts / sizeof *texts - 1]) command.Truncate(command.size() - 3);
      if (value.text) written = written && SetText(key, value.name, WideText(value.text).get());
    }
    const struct {
      const wchar_t* name;
      DWORD number;
    } numbers[] = {{L"EstimatedSize", entry.size_kib}, {L"NoModify", 1}, {L"NoRepair", 1}};
    for (const auto& value : numbers) {
      written = written && RegSetValueExW(key, value.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number),
                                          sizeof value.number) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (!written) RegDeleteKeyW(Root(machine), path.get());
    return written;
  }

  void RemoveEntry(bool machine, const char* id, const char* location) override {
    const EntryKey path(id);
    if (!path.get()) return;
    // An entry that a later install of the product in another folder took over stays
    // while that install's uninstaller is there to remove it.
    wchar_t* there = LocationRoom();
    const size_t length = there ? InstalledAt(machine, path.get(), there) : 0;
    const bool other = length > 0 && CompareStringOrdinal(there, static_cast<int>(length), WideText(location).get(),
                                                          -1, TRUE) != CSTR_EQUAL;
    free(there);
    if (!other) RegDeleteKeyW(Root(machine), path.get());
  }

  Error WriteUninstaller(const char* path, uint32_t program_size, const AnsiString& record) override {
    const size_t size = program_size + sizeof kRecordMagic + record.size() + kRecordFooterSize;
    // One byte more, zero, for the checksum's last word.
    unsigned char* bytes = static_cast<unsigned char*>(malloc(size + 1));
    if (!bytes) return OutOfMemoryError();
    bytes[size] = 0;
    FileEdge& files = PlatformFileEdge();
    FileHandle own = kNoFile, out = kNoFile;
    uint32_t got = 0;
    Error error = files.OpenRead(OwnPath.c_str(), &own);
    if (!error) error = files.Read(own, bytes, program_size, &got);
    if (own != kNoFile) (void)files.Close(own);
    if (!error && got != program_size) error = InOutError(kWinErrorIoDevice);
    if (!error) {
      // The headers lie in the file as they are mapped: the signature's entry is cleared
      // where it is in memory, as the signature stays behind with the archive.
      const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
      uint32_t headers = 0;  // the DOS header's field as it lies: the stub runs little-endian
      memcpy(&headers, base + pe::DosHeader::kNewHeaderOffset, sizeof headers);
      const size_t security = headers + kSecurityEntryOffset;
      memset(bytes + security, 0, pe::DataDirectory::kSize);
      unsigned char* at = bytes + program_size;
      memcpy(at, kRecordMagic, sizeof kRecordMagic);
      memcpy(at + sizeof kRecordMagic, record.data(), record.size());
      at += sizeof kRecordMagic + record.size();
      StoreU32(at, static_cast<uint32_t>(sizeof kRecordMagic + record.size()));
      memcpy(at + 4, kRecordFooterMagic, sizeof kRecordFooterMagic);
      // Its own PE checksum, as CheckSumMappedFile computes it over the whole file.
      const size_t field = headers + pe::kSignatureSize + pe::FileHeader::kSize + kCheckSumOffset;
      memset(bytes + field, 0, 4);
      uint32_t sum = 0;
      for (size_t i = 0; i < size; i += 2) {
        sum += bytes[i] | bytes[i + 1] << 8;
        sum = (sum & 0xFFFF) + (sum >> 16);
      }
      StoreU32(bytes + field, sum + static_cast<uint32_t>(size));
      // Made new, or over this product's earlier uninstaller, by the checks that
      // extraction makes: never through a link or another name of a file.
      error = files.CreateEntryFile(path, strlen(path) - sizeof kUninstallerName, kNoFile, &out);
    }
    uint32_t written = 0;
    if (!error) error = files.Write(out, bytes, static_cast<uint32_t>(size), &written);
    if (out != kNoFile) {
      const Error closed = files.Close(out);
      if (!error) error = closed;
    }
    free(bytes);
    return error;
  }
};

Win32AppsEdge g_apps;

// The folder of a path (UTF-8): up to its last "\".
AnsiString FolderOf(const AnsiString& path) {
  size_t end = path.size();
  while (end > 0 && path[end - 1] != '\\') --end;
  return AnsiString(path.data(), end > 0 ? end - 1 : 0);
}

// Starts the copy that deletes the uninstaller once this process has ended; it finds
// the uninstaller by the process handle it is given, whatever the path's length.
// Where it cannot be started, the uninstaller and its folder are deleted on the next
// start of Windows (which only an administrator may arrange).
void RemoveUninstallerLater(const wchar_t* own, const AnsiString& destination) {
  const WideText folder(destination.c_str());
  wchar_t temp[MAX_PATH], copy[MAX_PATH], line[2 * MAX_PATH];
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE held = INVALID_HANDLE_VALUE, self = nullptr;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (GetTempPathW(MAX_PATH, temp) && GetTempFileNameW(temp, L"vek", 0, copy)) {
    if (CopyFileW(own, copy, FALSE)) {
      held = CreateFileW(copy, GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherited, OPEN_EXISTING,
                         FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    }
    if (held == INVALID_HANDLE_VALUE) DeleteFileW(copy);
  }
  bool started = false;
  if (held != INVALID_HANDLE_VALUE && DuplicateHandle(kThisProcess, kThisProcess, kThisProcess, &self,
                                                      SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
    // Handles are 32-bit values, also in 64-bit processes.
    wsprintfW(line, L"\"%s\" /S /WAIT=%u", copy, static_cast<unsigned>(reinterpret_cast<uintptr_t>(self)));
    started = CreateProcessW(copy, line, nullptr, nullptr, TRUE, 0, nullptr, temp, &startup, &process);
    if (started) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
    CloseHandle(self);
  }
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);  // the copy holds it open, or it goes now
  if (!started) {
    MoveFileExW(own, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExW(folder.get(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
}

}  // namespace

int FinishUninstall(uintptr_t uninstaller, const AnsiString& record) {
  // The program of the process: an uninstall.exe of this very install, or nothing
  // is deleted (the switch is the uninstaller's own, never a way to delete a file).
  const HANDLE process = reinterpret_cast<HANDLE>(uninstaller);
  constexpr DWORD kRoom = 32768;
  wchar_t* image = static_cast<wchar_t*>(malloc(kRoom * sizeof(wchar_t)));
  DWORD length = kRoom;
  const AnsiString program = image && QueryFullProcessImageNameW(process, 0, image, &length)
                                 ? NarrowText(image, static_cast<int>(length), CP_UTF8)
                                 : AnsiString();
  free(image);
  const AnsiString destination = FolderOf(program);
  AnsiString theirs;
  FileEdge& files = PlatformFileEdge();
  // The same record: an uninstall.exe of this install (or a copy of it), which the
  // user may also delete by hand.
  if (!ReadInstallRecord(files, PlatformUninstallQueries(), program.c_str(), &theirs) ||
      theirs.size() != record.size() || memcmp(theirs.data(), record.data(), record.size()) != 0) {
    return kExitApplicationError;
  }
  WaitForSingleObject(process, kWaitMilliseconds);
  // The system may hold the file a moment longer than the process.
  for (int i = 0; i < kDeleteTries && files.RemoveFile(program.c_str()); ++i) {
    WaitForSingleObject(kThisProcess, kDeletePause);  // a pause, as Sleep: this process is running
  }
  (void)PlatformUninstallQueries().RemoveEmptyFolder(destination.c_str());
  return kExitOk;
}

AppsEdge& StubApps() { return g_apps; }

AnsiString InstalledFolder(const char* id, bool personal) {
  const EntryKey path(id);
  wchar_t* there = LocationRoom();
  AnsiString folder;
  for (int i = 0; i < 2 && folder.empty() && there && path.get(); ++i) {
    const size_t length = InstalledAt((i == 0) != personal, path.get(), there);
    if (length > 0) folder = NarrowText(there, static_cast<int>(length), CP_UTF8);
  }
  free(there);
  return folder;
}

int RunUninstaller(const StubSettings& settings, const Switches& switches, const AnsiString& text,
                   ShellLinkEdge& links) {
  InstallRecord record;
  if (!record.Parse(text.data(), text.size())) return kExitApplicationError;
  const AnsiString destination = FolderOf(ModuleFileNameUtf8());
  const WideText caption(settings.app_name);
  if (!switches.silent && MessageBoxW(nullptr, WideText(UninstallQuestion(settings.app_name).c_str()).get(),
                                      caption.get(), MB_YESNO | MB_ICONQUESTION) != IDYES) {
    return kExitUninstallNo;
  }
  // No folder of the install may be this process's current one, or it could not go.
  wchar_t system[MAX_PATH];
  if (GetSystemDirectoryW(system, MAX_PATH)) SetCurrentDirectoryW(system);
  // The file edge is told the destination, so that each file goes through the checked
  // walk as in extraction: one reached through a link or junction put in place of a
  // folder of the install is not removed, and counts as left.
  FileEdge& files = PlatformFileEdge();
  (void)files.MakeEntryFolder(destination.c_str(), destination.size(), destination.size());
  const UninstallOutcome outcome = Uninstall(files, PlatformUninstallQueries(), links, g_apps, record, destination);
  wchar_t* own = outcome.failed ? nullptr : ModuleFileNameAlloc();
  if (own) RemoveUninstallerLater(own, destination);
  free(own);
  if (!switches.silent) {
    MessageBoxW(nullptr, WideText(UninstallMessage(settings.app_name, destination, outcome).c_str()).get(),
                caption.get(), MB_OK | (outcome.ExitCode() == kExitOk ? MB_ICONINFORMATION : MB_ICONWARNING));
  }
  return outcome.ExitCode();
}

}  // namespace vek
