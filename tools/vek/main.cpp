// vek: lists, tests and extracts VEK archives and self-extracting executables.
#include <stdio.h>
#include <string.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "extract.h"
#include "helptext.h"
#include "list.h"
#include "open.h"
#include "toolhost.h"

namespace {

using vek::tools::kExitFailure;
using vek::tools::kExitProblems;
using vek::tools::kExitSuccess;

const char kUsage[] =
    "Usage: vek list FILE\n"
    "  or:  vek test [--quick] FILE\n"
    "  or:  vek extract FILE [NAME...] [-C FOLDER]\n"
    "\n"
    "FILE is a VEK archive or a self-extracting executable that carries one:\n"
    "the archive is where the executable's stub finds it. In other files it is\n"
    "searched for by its signature, and vek says so.\n"
    "\n"
    "  list      show every entry: identifier, kind, attributes (D directory,\n"
    "            R read-only, H hidden, S system, A archive), modification time,\n"
    "            size and path; in a compressed archive also each file's\n"
    "            method (stored, lzma in a solid block, deflate) and the bytes\n"
    "            it takes stored, and the blocks\n"
    "  test      check the archive's structure: identifiers 1..N in order, parents\n"
    "            that are earlier directories, file data inside the file and not\n"
    "            overlapping, known kinds, safe names, no two entries on one\n"
    "            path (nor on paths that differ only in letter case); then,\n"
    "            when the archive carries checksums, read every file's data and\n"
    "            compare it, decoding each block and each deflated file to its\n"
    "            exact size (not with --quick); for a stub that checks its own\n"
    "            bytes, compare their checksum (with --quick too); one line per\n"
    "            problem, the first ten of each kind, then how many more\n"
    "  extract   write every directory and file below FOLDER (created when\n"
    "            missing; the current folder without -C), with the stored\n"
    "            attributes and modification times; an entry whose name could\n"
    "            lead outside FOLDER stops extraction with \"Invalid filename.\"\n"
    "            With checksums, each file is checked as it is written; a damaged\n"
    "            one is removed again and stops extraction (one that would\n"
    "            replace an existing file is written beside it and checked\n"
    "            first: the existing file stays). With NAMEs (paths in\n"
    "            the archive such as docs/index.htm), only those and what lies\n"
    "            below them, decoding only the blocks that hold them\n"
    "\n"
    "Options:\n"
    "  -C, --directory FOLDER   extract below FOLDER\n"
    "  -q, --quiet              no progress display\n"
    "      --quick              test: the structure only, no file data read\n"
    "  -h, --help               show this help and exit\n"
    "  -V, --version            show the version and exit\n"
    "\n";

std::string UsageText() { return kUsage + vek::tools::ExitCodesText("Exit status:", vek::tools::kVekExitCodes, "; "); }

int Usage(const char* problem) {
  fprintf(stderr, "vek: %s\nTry 'vek --help' for more information.\n", problem);
  return kExitProblems;
}

int List(const std::string& path) {
  vek::tools::OpenedArchive archive;
  std::string error;
  if (!vek::tools::OpenArchive(path, &archive, &error)) {
    fprintf(stderr, "vek: %s: %s\n", path.c_str(), error.c_str());
    return kExitFailure;
  }
  vek::tools::NoteHowFound(archive, stderr);
  vek::tools::ListArchive(archive, stdout);
  return kExitSuccess;
}

int Test(const std::string& path, bool quick) {
  vek::tools::OpenedArchive archive;
  std::string error;
  if (!vek::tools::OpenArchive(path, &archive, &error)) {
    printf("%s: %s\n", path.c_str(), error.c_str());
    return kExitProblems;
  }
  vek::tools::NoteHowFound(archive, stdout);
  std::vector<vek::tools::Problem> problems;
  vek::tools::CheckStubBytes(archive, &problems);
  for (vek::tools::Problem& p : vek::tools::CheckArchive(archive)) problems.push_back(std::move(p));
  if (!quick) vek::tools::CheckFileData(archive, &problems);
  const unsigned count = archive.reader.GetEntryCount();
  vek::tools::CloseArchive(&archive);
  for (const std::string& line : vek::tools::SummariseProblems(problems)) {
    printf("%s: %s\n", path.c_str(), line.c_str());
  }
  if (!problems.empty()) {
    printf("%s: %zu problem%s\n", path.c_str(), problems.size(), problems.size() == 1 ? "" : "s");
    return kExitProblems;
  }
  printf("%s: OK, %u entries\n", path.c_str(), count);
  return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
  // The reader's table, the copy room and the read-ahead buffers come from the heap and
  // stay there when freed: glibc maps blocks of 128 KiB and more afresh and unmaps them
  // again, which on a small tree costs a share of the run (bench/RESULTS.md).
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
  // UTF-8 on every platform (on Windows from the wide command line).
  const std::vector<std::string> argument = vek::ProgramArguments(argc, argv);
  const size_t count = argument.size();
  std::vector<std::string> args;
  std::string folder;
  bool have_folder = false;
  bool quiet = false;
  bool quick = false;
  for (size_t i = 1; i < count; ++i) {
    const std::string& arg = argument[i];
    if (arg == "-h" || arg == "--help") {
      fputs(UsageText().c_str(), stdout);
      return kExitSuccess;
    }
    if (arg == "-V" || arg == "--version") {
      printf("vek %s\n", VEK_VERSION);
      return kExitSuccess;
    }
    if (arg == "-q" || arg == "--quiet") {
      quiet = true;
    } else if (arg == "--quick") {
      quick = true;
    } else if (arg == "-C" || arg == "--directory") {
      if (++i >= count) return Usage("-C needs a folder");
      folder = argument[i];
      have_folder = true;
    } else if (arg.rfind("--directory=", 0) == 0) {
      folder = arg.substr(12);
      have_folder = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else {
      args.push_back(arg);
    }
  }
  if (args.empty()) return Usage("no command given");
  const std::string& command = args[0];
  const bool extract = command == "extract" || command == "x";
  if (args.size() < 2 || (args.size() > 2 && !extract)) return Usage("need a command and one FILE");
  if (have_folder && command != "extract") return Usage("-C goes with extract only");
  if (command == "list" || command == "l") return List(args[1]);
  if (quick && command != "test" && command != "t") return Usage("--quick goes with test only");
  if (command == "test" || command == "t") return Test(args[1], quick);
  if (extract) {
    return vek::tools::ExtractCommand(args[1], have_folder ? folder : std::string("."), !quiet,
                                      std::vector<std::string>(args.begin() + 2, args.end()));
  }
  return Usage(("unknown command " + command).c_str());
}
