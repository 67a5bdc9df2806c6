// vekpack through a pack edge that fails or changes files: each call to the file
// system in turn fails with "disk full" until a run makes no call that fails; files
// change between the look at them and their reading.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>

#include "faultypackedge.h"
#include "testsupport.h"
#include "vekbuild.h"

namespace vek {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::WriteWholeFile;

// Every run ends in success (the fault hit a call whose failure changes nothing:
// closing a file that was only read, putting the folder's entry on the disk) with
// the complete executable in place, or in an error that names a path and the full
// disk, with the previous output untouched. Either way no temporary file stays and
// nothing stays open.
TEST(PackOnAFullDisk, EveryFailingCallEndsInACleanErrorOrAHarmlessSuccess) {
  ScratchFolder src, out;
  fs::create_directories(src / "docs" / "img");
  WriteWholeFile(src / "index.htm", "<html></html>");
  WriteWholeFile(src / "docs" / "a.htm", "a");
  WriteWholeFile(src / "docs" / "img" / "big.bin", std::string(300 * 1024, 'b'));  // moved inside the system
  std::string stub = testing::FakeStub(".vekofs", 0x600);
  testing::PatchU32(stub, 0x44 + 20 + 40 + 8, 8);  // room for the configuration offset
  WriteWholeFile(out / "stub.exe", stub);
  WriteWholeFile(out / "setup.cfg", "caption = Acme\n");
  build::PackOptions options;
  options.source_folder = src.path().string();
  options.stub = (out / "stub.exe").string();
  options.config = (out / "setup.cfg").string();
  options.output = (out / "reference.exe").string();
  build::Pack(options);
  const std::string reference = ReadWholeFile(out / "reference.exe");
  const std::set<fs::path> kept = {"stub.exe", "setup.cfg", "reference.exe", "setup.exe"};

  options.output = (out / "setup.exe").string();
  int harmless = 0;
  int call = 1;
  for (;; ++call) {
    WriteWholeFile(out / "setup.exe", "previous");
    testing::FaultyPackEdge edge(PlatformPackEdge(), call, kWinErrorDiskFull);
    options.edge = &edge;
    std::string error;
    try {
      build::Pack(options);
    } catch (const build::BuildError& e) {
      error = e.what();
    }
    if (!edge.fired()) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(ReadWholeFile(out / "setup.exe"), reference);
      break;
    }
    EXPECT_EQ(edge.open_files(), 0) << call;
    EXPECT_EQ(edge.open_folders(), 0) << call;
    for (const auto& e : fs::directory_iterator(out.path())) {
      EXPECT_TRUE(kept.count(e.path().filename())) << call << ": " << e.path();
    }
    if (error.empty()) {
      ++harmless;
      EXPECT_EQ(ReadWholeFile(out / "setup.exe"), reference) << call;
    } else {
      EXPECT_NE(error.find("vektest-"), std::string::npos) << call << ": " << error;
      EXPECT_NE(error.find("(disk full)"), std::string::npos) << call << ": " << error;
      EXPECT_EQ(ReadWholeFile(out / "setup.exe"), "previous") << call << ": " << error;
    }
  }
  EXPECT_GT(call, 30);
  EXPECT_GT(harmless, 0);
}

// The writer takes a file's facts as it opens it: a file that is not then what it
// is when read is refused, naming it. A small file read in one piece ends where its
// size said; a larger one is looked at again afterwards.
TEST(PackWhileFilesChange, AFileThatChangesOnceOpenedIsRefused) {
  const struct {
    const char* what;
    size_t size;
    std::function<void(const fs::path&)> change;
  } cases[] = {
      {"grows", 8, [](const fs::path& f) { WriteWholeFile(f, "contents and more"); }},
      {"shrinks", 8, [](const fs::path& f) { WriteWholeFile(f, "con"); }},
      {"large, new time", 3 * build::FileSink::kBufferSize / 2,
       [](const fs::path& f) { fs::last_write_time(f, fs::last_write_time(f) + std::chrono::hours(1)); }},
  };
  for (const auto& c : cases) {
    ScratchFolder src, out;
    WriteWholeFile(src / "a.txt", std::string(c.size, 'c'));
    testing::FaultyPackEdge edge(PlatformPackEdge(), 0, 0);
    bool changed = false;
    edge.after_file_facts = [&] {
      if (!changed) c.change(src / "a.txt");
      changed = true;
    };
    build::PackOptions options;
    options.source_folder = src.path().string();
    options.output = (out / "out.vek").string();
    options.edge = &edge;
    try {
      build::Pack(options);
      ADD_FAILURE() << c.what << ": not refused";
    } catch (const build::BuildError& e) {
      EXPECT_NE(std::string(e.what()).find("a.txt: the file changed while it was read"), std::string::npos)
          << c.what << ": " << e.what();
    }
    EXPECT_TRUE(fs::is_empty(out.path())) << c.what;
  }
}

}  // namespace
}  // namespace vek
