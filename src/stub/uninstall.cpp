#include "uninstall.h"

#include <stdlib.h>
#include <string.h>

#include "layout.h"
#include "rnvek100.h"
#include "text.h"
#include "veksfxu.h"
#include "winpath.h"

namespace vek {
namespace {

// The failure of an install whose entry could be written into neither list.
constexpr char kNoAppsEntry[] = "The program could not be registered in Apps & Features";
// What stands at the uninstaller's place in the destination is not this product's.
constexpr char kUninstallerInTheWay[] = "uninstall.exe in the folder is not this program's: it was left as it is";

void PutDecimal(AnsiString* out, uint64_t value) { *out += FixedText<kDecimalSize>().Decimal(value).c_str(); }

// Reads a decimal number up to the end of text; false when text is something else.
bool ParseDecimal(const char* text, uint64_t* value) {
  *value = 0;
  if (!*text) return false;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
    *value = *value * 10 + static_cast<uint64_t>(*text - '0');
  }
  return true;
}

// destination, the edge's separator and a record's path (after the "\" that begins
// it), its "\" made the edge's: one separator between them, as the checked walk of
// the file edge compares paths.
AnsiString Below(const AnsiString& destination, const char* path, char separator) {
  AnsiString full = destination;
  full += separator;
  if (*path == '\\') ++path;
  for (; *path; ++path) full += *path == '\\' ? separator : *path;
  return full;
}

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Lines by kind, then by name as Windows compares file names (for ASCII letters;
// other characters as they are).
int CompareLines(const void* a, const void* b) {
  const RecordLine& x = *static_cast<const RecordLine*>(a);
  const RecordLine& y = *static_cast<const RecordLine*>(b);
  if (x.kind != y.kind) return x.kind - y.kind;
  const char *p = x.text, *q = y.text;
  for (; FoldAscii(*p) == FoldAscii(*q); ++p, ++q) {
    if (!*p) return 0;
  }
  return static_cast<unsigned char>(FoldAscii(*p)) - static_cast<unsigned char>(FoldAscii(*q));
}

// Whether the record, its lines in CompareLines' order, holds the line of this kind
// and text: a binary search, so that comparing two records of n lines takes n log n.
bool Holds(const InstallRecord* record, char kind, const char* text) {
  const RecordLine wanted{kind, text, 0, 0};
  for (uint32_t low = 0, high = record ? record->count : 0; low < high;) {
    const uint32_t middle = low + (high - low) / 2;
    const int order = CompareLines(&wanted, &record->lines[middle]);
    if (order == 0) return true;
    if (order < 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return false;
}

// Whether a record's line may be acted on: a folder's or file's path below the
// destination as an archive's paths must be (names after the one "\" that begins it,
// "\" or "/" between them: no drive, no "..", no name Windows reads otherwise), a group
// or an item one name of the Start menu. Anyone who may write into the destination may
// plant a record there.
bool Acceptable(char kind, const char* text) {
  const bool path = kind == 'F' || kind == 'D';
  if (path && *text == '\\') ++text;
  const size_t length = strlen(text);
  return (path ? CheckWindowsNames(text, length, NameEncoding::kUtf8)
               : CheckWindowsName(text, length, NameEncoding::kUtf8)) == NameRule::kFine;
}

}  // namespace

bool SameAsWindowsNames(const char* a, const char* b) {
  for (; FoldAscii(*a) == FoldAscii(*b); ++a, ++b) {
    if (!*a) return true;
  }
  return false;
}

InstallRecord::~InstallRecord() {
  free(lines);
  free(text_);
}

bool InstallRecord::Parse(const char* text, size_t size) {
  text_ = static_cast<char*>(malloc(size + 1));
  if (!text_) return false;
  memcpy(text_, text, size);
  text_[size] = 0;
  uint32_t line_count = 1;
  for (size_t i = 0; i < size; ++i) line_count += text_[i] == '\n';
  lines = static_cast<RecordLine*>(malloc(line_count * sizeof *lines));
  if (!lines) return false;
  for (char* line = text_; *line;) {
    char* end = strchr(line, '\n');
    char* next = end ? end + 1 : line + strlen(line);
    if (end) *end = 0;
    char* fields[4] = {line};
    int field_count = 1;
    for (char* p = line; *p && field_count < 4; ++p) {
      if (*p == '\t') {
        *p = 0;
        fields[field_count++] = p + 1;
      }
    }
    const char* kind = fields[0];
    RecordLine entry{0, fields[field_count - 1], 0, 0};
    if (field_count == 2) {
      if (strcmp(kind, "id") == 0) id = entry.text;
      if (strcmp(kind, "group") == 0) {
        if (!Acceptable('G', entry.text)) return false;
        group = entry.text;
      }
      if (strcmp(kind, "machine") == 0) machine = strcmp(entry.text, "1") == 0;
      if (strcmp(kind, "item") == 0) entry.kind = 'I';
      if (strcmp(kind, "folder") == 0) entry.kind = 'D';
    } else if (field_count == 4 && strcmp(kind, "file") == 0 && ParseDecimal(fields[1], &entry.size) &&
               ParseDecimal(fields[2], &entry.time)) {
      entry.kind = 'F';
    }
    if (entry.kind && *entry.text) {
      if (!Acceptable(entry.kind, entry.text)) return false;
      lines[count++] = entry;
    }
    line = next;
  }
  return id != nullptr;
}

bool ReadInstallRecord(FileEdge& files, UninstallQueries& queries, const char* path, AnsiString* text) {
  uint64_t size = 0, time = 0;
  if (!queries.FileStamp(path, &size, &time) || size > kRecordLimit) return false;
  FileHandle file = kNoFile;
  if (files.OpenRead(path, &file)) return false;
  const uint32_t length = static_cast<uint32_t>(size);
  unsigned char* bytes = static_cast<unsigned char*>(malloc(length));
  uint32_t got = 0;
  bool read = bytes && length >= sizeof kRecordMagic + kRecordFooterSize && !files.Read(file, bytes, length, &got) &&
              got == length;
  (void)files.Close(file);
  const unsigned char* footer = read ? bytes + length - kRecordFooterSize : nullptr;
  const uint32_t record = read ? LoadU32(footer) : 0;
  read = read && memcmp(footer + 4, kRecordFooterMagic, sizeof kRecordFooterMagic) == 0 &&
         record >= sizeof kRecordMagic && record <= length - kRecordFooterSize &&
         memcmp(footer - record, kRecordMagic, sizeof kRecordMagic) == 0;
  if (read)
    *text =
        AnsiString(reinterpret_cast<const char*>(footer - record) + sizeof kRecordMagic, record - sizeof kRecordMagic);
  free(bytes);
  return read && !text->failed();
}

Error MakeInstallRecord(FileEdge& files, UninstallQueries& queries, ArchiveReader& reader,
                        const AnsiString& destination, const StubSettings& settings, AnsiString* record,
                        uint64_t* total) {
  AnsiString& r = *record;
  r = "id\t";
  r += settings.app_id;
  r += "\ngroup\t";
  r += settings.group;
  r += '\n';
  const int items = settings.items ? settings.item_count : 1;
  for (int i = 0; i < items; ++i) {
    r += "item\t";
    r += settings.items ? settings.items[i].name : strchr(kProgramItemSuffix, ',') + 1;
    r += '\n';
  }
  *total = 0;
  const int32_t count = reader.GetEntryCount();
  for (int32_t i = 1; i <= count; ++i) {
    const AnsiString path = reader.GetEntryPath(i);
    if (reader.GetEntryKind(i) == kEntryKindDirectory) {
      r += "folder\t";
    } else {
      uint64_t size = 0, time = 0;
      if (!queries.FileStamp(Below(destination, path.c_str(), files.Separator()).c_str(), &size, &time)) continue;
      *total += size;
      r += "file\t";
      PutDecimal(&r, size);
      r += '\t';
      PutDecimal(&r, time);
      r += '\t';
    }
    r += path;
    r += '\n';
  }
  return r.failed() ? OutOfMemoryError() : NoError();
}

uint32_t RemoveRecorded(FileEdge& files, UninstallQueries& queries, ShellLinkEdge& links, const InstallRecord& old,
                        const InstallRecord* kept, const AnsiString& destination) {
  const char separator = files.Separator();
  uint32_t failed = 0;
  for (uint32_t i = old.count; i-- > 0;) {
    const RecordLine& line = old.lines[i];
    if (line.kind != 'F' || Holds(kept, 'F', line.text)) continue;
    const AnsiString path = Below(destination, line.text, separator);
    uint64_t size = 0, time = 0;
    uint32_t attributes = 0;
    if (!queries.FileStamp(path.c_str(), &size, &time) || size != line.size || time != line.time) continue;
    if (files.GetAttributes(path.c_str(), &attributes) && (attributes & kAttrReadOnly)) {
      (void)files.SetAttributes(path.c_str(), attributes & ~kAttrReadOnly);
    }
    if (files.RemoveFile(path.c_str())) ++failed;
  }
  const bool same_group = kept && kept->group && old.group && strcmp(kept->group, old.group) == 0;
  for (uint32_t i = 0; old.group && i < old.count; ++i) {
    const RecordLine& line = old.lines[i];
    if (line.kind == 'I' && !(same_group && Holds(kept, 'I', line.text))) links.Remove(old.group, line.text, true);
  }
  if (old.group && !same_group) links.Remove(old.group, nullptr, true);
  for (uint32_t i = old.count; i-- > 0;) {
    const RecordLine& line = old.lines[i];
    if (line.kind == 'D' && !Holds(kept, 'D', line.text)) {
      (void)queries.RemoveEmptyFolder(Below(destination, line.text, separator).c_str());
    }
  }
  return failed;
}

Error RegisterUninstaller(FileEdge& files, UninstallQueries& queries, ShellLinkEdge& links, AppsEdge& apps,
                          ArchiveReader& reader, const AnsiString& destination, const StubSettings& settings,
                          uint32_t program_size) {
  AnsiString record;
  uint64_t total = 0;
  VEK_TRY(MakeInstallRecord(files, queries, reader, destination, settings, &record, &total));
  const AnsiString program = Below(destination, kUninstallerName, files.Separator());
  AnsiString old_text;
  InstallRecord old;
  const bool earlier = ReadInstallRecord(files, queries, program.c_str(), &old_text) &&
                       old.Parse(old_text.data(), old_text.size()) && strcmp(old.id, settings.app_id) == 0;

  const uint64_t kib = (total + 1023) / 1024;
  const AppsEntry entry{settings.app_id,
                        settings.app_name,
                        settings.version,
                        settings.publisher,
                        destination.c_str(),
                        program.c_str(),
                        kib > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(kib)};
  if (program.failed()) return OutOfMemoryError();
  uint32_t attributes = 0;
  if (!earlier && files.GetAttributes(program.c_str(), &attributes)) return GeneralError(kUninstallerInTheWay);
  // The uninstaller before its entry: no entry names one that could not be written, and
  // an install that fails there leaves the entry of the same product elsewhere as it was.
  // An installer with an administrator's rights registers for the machine, any other
  // for the user alone.
  const bool machine = !settings.personal;
  record += machine ? "machine\t1\n" : "machine\t0\n";
  VEK_TRY(apps.WriteUninstaller(program.c_str(), program_size, record));
  if (!apps.WriteEntry(machine, entry)) return GeneralError(kNoAppsEntry);
  if (earlier) {
    InstallRecord now;
    if (!now.Parse(record.data(), record.size())) return OutOfMemoryError();
    qsort(now.lines, now.count, sizeof *now.lines, CompareLines);
    (void)RemoveRecorded(files, queries, links, old, &now, destination);
    if (old.machine != machine) apps.RemoveEntry(old.machine, old.id, destination.c_str());
  }
  return NoError();
}

UninstallOutcome Uninstall(FileEdge& files, UninstallQueries& queries, ShellLinkEdge& links, AppsEdge& apps,
                           const InstallRecord& record, const AnsiString& destination) {
  UninstallOutcome outcome;
  outcome.failed = RemoveRecorded(files, queries, links, record, nullptr, destination);
  // While files of the install are left, its entry and uninstaller stay to be run again.
  if (!outcome.failed) apps.RemoveEntry(record.machine, record.id, destination.c_str());
  // What is still in the install's folders (never below them: a destination that is
  // a drive's root is not searched whole), but for those folders themselves, the
  // uninstaller, which goes last, and the files that could not be removed.
  uint32_t there = queries.CountEntries(destination.c_str());
  if (there > 0) --there;  // the uninstaller
  uint32_t attributes = 0;
  for (uint32_t i = 0; i < record.count; ++i) {
    if (record.lines[i].kind != 'D') continue;
    const AnsiString folder = Below(destination, record.lines[i].text, files.Separator());
    // A folder still there is counted in its own folder's entries too.
    if (files.GetAttributes(folder.c_str(), &attributes)) there += queries.CountEntries(folder.c_str()) - 1;
  }
  outcome.left = there > outcome.failed ? there - outcome.failed : 0;
  return outcome;
}

AnsiString UninstallQuestion(const char* name) {
  AnsiString text("Remove ");
  text += name;
  text += " and its files?";
  return text;
}

AnsiString UninstallMessage(const char* name, const AnsiString& destination, const UninstallOutcome& outcome) {
  AnsiString text(name);
  if (outcome.failed) {
    text += " was not removed completely. Files that could not be removed: ";
    PutDecimal(&text, outcome.failed);
    text += ". Close the programs that use them and run the uninstaller again.";
  } else {
    text += " was removed.";
  }
  if (outcome.left) {
    text += "\n\nFiles and folders added or changed since the installation (";
    PutDecimal(&text, outcome.left);
    text += ") were left in\n";
    text += destination;
  }
  return text;
}

}  // namespace vek
