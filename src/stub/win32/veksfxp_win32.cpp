// The Windows stub's program: its constants, its host and what WinMain does before
// RunProgram (the switches, the configuration, the destination given with /D=).
#include <windows.h>
#include <shlobj.h>

#include <stddef.h>
#include <stdlib.h>
#include <new>

#include "ddeman.h"
#include "layout.h"
#include "stubconfig.h"
#include "text.h"
#include "uninstall.h"
#include "veksfxp.h"
#include "win32ui.h"

// The stub's constants (layout.h), which vekpack writes into their own section: first
// ArchiveStartOffset, where the archive begins in this executable, then the offsets of
// the configuration block and of the extension block (0: none), which lie between the
// stub and the archive, then what this stub can extract, which vekpack reads. They are
// read through volatile accesses so that the compiler never takes the zeros written here.
extern "C" {
struct VekStubConstants {
  uint32_t archive_start_offset;
  uint32_t config_offset;
  uint32_t extension_offset;
  uint32_t features_magic;
  uint32_t features;
  uint32_t self_crc;
};
__attribute__((section(VEK_STUB_SECTION), used)) volatile VekStubConstants VekConstants = {
    0, 0, 0, vek::kStubFeaturesMagic, vek::kStubFeatureSolidLzma | vek::kStubFeatureSelfCheck, 0};
}
static_assert(offsetof(VekStubConstants, archive_start_offset) == vek::StubConstants::kStartOffsetOffset &&
                  offsetof(VekStubConstants, config_offset) == vek::StubConstants::kConfigOffsetOffset &&
                  offsetof(VekStubConstants, extension_offset) == vek::StubConstants::kExtensionOffsetOffset &&
                  offsetof(VekStubConstants, features_magic) == vek::StubConstants::kFeaturesMagicOffset &&
                  offsetof(VekStubConstants, features) == vek::StubConstants::kFeaturesOffset &&
                  offsetof(VekStubConstants, self_crc) == vek::StubConstants::kSelfCrcOffset &&
                  sizeof(VekStubConstants) == vek::StubConstants::kSize,
              "the constants as vekpack writes them");

namespace vek {
namespace {

uint32_t ArchiveStartOffset() { return VekConstants.archive_start_offset; }

}  // namespace

ExtensionPlace StubExtension() {
  // The stub's image ends before either block: neither lies inside it.
  ExtensionPlace place = StubExtensionPlace(VekConstants.archive_start_offset, VekConstants.config_offset,
                                            VekConstants.extension_offset, 1);
  // A checksum of 0: a vekpack that writes none (one before this stub) packed it.
  place.self_check = place.present() && VekConstants.self_crc != 0;
  place.self_crc = VekConstants.self_crc;
  // What the checksum leaves out, from the headers as they are mapped (the same bytes
  // as in the file) and the constants' section as the headers place it.
  const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
  const auto* headers =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  SelfCrcExclusions& excluded = place.self_excluded;
  excluded.offset[0] =
      static_cast<uint32_t>(reinterpret_cast<const unsigned char*>(&headers->OptionalHeader.CheckSum) - base);
  excluded.size[0] = sizeof headers->OptionalHeader.CheckSum;
  excluded.offset[1] = static_cast<uint32_t>(
      reinterpret_cast<const unsigned char*>(&headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]) -
      base);
  excluded.size[1] = sizeof(IMAGE_DATA_DIRECTORY);
  const uint32_t field =
      static_cast<uint32_t>(reinterpret_cast<const volatile unsigned char*>(&VekConstants.self_crc) - base);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
  for (int i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
    if (field - section->VirtualAddress < section->SizeOfRawData) {
      excluded.offset[2] = section->PointerToRawData + (field - section->VirtualAddress);
      break;
    }
  }
  excluded.size[2] = sizeof VekConstants.self_crc;
  return place;
}

namespace {

class Win32Host final : public ApplicationHost {
 public:
  Win32Host(int show_command, const StubSettings& settings, const wchar_t* destination, ShellLinkEdge& links)
      : show_command_(show_command), settings_(settings), destination_(destination), links_(links) {}

  Error CreateMainWindow(TComponent* application) override {
    return CreateForm1(application, ArchiveStartOffset(), settings_, destination_, links_);
  }
  ShellLinkEdge& ShellLinks() override { return links_; }
  void Run() override { RunForm1(show_command_); }
  void ShowSystemMessage(const char* text, const char* caption, bool stop_icon) override {
    MessageBoxW(nullptr, WideText(text).get(), WideText(caption).get(), MB_OK | (stop_icon ? MB_ICONSTOP : 0));
  }
  const char* ModuleName() override {
    int length = 0;
    wchar_t* path = ModuleFileNameAlloc(&length);
    const wchar_t* name =
        path ? reinterpret_cast<const wchar_t*>(NameFromPath(reinterpret_cast<const uint16_t*>(path))) : nullptr;
    // In the texts' encoding, as the box shows it.
    name_ =
        path ? NarrowText(name, static_cast<int>(path + length - name), TextsUtf8() ? CP_UTF8 : 1250) : AnsiString();
    free(path);
    return name_.c_str();
  }
  uint32_t RelativeAddress(const void* code) override {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(code) -
                                 reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)));
  }
  uint32_t ArchiveStart() override { return ArchiveStartOffset(); }
  ExtensionPlace Extension() override { return StubExtension(); }
  AppsEdge* Apps() override { return &StubApps(); }
  AnsiString ModulePath() override { return ModuleFileNameUtf8(); }
  AnsiString AnsiCodePageText(const AnsiString& utf8) override { return vek::AnsiCodePageText(utf8); }
  void ShowSwitches(const char* text, const char* caption) override {
    MessageBoxW(nullptr, WideText(text).get(), WideText(caption).get(), MB_OK | MB_ICONINFORMATION);
  }

 private:
  int show_command_;
  const StubSettings& settings_;
  const wchar_t* destination_;
  ShellLinkEdge& links_;
  AnsiString name_;  // ModuleName's
};

DialogMessageBoxes g_message_boxes;
AnsiString g_private;        // the new folder of {temp}; empty: none
bool g_uninstaller = false;  // this is uninstall.exe
// Made in room of its own when the configuration is read: as a variable with its
// defaults it would be some 900 bytes of initialised data in the file.
alignas(ConfiguredSettings) unsigned char g_configured_room[sizeof(ConfiguredSettings)];
ConfiguredSettings& Configured() { return *reinterpret_cast<ConfiguredSettings*>(g_configured_room); }
StubConfig g_config;

// Reads the configuration block into a zero-terminated buffer of its own and parses
// it into Configured(), with the texts for `language`. False when the executable's
// block is damaged.
bool LoadConfiguration(uint32_t offset, const char* language) {
  const uint32_t end = ArchiveStartOffset();
  if (end <= offset || end - offset < kConfigMagicSize || end - offset > kConfigMagicSize + kConfigTextLimit) {
    return false;
  }
  const DWORD size = end - offset;
  // kept for the life of the process; the archive's first bytes are read into it too
  char* block = static_cast<char*>(malloc(size + sizeof kRecordMagic));
  wchar_t* path = ModuleFileNameAlloc();
  const HANDLE file = block && path
                          ? CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                          : INVALID_HANDLE_VALUE;
  free(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  const bool read = SetFilePointerEx(file, LARGE_INTEGER{.QuadPart = offset}, nullptr, FILE_BEGIN) &&
                    ReadFile(file, block, size + sizeof kRecordMagic, &got, nullptr) && got >= size;
  CloseHandle(file);
  if (!read || memcmp(block, kConfigMagic, kConfigMagicSize) != 0) return false;
  // uninstall.exe: the install's record where an installer's archive begins.
  g_uninstaller = got == size + sizeof kRecordMagic && memcmp(block + size, kRecordMagic, sizeof kRecordMagic) == 0;
  block[size] = 0;
  return ParseStubConfig(block + kConfigMagicSize, size - kConfigMagicSize, &g_config, language).ok() &&
         (new (g_configured_room) ConfiguredSettings)->Init(g_config);
}

// The log file of /LOG=FILE; written through, line by line, so that what a run did
// is there however it ends.
class FileLog final : public RunLog {
 public:
  void Line(const char* const* parts, int count) override {
    DWORD written = 0;
    for (int i = 0; i < count; ++i) WriteFile(file, parts[i], static_cast<DWORD>(strlen(parts[i])), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
  }
  HANDLE file = INVALID_HANDLE_VALUE;
};
FileLog g_log;

// Opens the log named by /LOG= (replacing a file of that name) and makes it the run's
// log; one that cannot be made is reported (unless silent) and the install goes on
// without it.
void OpenLog(const Switches& switches, bool silent) {
  wchar_t* path = static_cast<wchar_t*>(malloc((switches.log_length + 1) * sizeof(wchar_t)));
  if (!path) return;
  memcpy(path, switches.log, switches.log_length * sizeof(wchar_t));
  path[switches.log_length] = 0;
  g_log.file =
      CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (g_log.file != INVALID_HANDLE_VALUE) {
    InstallLog = &g_log;
  } else if (!silent) {
    MessageBoxW(nullptr, path, L"The log file cannot be written", MB_OK | MB_ICONWARNING);
  }
  free(path);
}

// Whether this process has an administrator's full rights: UAC's elevated token, or
// an administrator's where UAC is off.
bool Elevated() {
  HANDLE token;
  TOKEN_ELEVATION elevation = {};
  DWORD size;
  if (!OpenProcessToken(reinterpret_cast<HANDLE>(-1), TOKEN_QUERY, &token)) return false;  // this process
  const bool known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return known && elevation.TokenIsElevated;
}

// Where a known folder is, as the shell says (made when missing: a new profile's
// Documents, say).
AnsiString KnownFolderPath(KnownFolder folder) {
  if (folder == KnownFolder::kTemp) return g_private = PrivateTempFolder();
  static constexpr int kFolders[] = {CSIDL_LOCAL_APPDATA, CSIDL_PROGRAM_FILES, CSIDL_PERSONAL, CSIDL_DESKTOPDIRECTORY};
  wchar_t path[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, kFolders[static_cast<int>(folder)] | CSIDL_FLAG_CREATE, nullptr,
                              SHGFP_TYPE_CURRENT, path))) {
    return AnsiString();
  }
  return NarrowText(path, static_cast<int>(wcslen(path)), CP_UTF8);
}

}  // namespace

int StubMain(int show_command, DdemlEdge& ddeml, ShellLinkEdge& links) {
  SetMessageBoxPresenter(&g_message_boxes);
  const Switches switches = ParseSwitches(reinterpret_cast<const uint16_t*>(GetCommandLineW()));
  StartOptions options;
  options.silent = switches.silent;
  options.help = switches.help;

  const uint32_t config_offset = VekConstants.config_offset;
  if (config_offset != 0) {
    // The user's interface language as a locale name ("de-AT"), unless /LANG= gives one.
    wchar_t system[LOCALE_NAME_MAX_LENGTH];
    char language[kLanguageSize];
    const bool named = LCIDToLocaleName(GetUserDefaultUILanguage(), system, LOCALE_NAME_MAX_LENGTH, 0) > 0;
    RunLanguage(switches, named ? reinterpret_cast<const uint16_t*>(system) : nullptr, language);
    if (!LoadConfiguration(config_offset, language)) {
      if (!options.silent) {
        MessageBoxW(nullptr, L"The installer's configuration is damaged.", ApplicationTitleText(), MB_OK | MB_ICONSTOP);
      }
      return kExitApplicationError;
    }
    if (!Configured().ResolveFolder(KnownFolderPath, Elevated())) return kExitApplicationError;
    options.settings = &Configured().settings();
    // uninstall.exe: the program with its configuration and the install's record.
    AnsiString record;
    if (g_uninstaller && options.settings->app_name &&
        ReadInstallRecord(PlatformFileEdge(), PlatformUninstallQueries(), ModuleFileNameUtf8().c_str(), &record)) {
      if (switches.wait) return FinishUninstall(switches.wait, record);
      SetTextsUtf8(true);
      return RunUninstaller(*options.settings, switches, record, links);
    }
    // An update proposes the folder of the version it replaces, unless /D= names one.
    if (options.settings->app_name) {
      const AnsiString installed = InstalledFolder(options.settings->app_id, options.settings->personal);
      if (!installed.empty()) Configured().SetInstalled(installed, !switches.has_destination);
    }
  }
  SetTextsUtf8(options.settings->utf8);

  wchar_t* destination = nullptr;
  if (switches.has_destination && !options.settings->temp) {  // {temp}: always a new folder
    destination = static_cast<wchar_t*>(malloc((switches.destination_length + 1) * sizeof(wchar_t)));
    if (!destination) return kExitApplicationError;
    memcpy(destination, switches.destination, switches.destination_length * sizeof(wchar_t));
    destination[switches.destination_length] = 0;
    options.has_destination = true;
    options.destination = NarrowText(destination, static_cast<int>(switches.destination_length), CP_UTF8);
  }

  if (switches.log) OpenLog(switches, options.silent);
  Win32Host host(show_command, *options.settings, destination, links);
  int code = RunProgram(host, ddeml, options);
  if (!RunFolder.empty()) code = RunInstalled(*options.settings, RunFolder, switches, options.silent);
  if (!g_private.empty()) RemoveFolderTree(g_private);
  if (InstallLog) {
    FixedText<kDecimalSize> number;
    const char* const line[] = {"exit code ", number.Decimal(static_cast<unsigned>(code)).c_str()};
    InstallLog->Line(line, 2);
  }
  return code;
}

}  // namespace vek
