// Error reports of the tools: the system's reason in words beside a code, and one
// code for one situation on every platform.
#include <gtest/gtest.h>

#include <string>

#include "errorwords.h"
#include "fileedge.h"
#include "testsupport.h"

namespace vek {
namespace {

TEST(ErrorWords, ReportsNameTheReasonBesideACode) {
  struct Case {
    Error error;
    const char* report;
  } cases[] = {
      {InOutError(112), "I/O error 112 (disk full)."},
      {InOutError(39), "I/O error 39 (disk full)."},
      {InOutError(32), "I/O error 32 (the file is in use by another process)."},
      {InOutError(3), "Invalid filename (bad name, or a folder on the path is missing)."},
      {InOutError(1117), "I/O error 1117 (device input/output error)."},
      // The runtime's own words stand alone.
      {InOutError(2), "File not found."},
      {InOutError(5), "File access denied."},
      {InOutError(100), "Read beyond end of file."},
      {InOutError(101), "Disk full."},
      {GeneralError("Unable to create directory"), "Unable to create directory."},
      {OutOfMemoryError(), "Out of memory."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tools::ReportInWords(c.error), c.report);
  }
  EXPECT_EQ(tools::ErrorInWords(InOutError(112)), "I/O error 112 (disk full)");
}

// Windows reports a missing file as 2 and a file in a missing folder as 3; the POSIX
// edge gives the same codes, whether reading or creating.
TEST(ErrorWords, MissingFolderAndMissingFileHaveWindowsCodes) {
  testing::ScratchFolder folder;
  FileEdge& edge = PlatformFileEdge();
  const std::string missing_file = (folder / "absent.vek").string();
  const std::string in_missing_folder = (folder / "absent-folder" / "x.vek").string();
  FileHandle file = kNoFile;
  EXPECT_EQ(edge.OpenRead(missing_file.c_str(), &file), InOutError(2));
  EXPECT_EQ(edge.OpenRead(in_missing_folder.c_str(), &file), InOutError(3));
  EXPECT_EQ(edge.Create(in_missing_folder.c_str(), &file), InOutError(3));
}

}  // namespace
}  // namespace vek
