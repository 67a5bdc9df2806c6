// Fuzz target: arbitrary bytes as an archive for `vek test` and `vek extract` into a
// scratch folder. Nothing may appear outside the destination folder.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "check.h"
#include "extract.h"
#include "open.h"
#include "testsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fs = std::filesystem;
  static vek::testing::ScratchFolder* scratch = new vek::testing::ScratchFolder();
  fs::path root = scratch->path();
  std::error_code ec;
  fs::remove_all(root / "outer", ec);
  fs::create_directories(root / "outer" / "dest");
  fs::path archive = root / "outer" / "input.vek";
  vek::testing::WriteWholeFile(archive, std::string(reinterpret_cast<const char*>(data), size));

  vek::tools::OpenedArchive opened;
  std::string error;
  if (vek::tools::OpenArchive(archive.string(), &opened, &error)) {
    std::vector<vek::tools::Problem> problems = vek::tools::CheckArchive(opened);
    vek::tools::CheckFileData(opened, &problems);
    vek::tools::CloseArchive(&opened);
  }
  vek::tools::ExtractCommand(archive.string(), (root / "outer" / "dest").string(), false);

  for (const auto& entry : fs::directory_iterator(root / "outer")) {
    std::string name = entry.path().filename().string();
    if (name != "dest" && name != "input.vek") {
      fprintf(stderr, "written outside the destination: %s\n", name.c_str());
      abort();
    }
  }
  for (const auto& entry : fs::directory_iterator(root)) {
    if (entry.path().filename() != "outer") {
      fprintf(stderr, "written outside the destination: %s\n", entry.path().string().c_str());
      abort();
    }
  }
  return 0;
}
