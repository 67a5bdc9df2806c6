// vekpack: packs a folder into a VEK archive or a self-extracting executable.
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "helptext.h"
#include "lzmaenc.h"
#include "terminal.h"
#include "toolhost.h"
#include "vekbuild.h"

namespace {

const char kUsage[] =
    "Usage: vekpack [OPTIONS] SOURCE-FOLDER OUTPUT\n"
    "\n"
    "Packs every file and folder below SOURCE-FOLDER into the VEK archive OUTPUT,\n"
    "uncompressed unless --compress asks for it. With --sfx or --stub, OUTPUT is a\n"
    "self-extracting executable: a copy of the Windows extractor stub with the\n"
    "archive appended and its archive start offset set. Without either, OUTPUT is\n"
    "a bare archive.\n"
    "\n"
    "Options:\n"
    "      --sfx[=ARCH]  prepend the installed stub: ARCH x64 (the default; 64-bit\n"
    "                    Windows) or x86 (32- and 64-bit Windows)\n"
    "  -s, --stub FILE   prepend this extractor stub instead\n"
    "  -c, --config FILE  set the stub's texts, folder and Start-menu items (below)\n"
    "  -z, --compress[=LEVEL]  solid LZMA compression, LEVEL 1 (fastest) to 9\n"
    "                    (smallest, the default). Files are compressed together\n"
    "                    in blocks, in path order; a file that LZMA does not\n"
    "                    shrink (a picture, an archive) stays stored. Read by vek\n"
    "                    and by stubs of this release, not by earlier ones\n"
    "      --solid=SIZE  at most SIZE bytes of files in one block (K, M or G after\n"
    "                    the number: KiB, MiB, GiB; 128M without it, at most 1G);\n"
    "                    a larger file has a block of its own. --solid=file: a\n"
    "                    block for each file. Blocks are compressed side by side,\n"
    "                    and the installer decodes them side by side\n"
    "  -q, --quiet       no progress and no summary\n"
    "  -h, --help        show this help and exit\n"
    "  -V, --version     show the version and exit\n"
    "\n"
    "The installed stubs are vekstub-x86_64.exe and vekstub-i686.exe in\n"
    "../share/vek/ from the folder that holds vekpack, or beside vekpack itself.\n"
    "\n"
    "Entries are stored depth first: at each level the files, then each folder\n"
    "followed by its contents, names in byte order. Files get the archive attribute\n"
    "(and read-only when they have no write permission) and their modification time\n"
    "in local time, to 2 seconds; times outside 1980-2107 are clamped with a warning.\n"
    "Names are stored in Windows-1250 when every name fits it (the layout every\n"
    "release reads), otherwise all in UTF-8, the archive marked as such. Every file\n"
    "gets a CRC-32, kept beside the archive, which vek and the stub check.\n"
    "\n"
    "Symbolic links are followed: a link to a file is stored as that file, a link to\n"
    "a folder as that folder. A broken link, or one that leads back to a folder that\n"
    "contains it, is refused. Sockets, pipes and devices are skipped with a warning.\n"
    "\n"
    "Refused, with no output written: a name longer than 232 bytes as stored, one\n"
    "that is not UTF-8 (Linux), a name Windows would not take as written, two names\n"
    "Windows takes for one, more than 65,535 entries, a file of 2 GiB or more,\n"
    "an output that would reach 2 GiB, an unreadable file, a file that changes\n"
    "while it is read, an OUTPUT inside SOURCE-FOLDER (or one of its files), a\n"
    "stub without the archive start offset in a section of its own, one whose\n"
    "sections end beyond 32 bits or whose alignments a PE image cannot have, or\n"
    "whose resources cannot be read or written back. OUTPUT is replaced only when\n"
    "it was written whole and flushed to the disk.\n"
    "\n"
    "An executable gets the PE checksum of the whole file. A signed stub loses its\n"
    "signature, with a warning: sign the finished installer.\n"
    "\n"
    "The configuration (with --sfx or --stub) is UTF-8 text of \"key = value\"\n"
    "lines; blank lines and lines starting with # are ignored. Each key at most\n"
    "once, except item; a key left out keeps the stub's own text. A value wholly\n"
    "in double quotes loses them, with a warning; yes, no, admin and user are\n"
    "taken in any letter case. Without a configuration the executable installs\n"
    "the stub's Polish sample, which a warning describes. Keys and their limits\n"
    "in characters:\n";

// After the keys.
const char kUsageNames[] =
    "The group, an item's NAME and each name in TARGET and in the folder must be a\n"
    "name Windows takes as written: no device name (CON, NUL, COM1, LPT1.txt, ...),\n"
    "no trailing dot or blank, not . or .., none of \\ / : * ? \" < > |. Names and\n"
    "TARGET cannot hold , ( ) [ ] either, the folder no comma; TARGET (and open)\n"
    "stays inside the destination and names a packed file or folder; no key or\n"
    "value holds a control character, nor an invisible or direction-changing one\n"
    "(U+200B-U+200F, U+202A-U+202E, U+2066-U+2069, U+FEFF but a byte-order mark\n"
    "that begins the file). A problem is refused with the file's name, line and\n"
    "key; an unknown key with the known key nearest to it.\n"
    "\n"
    "A text key (caption, prompt, footer, done, folder-error, group-error,\n"
    "extract-button, quit-button, damaged, rights-error) may also be given per\n"
    "language, as caption[de] = ... or caption[de-AT] = ...: a two-letter\n"
    "language Windows has a locale for, optionally with a region's two letters,\n"
    "in any letter case; each within its key's limit and once. The installer\n"
    "shows, key by key, the text for the user's interface language (or\n"
    "/LANG=TAG's), else for its primary language, else the default.\n"
    "\n";

std::string UsageText() {
  using namespace vek;
  return kUsage + tools::ConfigKeysText() + kUsageNames +
         tools::ExitCodesText("Exit codes of an executable run with /S:", kInstallExitCodes, "; ") +
         tools::ExitCodesText("Exit codes of a configured one's window:", kWindowExitCodes, "; ") +
         tools::ExitCodesText("Exit codes at its start-up, with /S or without:", kStartupExitCodes, "; ") +
         tools::ExitCodesText("Exit codes of its uninstaller:", kUninstallExitCodes, "; ") + "\n" +
         tools::ExitCodesText("Exit status:", tools::kVekpackExitCodes, ", ");
}

int Usage(const char* problem) {
  fprintf(stderr, "vekpack: %s\nTry 'vekpack --help' for more information.\n", problem);
  return vek::tools::kExitUsage;
}

namespace fs = std::filesystem;

// A UTF-8 path with its "." and ".." resolved as text.
std::string Normal(const std::string& path) {
  std::u8string normal = fs::path(std::u8string(path.begin(), path.end())).lexically_normal().u8string();
  return std::string(normal.begin(), normal.end());
}

// The installed stub for the architecture: ../share/vek/ from the program's folder
// (an installed prefix), else beside the program (the Windows zip). Empty with
// *looked naming the places when neither has it.
std::string InstalledStub(const std::string& arch, std::string* looked) {
  const std::string name = "vekstub-" + arch + ".exe";
  const std::string folder = vek::ProgramFolder();
  if (folder.empty()) {
    *looked = "(the folder of vekpack is unknown)";
    return "";
  }
  const char separator = vek::kPathSeparators[0];
  const std::string candidates[] = {
      Normal(folder + separator + ".." + separator + "share" + separator + "vek" + separator + name),
      Normal(folder + separator + name)};
  for (const std::string& candidate : candidates) {
    vek::PathFacts facts;
    if (vek::PlatformPackEdge().Examine(vek::kNoFolder, candidate.c_str(), &facts).ok() &&
        facts.kind == vek::FileKind::kFile) {
      return candidate;
    }
  }
  *looked = candidates[0] + " and " + candidates[1];
  return "";
}

// The stub architecture an --sfx value names; empty when it names none.
std::string SfxArch(const std::string& value) {
  if (value.empty() || value == "x64" || value == "x86_64" || value == "amd64") return "x86_64";
  if (value == "x86" || value == "i686" || value == "i386" || value == "win32") return "i686";
  return "";
}

// --solid's SIZE: digits and an optional K, M or G (binary), at most 1 GiB; "file":
// a block for each file (0).
bool SolidSize(const std::string& text, uint64_t* size) {
  if (text == "file") {
    *size = 0;
    return true;
  }
  uint64_t value = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > vek::build::kMaxSolidBlockSize) return false;
  }
  if (i == 0) return false;
  const std::string unit = text.substr(i);
  const int shift = unit.empty()                 ? 0
                    : unit == "K" || unit == "k" ? 10
                    : unit == "M" || unit == "m" ? 20
                    : unit == "G" || unit == "g" ? 30
                                                 : -1;
  if (shift < 0) return false;
  value <<= shift;
  if (value == 0 || value > vek::build::kMaxSolidBlockSize) return false;
  *size = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = vek::ProgramArguments(argc, argv);
  std::string stub;
  std::string config;
  std::string sfx_arch;  // set by --sfx
  bool quiet = false;
  int compress_level = 0;
  uint64_t solid_block_size = vek::build::kDefaultSolidBlockSize;
  bool solid_given = false;
  std::string positional[2];
  int count = 0;
  bool options_done = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_done && (arg == "-h" || arg == "--help")) {
      fputs(UsageText().c_str(), stdout);
      return vek::tools::kExitSuccess;
    }
    if (!options_done && (arg == "-V" || arg == "--version")) {
      printf("vekpack %s\n", VEK_VERSION);
      return vek::tools::kExitSuccess;
    }
    if (!options_done && (arg == "-q" || arg == "--quiet")) {
      quiet = true;
    } else if (!options_done && (arg == "-s" || arg == "--stub")) {
      if (++i >= args.size()) return Usage("--stub needs a file");
      stub = args[i];
    } else if (!options_done && arg.rfind("--stub=", 0) == 0) {
      stub = arg.substr(7);
    } else if (!options_done && (arg == "-c" || arg == "--config")) {
      if (++i >= args.size()) return Usage("--config needs a file");
      config = args[i];
    } else if (!options_done && arg.rfind("--config=", 0) == 0) {
      config = arg.substr(9);
    } else if (!options_done && (arg == "--sfx" || arg.rfind("--sfx=", 0) == 0)) {
      sfx_arch = SfxArch(arg.size() > 5 ? arg.substr(6) : std::string());
      if (sfx_arch.empty()) return Usage(("--sfx takes x64 or x86, not " + arg.substr(6)).c_str());
    } else if (!options_done && (arg == "-z" || arg == "--compress")) {
      compress_level = vek::build::kDefaultCompressLevel;
    } else if (!options_done && arg.rfind("--compress=", 0) == 0) {
      const std::string level = arg.substr(11);
      compress_level = 0;
      for (char c : level)
        compress_level = c >= '0' && c <= '9' && compress_level < 100 ? compress_level * 10 + (c - '0') : 100;
      if (level.empty() || level[0] == '0' || compress_level < vek::build::kMinLzmaLevel ||
          compress_level > vek::build::kMaxLzmaLevel) {
        return Usage(("--compress takes a level from 1 to 9, not " + level).c_str());
      }
    } else if (!options_done && arg.rfind("--solid=", 0) == 0) {
      if (!SolidSize(arg.substr(8), &solid_block_size)) {
        return Usage(("--solid takes a size such as 64M (at most 1G), or file, not " + arg.substr(8)).c_str());
      }
      solid_given = true;
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
  if (!sfx_arch.empty() && !stub.empty()) return Usage("--sfx and --stub exclude each other");
  if (!sfx_arch.empty()) {
    std::string looked;
    stub = InstalledStub(sfx_arch, &looked);
    if (stub.empty()) {
      fprintf(stderr, "vekpack: no installed %s stub (looked for %s); name one with --stub FILE\n", sfx_arch.c_str(),
              looked.c_str());
      return vek::tools::kExitFailure;
    }
  }
  if (!config.empty() && stub.empty()) return Usage("--config goes with --sfx or --stub");
  if (solid_given && compress_level == 0) return Usage("--solid goes with --compress");

  vek::build::PackOptions options;
  options.source_folder = positional[0];
  options.output = positional[1];
  options.stub = stub;
  options.config = config;
  options.compress_level = compress_level;
  options.solid_block_size = solid_block_size;
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
      if (compress_level > 0) {
        fprintf(stderr, ", %u of the files in %u solid block%s", r.compressed, r.blocks, r.blocks == 1 ? "" : "s");
      }
      if (!stub.empty()) {
        fprintf(stderr, " after a %u-byte stub (%llu bytes in all)", r.start_offset,
                static_cast<unsigned long long>(r.output_bytes));
      }
      fprintf(stderr, "; %.2f s\n", seconds);
    }
  } catch (const vek::build::BuildError& e) {
    progress.Finish();
    fprintf(stderr, "vekpack: %s\n", e.what());
    return vek::tools::kExitFailure;
  } catch (const std::exception& e) {
    progress.Finish();
    fprintf(stderr, "vekpack: %s\n", e.what());
    return vek::tools::kExitFailure;
  }
  return vek::tools::kExitSuccess;
}
