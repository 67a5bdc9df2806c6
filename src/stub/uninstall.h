// The uninstaller: what a completed install of a configuration with "uninstall = yes"
// writes beside its files, and what removing them again takes.
//
// The install writes uninstall.exe into the destination: the installer up to its
// archive (the stub's program and its blocks; the stub's constants still place the
// configuration, and the archive where the record begins), followed by the install's record - every
// folder and file it wrote (a file with its size and last-write time as they were
// once written), the Start-menu group and items, and where its Apps & Features entry
// is. The record is UTF-8 text after kRecordMagic, a line per thing, fields separated
// by tabs (no name holds a tab or a line break):
//
//   id <tab> ID                  machine <tab> 0|1
//   group <tab> GROUP            item <tab> NAME
//   folder <tab> PATH            file <tab> SIZE <tab> TIME <tab> PATH
//
// PATHs are below the destination, "\" separated, in table order; lines of other
// kinds are ignored. The file ends with a footer: the record's size with its magic
// (4 bytes, little-endian) and kRecordFooterMagic.
//
// Started, uninstall.exe removes what the record holds and is unchanged since, and
// leaves everything else; an install of the same product into the same folder removes
// what the old record holds and the new one does not.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ansistring.h"
#include "error.h"
#include "exitcodes.h"
#include "fileedge.h"
#include "shelllink.h"

namespace vek {

class ArchiveReader;
struct StubSettings;

inline constexpr char kRecordMagic[8] = {'V', 'E', 'K', '-', 'U', 'N', 'I', '1'};
inline constexpr char kRecordFooterMagic[4] = {'V', 'E', 'K', 'U'};
inline constexpr size_t kRecordFooterSize = 8;
// The largest uninstaller read back (a tree of 65,535 entries with long names fits).
inline constexpr uint32_t kRecordLimit = 64u << 20;
inline constexpr char kUninstallerName[] = "uninstall.exe";

// The values of an Apps & Features entry (UTF-8).
struct AppsEntry {
  const char* id;
  const char* name;
  const char* version;    // nullptr: none
  const char* publisher;  // nullptr: none
  const char* location;   // the destination
  const char* program;    // the uninstaller's full path
  uint32_t size_kib;      // what the install wrote
};

// Apps & Features and the uninstaller's program: the registry and the stub's own image
// on Windows; tests supply their own.
class AppsEdge {
 public:
  virtual ~AppsEdge() = default;
  // Writes the entry into the machine's list or the user's, replacing one of its id;
  // false when it could not be written.
  virtual bool WriteEntry(bool machine, const AppsEntry& entry) = 0;
  // Removes the entry id from that list, unless it names another folder (location is
  // this install's) that still holds an uninstaller.
  virtual void RemoveEntry(bool machine, const char* id, const char* location) = 0;
  // Writes the uninstaller at path: the first program_size bytes of this executable
  // (the stub and its blocks, up to the archive) without a signature, then
  // kRecordMagic, the record and the footer.
  virtual Error WriteUninstaller(const char* path, uint32_t program_size, const AnsiString& record) = 0;
};

struct RecordLine {
  char kind;         // 'D' folder, 'F' file, 'I' item
  const char* text;  // the path, or the item's name
  uint64_t size, time;
};

// A record read back.
class InstallRecord {
 public:
  InstallRecord() = default;
  ~InstallRecord();
  InstallRecord(const InstallRecord&) = delete;
  InstallRecord& operator=(const InstallRecord&) = delete;
  // Parses the record's text (without its magic); false when memory runs out, the id
  // is missing, or a path leaves the destination or a group or item name the Start
  // menu's folder (by the archive's and the configuration's name rules): such a
  // record is no install's, and nothing of it is removed.
  bool Parse(const char* text, size_t size);
  const char* id = nullptr;
  const char* group = nullptr;  // nullptr: none
  bool machine = false;
  RecordLine* lines = nullptr;
  uint32_t count = 0;

 private:
  char* text_ = nullptr;
};

// Reads the record at the end of the uninstaller at path into *text (without its
// magic); false when the file is no uninstaller of ours or cannot be read.
bool ReadInstallRecord(FileEdge& files, UninstallQueries& queries, const char* path, AnsiString* text);

// The record of the install of reader's entries below destination that just
// completed: the settings' id, group and items, every folder, and every file with
// its stamp as it is now. *total receives the files' bytes.
Error MakeInstallRecord(FileEdge& files, UninstallQueries& queries, ArchiveReader& reader,
                        const AnsiString& destination, const StubSettings& settings, AnsiString* record,
                        uint64_t* total);

// Removes below destination what `old` records and `kept` does not hold (kept
// nullptr: all of it; kept's lines sorted by kind, then by name as Windows compares
// them): each file unchanged since (same size and time; a read-only one too), the
// items' shortcuts, the group's folder when empty, and the folders left empty,
// deepest first. Changed files stay. Returns how many files could not be removed.
uint32_t RemoveRecorded(FileEdge& files, UninstallQueries& queries, ShellLinkEdge& links, const InstallRecord& old,
                        const InstallRecord* kept, const AnsiString& destination);

// After a completed install of reader's entries into destination: writes the
// uninstaller with the install's record (never over something of that name that is
// not this product's uninstaller), registers it in Apps & Features (in the machine's
// list unless the settings' folder is the user's own or that list cannot be written,
// then in the user's; the entry goes again when the uninstaller cannot be written),
// and removes what an earlier install of the same product into this folder recorded
// and this one did not write.
Error RegisterUninstaller(FileEdge& files, UninstallQueries& queries, ShellLinkEdge& links, AppsEdge& apps,
                          ArchiveReader& reader, const AnsiString& destination, const StubSettings& settings,
                          uint32_t program_size);

// What an uninstall left.
struct UninstallOutcome {
  uint32_t left = 0;    // files and folders in the install's folders not its own, or changed since
  uint32_t failed = 0;  // files of the install that could not be removed
  int ExitCode() const { return failed ? kExitRemoveFailed : left ? kExitLeftFiles : 0; }
};

// Removes the install that the record describes, and its entry when every file of it
// could be removed; the uninstaller at destination\uninstall.exe is left for its
// caller, which removes it in that case only.
UninstallOutcome Uninstall(FileEdge& files, UninstallQueries& queries, ShellLinkEdge& links, AppsEdge& apps,
                           const InstallRecord& record, const AnsiString& destination);

// Whether two paths (UTF-8) are the same as Windows compares names: ASCII letters in
// either case, other characters as they are.
bool SameAsWindowsNames(const char* a, const char* b);

// The uninstaller's question and its closing message, in UTF-8.
AnsiString UninstallQuestion(const char* name);
AnsiString UninstallMessage(const char* name, const AnsiString& destination, const UninstallOutcome& outcome);

}  // namespace vek
