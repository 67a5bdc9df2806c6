// vekpack: packs a folder into a VEK archive or a self-extracting executable.
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <string>

#include "terminal.h"
#include "vekbuild.h"

namespace {

const char kUsage[] =
    "Usage: vekpack [OPTIONS] SOURCE-FOLDER OUTPUT\n"
    "\n"
    "Packs every file and folder below SOURCE-FOLDER, uncompressed, into the VEK\n"
    "archive OUTPUT. With --stub, OUTPUT is a self-extracting executable: a copy of\n"
    "the stub with the archive appended and its archive start offset set.\n"
    "\n"
    "Options:\n"
    "  -s, --stub FILE   prepend this extractor stub (vekstub.exe)\n"
    "  -c, --config FILE set the stub's texts, folder and Start-menu items (below)\n"
    "  -q, --quiet       no progress and no summary\n"
    "  -h, --help        show this help and exit\n"
    "  -V, --version     show the version and exit\n"
    "\n"
    "Entries are stored depth first: at each level the files, then each folder\n"
    "followed by its contents, names in byte order. Files get the archive attribute\n"
    "(and read-only when they have no write permission) and their modification time\n"
    "in local time, to 2 seconds; times outside 1980-2107 are clamped with a warning.\n"
    "Names are converted to Windows-1250.\n"
    "\n"
    "Symbolic links are followed: a link to a file is stored as that file, a link to\n"
    "a folder as that folder. A broken link, or one that leads back to a folder that\n"
    "contains it, is refused. Sockets, pipes and devices are skipped with a warning.\n"
    "\n"
    "Refused, with no output written: a name longer than 232 bytes or one that\n"
    "Windows-1250 cannot write, more than 65,535 entries, a file of 2 GiB or more,\n"
    "an output that would reach 2 GiB, an unreadable file, a stub without the\n"
    "archive start offset. OUTPUT is replaced only when it was written whole.\n"
    "\n"
    "The configuration (with --stub) is UTF-8 text of \"key = value\" lines; blank\n"
    "lines and lines starting with # are ignored. Each key at most once, except item;\n"
    "a key left out keeps the stub's own text. Keys and their limits in characters:\n"
    "  caption       the window's caption (60)\n"
    "  prompt        the label above the folder (50)\n"
    "  folder        the proposed destination, a full path such as C:\\Name (160)\n"
    "  footer        the line under the gauge (64)\n"
    "  group         the Start-menu group (60)\n"
    "  item          TARGET,NAME: TARGET a path relative to the destination (100),\n"
    "                NAME the item's name (60); up to 16 items, one line each\n"
    "  done          the closing message (300)\n"
    "  folder-error  the message when the folder cannot be made (200)\n"
    "  group-error   the message when the group cannot be made (200)\n"
    "Group and item names cannot hold \\ / : * ? \" < > | , ( ) [ ]; TARGET cannot\n"
    "hold : * ? \" < > | , ( ) [ ] nor leave the destination; no value holds a\n"
    "control character. A problem is refused with the file's name and line.\n"
    "\n"
    "Exit status: 0 on success, 1 when refused or failed, 2 on wrong usage.\n";

int Usage(const char* problem) {
  fprintf(stderr, "vekpack: %s\nTry 'vekpack --help' for more information.\n", problem);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string stub;
  std::string config;
  bool quiet = false;
  std::string positional[2];
  int count = 0;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!options_done && (arg == "-h" || arg == "--help")) {
      fputs(kUsage, stdout);
      return 0;
    }
    if (!options_done && (arg == "-V" || arg == "--version")) {
      printf("vekpack %s\n", VEK_VERSION);
      return 0;
    }
    if (!options_done && (arg == "-q" || arg == "--quiet")) {
      quiet = true;
    } else if (!options_done && (arg == "-s" || arg == "--stub")) {
      if (++i >= argc) return Usage("--stub needs a file");
      stub = argv[i];
    } else if (!options_done && arg.rfind("--stub=", 0) == 0) {
      stub = arg.substr(7);
    } else if (!options_done && (arg == "-c" || arg == "--config")) {
      if (++i >= argc) return Usage("--config needs a file");
      config = argv[i];
    } else if (!options_done && arg.rfind("--config=", 0) == 0) {
      config = arg.substr(9);
    } else if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else {
      if (count == 2) return Usage("too many arguments");
      positional[count++] = arg;
    }
  }
  if (count != 2) return Usage("need SOURCE-FOLDER and OUTPUT");
  if (!config.empty() && stub.empty()) return Usage("--config goes with --stub");

  vek::build::PackOptions options;
  options.source_folder = positional[0];
  options.output = positional[1];
  options.stub = stub;
  options.config = config;
  options.warn = [](const std::string& text) { fprintf(stderr, "vekpack: warning: %s\n", text.c_str()); };
  vek::tools::ProgressLine progress("packing", !quiet);
  options.progress = [&](uint64_t done, uint64_t total) { progress.Update(done, total); };
  auto started = std::chrono::steady_clock::now();
  try {
    vek::build::PackResult r = vek::build::Pack(options);
    progress.Finish();
    if (!quiet) {
      double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      fprintf(stderr, "vekpack: %s: %u files, %u folders, %llu bytes of data; archive %llu bytes",
              options.output.c_str(), r.files, r.directories, static_cast<unsigned long long>(r.data_bytes),
              static_cast<unsigned long long>(r.archive_bytes));
      if (!stub.empty()) {
        fprintf(stderr, " after a %u-byte stub (%llu bytes in all)", r.start_offset,
                static_cast<unsigned long long>(r.output_bytes));
      }
      fprintf(stderr, "; %.2f s\n", seconds);
    }
  } catch (const vek::build::BuildError& e) {
    progress.Finish();
    fprintf(stderr, "vekpack: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    progress.Finish();
    fprintf(stderr, "vekpack: %s\n", e.what());
    return 1;
  }
  return 0;
}
