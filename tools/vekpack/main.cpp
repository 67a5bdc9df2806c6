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
    "an output that would reach 2 GiB, an unreadable file, a file that changes\n"
    "while it is read, an OUTPUT inside SOURCE-FOLDER (or one of its files), a\n"
    "stub without the archive start offset in a section of its own. OUTPUT is\n"
    "replaced only when it was written whole and flushed to the disk.\n"
    "\n"
    "Exit status: 0 on success, 1 when refused or failed, 2 on wrong usage.\n";

int Usage(const char* problem) {
  fprintf(stderr, "vekpack: %s\nTry 'vekpack --help' for more information.\n", problem);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string stub;
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

  vek::build::PackOptions options;
  options.source_folder = positional[0];
  options.output = positional[1];
  options.stub = stub;
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
