#include "extract.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "cp1250.h"
#include "errorwords.h"
#include "inspect.h"
#include "messagebox.h"
#include "rnvek100.h"
#include "terminal.h"

namespace vek::tools {
namespace {

// How an entry is named in messages: "entry 12, \dir\file".
std::string EntryLabel(uint32_t id) { return "entry " + std::to_string(id) + ", " + ShownPath(static_cast<int32_t>(id)); }

// Boxes become lines on standard error; an error box makes the run fail.
class ConsoleMessages final : public MessageBoxPresenter {
 public:
  void ShowMessageBox(const char* text, MessageKind kind) override {
    if (kind == MessageKind::kError) ++errors;
    fprintf(stderr, "\nvek: %s: %s (%s)\n", kind == MessageKind::kError ? "error" : "note",
            PrintablePath(text, strlen(text)).c_str(), EntryLabel(current).c_str());
  }
  int errors = 0;
  uint32_t current = 0;  // the entry being extracted
};

// The text of the default error report, as the stub shows it.
std::string ReportText(const Error& error) { return ReportInWords(error); }

}  // namespace

bool DestinationFromArgument(const std::string& folder, std::string* destination) {
  std::string converted;
#ifdef _WIN32
  converted = folder;  // already in the ANSI code page
#else
  std::vector<char> buffer(folder.size() + 1);
  if (Utf8ToCp1250(folder.data(), folder.size(), buffer.data(), buffer.size()) == static_cast<size_t>(-1)) {
    return false;
  }
  converted.assign(buffer.data());
#endif
  for (char& c : converted) {
    if (c == '/') c = '\\';
  }
  while (converted.size() > 1 && converted.back() == '\\') converted.pop_back();
  bool absolute = !converted.empty() && (converted[0] == '\\' || (converted.size() > 1 && converted[1] == ':'));
  if (!absolute && converted != ".") converted = ".\\" + converted;
  *destination = converted;
  return true;
}

int ExtractCommand(const std::string& path, const std::string& folder, bool progress) {
  std::string destination_text;
  if (!DestinationFromArgument(folder, &destination_text)) {
    fprintf(stderr, "vek: %s: the folder name cannot be written in Windows-1250\n", folder.c_str());
    return 1;
  }
  OpenedArchive archive;
  std::string error;
  if (!OpenArchive(path, &archive, &error)) {
    fprintf(stderr, "vek: %s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  NoteHowFound(archive, stderr);
  FileEdge& edge = *archive.file.edge;
  AnsiString destination(destination_text.c_str());
  Error e = ForceDirectoryChain(destination, edge);
  if (e) {
    fprintf(stderr, "vek: %s: %s\n", folder.c_str(), ReportText(e).c_str());
    CloseArchive(&archive);
    return 1;
  }
  ConsoleMessages messages;
  MessageBoxPresenter* previous = SetMessageBoxPresenter(&messages);
  ProgressLine line("extracting", progress);
  int status = 0;
  for (uint32_t id = 1; id <= archive.count; ++id) {
    messages.current = id;
    e = ExtractEntry(archive.file, static_cast<int32_t>(id), destination, archive.start.offset, archive.count);
    if (e) {
      line.Finish();
      fprintf(stderr, "vek: %s (%s)\n", ReportText(e).c_str(), EntryLabel(id).c_str());
      status = 1;
      break;
    }
    line.Update(id, archive.count);
  }
  line.Finish();
  SetMessageBoxPresenter(previous);
  CloseArchive(&archive);
  if (status == 0 && messages.errors > 0) status = 1;
  return status;
}

}  // namespace vek::tools
