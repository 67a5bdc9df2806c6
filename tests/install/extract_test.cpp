// Extraction of entries through the real file edge, with faults injected by a
// wrapping edge, and the directory-chain rules through a scripted one.
#include <gtest/gtest.h>

#include <signal.h>
#include <chrono>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <set>
#include <string>
#include <vector>

#include <fstream>

#include "extractor.h"
#include "list.h"
#include "open.h"
#include "rnvek100.h"
#include "testsupport.h"
#include "vekbuild.h"
#include "winpath.h"

namespace vek {
namespace {

namespace fs = std::filesystem;
using build::ArchiveBuilder;
using testing::DosStamp;
using testing::FaultyFileEdge;
using testing::LoadedArchive;
using testing::Op;
using testing::ReadWholeFile;
using testing::RecordingMessages;
using testing::ScratchFolder;
using Fault = FaultyFileEdge::Fault;

using testing::kStamp;
constexpr uint32_t kReadFault = 30;  // a device's read failure (ERROR_READ_FAULT)

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

using testing::ExtractAll;

std::set<std::string> TreeOf(const fs::path& root) {
  std::set<std::string> names;
  for (auto& e : fs::recursive_directory_iterator(root)) names.insert(fs::relative(e.path(), root).generic_string());
  return names;
}

TEST(Extract, WritesTheTreeWithBytesTimesAndAttributes) {
  ArchiveBuilder b;
  b.AddFile(0, "index.htm", "<html>", kStamp);
  uint16_t d = b.AddDirectory(0, "numery");
  uint16_t e = b.AddDirectory(d, "1999");
  b.AddFile(e, "long name.with.dots.htm", Pattern(70000), DosStamp(1999, 2, 28, 23, 59, 58));
  b.AddFile(e, "readonly.txt", "r", DosStamp(2001, 7, 1, 8, 0, 0), kAttrArchive | kAttrReadOnly);
  ScratchFolder out;
  {
    LoadedArchive loaded(b.Serialize());
    ASSERT_TRUE(loaded.load_error.ok());
    ASSERT_TRUE(ExtractAll(loaded.reader, PlatformFileEdge(), out.destination()).ok());
  }
  EXPECT_EQ(ReadWholeFile(out / "index.htm"), "<html>");
  EXPECT_EQ(ReadWholeFile(out / "numery/1999/long name.with.dots.htm"), Pattern(70000));
  for (auto [name, stamp] : {std::pair{"index.htm", kStamp},
                             {"numery/1999/long name.with.dots.htm", DosStamp(1999, 2, 28, 23, 59, 58)},
                             {"numery/1999/readonly.txt", DosStamp(2001, 7, 1, 8, 0, 0)}}) {
    bool clamped;
    EXPECT_EQ(build::ToDosTimeStamp(static_cast<time_t>(testing::ModificationTime(out / name)), &clamped), stamp)
        << name;
  }
  uint32_t attributes = 0;
  std::string ro = (out / "numery/1999/readonly.txt").string();
  ASSERT_TRUE(PlatformFileEdge().GetAttributes(ro.c_str(), &attributes));
  EXPECT_TRUE(attributes & kAttrReadOnly);
  std::string rw = (out / "index.htm").string();
  ASSERT_TRUE(PlatformFileEdge().GetAttributes(rw.c_str(), &attributes));
  EXPECT_FALSE(attributes & kAttrReadOnly);
}

// A stamp that is no date leaves the file's time as extraction made it, and the
// listing says so: the two never disagree about which stamps are dates.
TEST(Extract, ListingAndExtractionAgreeOnWhichStampsAreDates) {
  const struct {
    uint32_t stamp;
    const char* shown;  // nullptr: not a date
  } cases[] = {
      {DosStamp(1999, 2, 28, 23, 59, 58), "1999-02-28 23:59:58"},
      {DosStamp(2000, 2, 29, 0, 0, 0), "2000-02-29 00:00:00"},
      {DosStamp(2107, 12, 31, 23, 59, 58), "2107-12-31 23:59:58"},
      {DosStamp(2001, 2, 29, 0, 0, 0), nullptr},
      {DosStamp(2100, 2, 29, 0, 0, 0), nullptr},
      {DosStamp(1999, 2, 31, 12, 0, 0), nullptr},
      {DosStamp(1999, 4, 31, 12, 0, 0), nullptr},
      {DosStamp(1999, 0, 1, 0, 0, 0), nullptr},
      {DosStamp(1999, 13, 1, 0, 0, 0), nullptr},
      {DosStamp(1999, 1, 0, 0, 0, 0), nullptr},
      {DosStamp(1999, 1, 1, 24, 0, 0), nullptr},
      {DosStamp(1999, 1, 1, 0, 60, 0), nullptr},
      {DosStamp(1999, 1, 1, 0, 0, 0) | 30u, nullptr},  // 60 seconds
      {0, nullptr},
  };
  ArchiveBuilder b;
  for (size_t i = 0; i < std::size(cases); ++i) b.AddFile(0, "f" + std::to_string(i), "x", cases[i].stamp);
  ScratchFolder out;
  const fs::path archive = out / "a.vek";
  { std::ofstream(archive, std::ios::binary) << b.Serialize(); }
  tools::OpenedArchive opened;
  std::string error;
  ASSERT_TRUE(tools::OpenArchive(archive.string(), &opened, &error)) << error;
  const fs::path listed = out / "list.txt";
  FILE* f = fopen(listed.string().c_str(), "wb");
  tools::ListArchive(opened, f);
  fclose(f);
  const std::string listing = ReadWholeFile(listed);
  const fs::path dest = out / "x";
  fs::create_directory(dest);
  Error extracted = ExtractAll(opened.reader, PlatformFileEdge(), dest.string());
  tools::CloseArchive(&opened);
  ASSERT_TRUE(extracted.ok());
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string name = "f" + std::to_string(i);
    const std::string line = listing.substr(listing.find(name + "\n") - 40, 40);
    bool clamped;
    const uint32_t on_disk =
        build::ToDosTimeStamp(static_cast<time_t>(testing::ModificationTime(dest / name)), &clamped);
    if (cases[i].shown) {
      EXPECT_NE(line.find(cases[i].shown), std::string::npos) << line;
      EXPECT_EQ(on_disk, cases[i].stamp) << name;
    } else {
      EXPECT_NE(line.find("(invalid)"), std::string::npos) << line;
      EXPECT_NE(on_disk, cases[i].stamp) << name;
    }
  }
}

TEST(Extract, CopiesInBlocksOfTheStoredSize) {
  struct Case {
    int32_t size;
    int reads;
    size_t bytes_on_disk;
  } cases[] = {{0, 0, 0},         {1, 1, 1},         {32768, 1, 32768}, {32769, 2, 32769},
               {65536, 2, 65536}, {70000, 3, 70000}, {-5, 0, 0},        {INT32_MIN, 0, 0}};
  for (const Case& c : cases) {
    ArchiveBuilder b;
    b.AddFile(0, "f.bin", Pattern(c.size > 0 ? static_cast<size_t>(c.size) : 0), kStamp);
    std::string a = b.Serialize();
    testing::PatchU32(a, testing::RecordAt(1) + EntryRecord::kSizeOffset, static_cast<uint32_t>(c.size));
    ScratchFolder out;
    FaultyFileEdge edge(PlatformFileEdge());
    RecordingMessages boxes;
    LoadedArchive loaded(a, edge);
    ASSERT_TRUE(loaded.load_error.ok());
    int reads_before = edge.Calls(Op::kRead);
    int seeks_before = edge.Calls(Op::kSeek);
    ASSERT_TRUE(ExtractAll(loaded.reader, edge, out.destination()).ok()) << c.size;
    EXPECT_EQ(edge.Calls(Op::kRead) - reads_before, c.reads) << c.size;
    EXPECT_EQ(edge.Calls(Op::kWrite), c.reads) << c.size;
    EXPECT_EQ(edge.Calls(Op::kSeek) - seeks_before, 1) << c.size;
    EXPECT_EQ(ReadWholeFile(out / "f.bin"), Pattern(c.bytes_on_disk)) << c.size;
    EXPECT_TRUE(boxes.boxes.empty()) << c.size;
  }
}

// One fault at a time in a two-file archive: what the run reports, what is on disk,
// whether "Error writing file" came, and that no handle is left open.
TEST(Extract, FaultsEndAsDescribedAndReleaseTheOutput) {
  const std::string first = Pattern(40000);  // two blocks: 32768 + 7232
  ArchiveBuilder b;
  b.AddFile(0, "first.bin", first, kStamp);
  b.AddFile(0, "second.txt", "second", kStamp);
  const std::string archive = b.Serialize();
  struct Case {
    const char* name;
    Op op;
    int nth;
    Fault fault;
    uint32_t code;
    Error expected;
    size_t first_size;  // bytes of first.bin on disk afterwards; SIZE_MAX: absent
    bool second_exists;
    int boxes;
  } cases[] = {
      {"refused create", Op::kCreate, 1, Fault::kRefuse, kIoAccessDenied, InOutError(kIoAccessDenied), SIZE_MAX, false,
       0},
      {"refused seek", Op::kSeek, 2, Fault::kRefuse, kWinErrorNegativeSeek, InOutError(kWinErrorNegativeSeek), 0, false,
       0},
      {"disk full on the 2nd write", Op::kWrite, 2, Fault::kRefuse, kWinErrorDiskFull, InOutError(kWinErrorDiskFull),
       32768, false, 0},
      {"refused read", Op::kRead, 3, Fault::kRefuse, kReadFault, InOutError(kReadFault), 0, false, 0},
      {"short last write", Op::kWrite, 2, Fault::kShort, 0, InOutError(kWinErrorDiskFull), 32768 + 3616, false, 0},
      {"zero-byte last write", Op::kWrite, 2, Fault::kZero, 0, InOutError(kWinErrorDiskFull), 32768, false, 1},
      {"zero-byte first write", Op::kWrite, 1, Fault::kZero, 0, InOutError(kWinErrorDiskFull), 0, false, 1},
      {"short read", Op::kRead, 3, Fault::kShort, 0, InOutError(kIoReadBeyondEnd), 16384, false, 0},
      {"nothing read at a block's start", Op::kRead, 4, Fault::kZero, 0, InOutError(kIoReadBeyondEnd), 32768, false, 1},
      {"refused close", Op::kClose, 1, Fault::kRefuse, kWinErrorInvalidHandle, InOutError(kWinErrorInvalidHandle),
       40000, false, 0},
  };
  for (const Case& c : cases) {
    ScratchFolder out;
    FaultyFileEdge edge(PlatformFileEdge());
    RecordingMessages boxes;
    {
      LoadedArchive loaded(archive, edge);
      ASSERT_TRUE(loaded.load_error.ok());
      // Reads 1 and 2 loaded the signature, header... count them from here.
      edge.Plan(c.op,
                c.nth + (c.op == Op::kRead ? edge.Calls(Op::kRead) - 2 : 0) +
                    (c.op == Op::kSeek ? edge.Calls(Op::kSeek) - 1 : 0),
                c.fault, c.code);
      EXPECT_EQ(ExtractAll(loaded.reader, edge, out.destination()), c.expected) << c.name;
      EXPECT_EQ(edge.OpenHandles(), 1) << c.name << ": only the archive stays open";
    }
    fs::path f = out / "first.bin";
    if (c.first_size == SIZE_MAX) {
      EXPECT_FALSE(fs::exists(f)) << c.name;
    } else {
      EXPECT_EQ(fs::file_size(f), c.first_size) << c.name;
    }
    EXPECT_EQ(fs::exists(out / "second.txt"), c.second_exists) << c.name;
    ASSERT_EQ(boxes.boxes.size(), static_cast<size_t>(c.boxes)) << c.name;
    if (c.boxes) {
      EXPECT_EQ(boxes.boxes[0].text, "Error writing file");
      EXPECT_EQ(boxes.boxes[0].kind, MessageKind::kError);
    }
    auto names = TreeOf(out.path());
    for (const auto& n : names) EXPECT_TRUE(n == "first.bin" || n == "second.txt") << c.name << ": " << n;
  }
}

// The archive cut at every byte of its data: the entries before the cut come out
// whole, the one it cuts ends the run with "Read beyond end of file" (after the box
// when its read got nothing at all), and nothing after it is made.
TEST(Extract, DataCutShortAtEveryByteEndsTheRunAtTheEntryCut) {
  ArchiveBuilder b;
  b.AddFile(0, "a.txt", Pattern(7), kStamp);
  b.AddFile(0, "c.txt", "", kStamp);
  b.AddFile(0, "e.txt", Pattern(20), kStamp);
  uint16_t d = b.AddDirectory(0, "d");
  b.AddFile(d, "b.txt", Pattern(13), kStamp);
  const std::string whole = b.Serialize();
  const size_t data_start = whole.size() - 40;
  for (size_t kept = 0; kept <= 40; ++kept) {
    const build::Entry* cut = nullptr;
    for (const build::Entry& e : b.entries()) {
      if (e.kind == kEntryKindFile && e.data_offset + static_cast<uint32_t>(e.size) > kept) {
        cut = &e;
        break;
      }
    }
    ScratchFolder out;
    RecordingMessages boxes;
    {
      LoadedArchive loaded(whole.substr(0, data_start + kept));
      ASSERT_TRUE(loaded.load_error.ok());
      EXPECT_EQ(ExtractAll(loaded.reader, PlatformFileEdge(), out.destination()),
                cut ? InOutError(kIoReadBeyondEnd) : NoError())
          << kept;
    }
    EXPECT_EQ(boxes.boxes.size(), cut && cut->data_offset == kept ? 1u : 0u) << kept;
    for (const build::Entry& e : b.entries()) {
      if (e.kind != kEntryKindFile) continue;
      fs::path f = out / ((e.parent_id ? "d/" : "") + e.name);
      if (cut && e.id > cut->id) {
        EXPECT_FALSE(fs::exists(f)) << kept << " " << e.name;
      } else {
        size_t expected = cut && e.id == cut->id ? kept - e.data_offset : static_cast<size_t>(e.size);
        EXPECT_EQ(ReadWholeFile(f), Pattern(expected)) << kept << " " << e.name;
      }
    }
  }
}

// Offsets that wrap a 32-bit position around to the archive's own signature, header
// and table lie beyond the end of the file.
TEST(Extract, DataOffsetsThatWouldWrapReadBeyondTheEnd) {
  for (uint32_t offset : {0xFFFFFFF0u, 0xFFFFFF00u, 0xFFFFFEC8u}) {
    ArchiveBuilder b;
    b.AddFile(0, "f.bin", Pattern(300), kStamp);
    std::string a = b.Serialize();
    testing::PatchU32(a, testing::RecordAt(1) + EntryRecord::kDataOffsetOffset, offset);
    ScratchFolder out;
    RecordingMessages boxes;
    {
      LoadedArchive loaded(a);
      ASSERT_TRUE(loaded.load_error.ok());
      EXPECT_EQ(ExtractAll(loaded.reader, PlatformFileEdge(), out.destination()), InOutError(kIoReadBeyondEnd))
          << offset;
    }
    EXPECT_EQ(ReadWholeFile(out / "f.bin"), "") << offset;
  }
}

#ifndef _WIN32
// A full disk part-way through a block of the last file: the write that stops short
// is an error (here the file-size limit, EFBIG, which a full disk's ENOSPC shares
// the path and the code with), through the edge's own copy and through read + write.
TEST(Extract, AWriteCutShortByAFullDiskIsDiskFull) {
  ArchiveBuilder b;
  b.AddFile(0, "a.bin", Pattern(50), kStamp);
  b.AddFile(0, "b.bin", Pattern(100000), kStamp);  // blocks at 0, 32768, 65536, 98304
  const std::string archive = b.Serialize();
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  for (bool wrapped : {false, true}) {
    for (rlim_t limit : {100, 32768, 32868, 65536, 65636, 98304, 98404}) {
      ScratchFolder out;
      FaultyFileEdge faulty(PlatformFileEdge());
      RecordingMessages boxes;
      Error e;
      {
        FileEdge& edge = wrapped ? static_cast<FileEdge&>(faulty) : PlatformFileEdge();
        LoadedArchive loaded(archive, edge);
        ASSERT_TRUE(loaded.load_error.ok());
        struct rlimit lowered = saved;
        lowered.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
        e = ExtractAll(loaded.reader, edge, out.destination());
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
      }
      EXPECT_EQ(e, InOutError(kWinErrorDiskFull)) << limit << (wrapped ? " read + write" : "");
      EXPECT_EQ(fs::file_size(out / "b.bin"), limit) << limit;
      EXPECT_EQ(ReadWholeFile(out / "a.bin"), Pattern(50));
      EXPECT_TRUE(boxes.boxes.empty()) << limit;
    }
  }
  signal(SIGXFSZ, previous);
}
#endif

TEST(Extract, UnsafeEntriesAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    std::string name;
    uint32_t slot;        // 1: the directory's name, 2: the file's
    uint16_t dir_parent;  // 0, or 1 for a self-cycle
  } cases[] = {
      {"parent name", "..", 1, 0},
      {"drive", "C:", 1, 0},
      {"slash", "a/..", 1, 0},
      {"cycle", "loop", 1, 1},
      {"NUL", "NUL", 2, 0},
      {"CON folder", "con", 1, 0},
      {"COM1", "COM1", 2, 0},
      {"LPT9", "lpt9", 2, 0},
      {"aux.txt", "aux.txt", 2, 0},
      {"CON .txt", "CON .txt", 2, 0},
      {"PRN. ", "PRN. ", 1, 0},
      {"CONOUT$", "CONOUT$", 2, 0},
      {"COM superscript 1", "COM\xB9", 2, 0},
      {"trailing dot", "evil.", 2, 0},
      {"trailing blank", "evil ", 2, 0},
      {"trailing dot folder", "dir.", 1, 0},
      {"star", "a*b", 2, 0},
      {"question mark", "??", 1, 0},
      {"pipe", "a|b", 2, 0},
      {"quote", "\"q\"", 2, 0},
      {"less", "<x>", 2, 0},
      {"control", "a\x1B", 2, 0},
      {"empty", "", 1, 0},
  };
  for (const Case& c : cases) {
    ArchiveBuilder b;
    uint16_t d = b.AddDirectory(0, "placeholder");
    b.AddFile(d, "evil.txt", "pwned", kStamp);
    std::string a = b.Serialize();
    testing::PatchName(a, c.slot, c.name);
    testing::PatchU16(a, testing::RecordAt(1) + EntryRecord::kParentIdOffset, c.dir_parent);
    ScratchFolder outer;
    fs::create_directories(outer / "dest");
    {
      LoadedArchive loaded(a);
      ASSERT_TRUE(loaded.load_error.ok());
      AnsiString dest((outer / "dest").string().c_str());
      if (c.slot == 1) {
        EXPECT_EQ(ExtractEntry(loaded.reader, PlatformFileEdge(), 1, dest), InOutError(kIoInvalidFilename)) << c.what;
      }
      EXPECT_EQ(ExtractEntry(loaded.reader, PlatformFileEdge(), 2, dest), InOutError(kIoInvalidFilename)) << c.what;
    }
    auto names = TreeOf(outer.path());
    EXPECT_EQ(names, std::set<std::string>{"dest"}) << c.what;
  }
}

// "\\" or "/" before an entry's "\host\share\..." would name a network share. The
// tools and the stub turn such a destination into the root (an empty one); given as
// it is, every entry is refused. Only the file is tried here: on POSIX a directory
// entry that slipped through would be made in the real root.
TEST(Extract, NoEntrysFirstNamesBecomeANetworkHostAndShare) {
  ArchiveBuilder b;
  uint16_t host = b.AddDirectory(0, "host");
  uint16_t share = b.AddDirectory(host, "share");
  b.AddFile(share, "payload.txt", "pwned", kStamp);
  LoadedArchive loaded(b.Serialize());
  ASSERT_TRUE(loaded.load_error.ok());
  for (const char* destination : {"\\", "/", "\\\\", "//", "\\\\server"}) {
    EXPECT_EQ(loaded.reader.CheckEntryPathBelow(destination, 1), PathSafety::kNetworkPath) << destination;
    EXPECT_EQ(ExtractEntry(loaded.reader, PlatformFileEdge(), 3, destination), InOutError(kIoInvalidFilename))
        << destination;
  }
  EXPECT_FALSE(fs::exists("/host"));
  for (const char* destination : {"", "C:", "\\\\server\\share", "\\\\?\\C:\\d"}) {
    EXPECT_EQ(loaded.reader.CheckEntryPathBelow(destination, 3), PathSafety::kSafe) << destination;
  }
}

// A 65,535-deep chain: refused up front where the platform's path limit is reached,
// with the levels above it made, and quickly. (Under Wine the Unix path's 4,096 bytes
// end the chain long before Windows' 32,760 units.)
TEST(Extract, ADeepChainIsMadeUpToThePathLimitAndThenRefusedQuickly) {
  if (testing::RunningUnderWine()) GTEST_SKIP() << "Wine's paths end at the Unix limit, before Windows' own";
  ArchiveBuilder b;
  uint16_t parent = 0;
  for (uint32_t i = 0; i < kMaxEntryCount; ++i) parent = b.AddDirectory(parent, "d");
  std::string bytes = b.Serialize();
  ScratchFolder out;
  auto started = std::chrono::steady_clock::now();
  LoadedArchive loaded(bytes);
  ASSERT_TRUE(loaded.load_error.ok());
  uint32_t n = loaded.reader.GetEntryCount();
  AnsiString dest(out.destination().c_str());
  uint32_t id = 1;
  Error e;
  for (; id <= n && (e = ExtractEntry(loaded.reader, PlatformFileEdge(), static_cast<int32_t>(id), dest)).ok(); ++id) {
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  printf("65,535-deep chain: %u levels made, refused at %u, in %.3f s\n", id - 1, id, seconds);
  EXPECT_EQ(e, InOutError(kIoInvalidFilename));
  size_t limit = PlatformPathLimits().max_directory_path;
  size_t dest_units = PathUnits(PlatformPathLimits(), dest.data(), dest.size(), NameEncoding::kUtf8);
  EXPECT_EQ(id - 1, (limit - dest_units) / 2);  // "\d" a level
  std::string deepest = out.destination();
  for (uint32_t level = 1; level < id; ++level) deepest += std::string(1, PlatformFileEdge().Separator()) + "d";
  uint32_t attributes = 0;
  EXPECT_TRUE(PlatformFileEdge().GetAttributes(deepest.c_str(), &attributes) && (attributes & kAttrDirectory));
  // A guard against work that grows with the depth for every entry (minutes), not a
  // benchmark: about a second here, many more on a shared and busy machine.
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(seconds, 90.0);  // the sanitizers' own cost
#else
  EXPECT_LT(seconds, 30.0);
#endif
}

// A directory that is not there after it was tried is an error with the platform's
// cause, at the directory entry, even in an archive of directories only.
TEST(Extract, AFolderThatCannotBeMadeIsAnErrorWithItsCause) {
  ArchiveBuilder b;
  b.AddDirectory(0, "first");
  uint16_t blocked = b.AddDirectory(0, "blocked");
  b.AddDirectory(blocked, "below");
  ScratchFolder out;
  testing::WriteWholeFile(out / "blocked", "a file in the way");
  LoadedArchive loaded(b.Serialize());
  ASSERT_TRUE(loaded.load_error.ok());
  AnsiString dest(out.destination().c_str());
  EXPECT_TRUE(ExtractEntry(loaded.reader, PlatformFileEdge(), 1, dest).ok());
  EXPECT_EQ(ExtractEntry(loaded.reader, PlatformFileEdge(), 2, dest), InOutError(kWinErrorAlreadyExists));
  EXPECT_EQ(ExtractEntry(loaded.reader, PlatformFileEdge(), 3, dest), InOutError(kWinErrorAlreadyExists));
  // A destination below a file cannot be made either: "path not found" (Windows 3).
  std::string under_file = out.destination("blocked/dest");
  Error e = ForceDirectoryChain(under_file.c_str(), PlatformFileEdge());
  EXPECT_TRUE(e == InOutError(kWinErrorAlreadyExists) || e == InOutError(kWinErrorPathNotFound)) << e.code;
}

TEST(Extract, UnknownKindsAndIdentifiersMakeNothing) {
  ArchiveBuilder b;
  b.AddFile(0, "odd", "x", kStamp);
  std::string a = b.Serialize();
  a[testing::RecordAt(1) + EntryRecord::kKindOffset] = 7;
  ScratchFolder out;
  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  AnsiString dest(out.destination().c_str());
  EXPECT_TRUE(ExtractEntry(loaded.reader, PlatformFileEdge(), 1, dest).ok());
  EXPECT_TRUE(ExtractEntry(loaded.reader, PlatformFileEdge(), 2, dest).ok());
  EXPECT_TRUE(TreeOf(out.path()).empty());
}

TEST(Extract, AnExistingReadOnlyFileIsAccessDeniedAndASecondRunReplacesAWritableOne) {
  if (testing::RunningUnderWine()) {
    // Wine keeps read-only as missing write bits, which never refuse root.
    GTEST_SKIP() << "Wine running as root does not refuse read-only files";
  }
  ArchiveBuilder b;
  b.AddFile(0, "f.txt", "new", kStamp);
  ScratchFolder out;
  testing::WriteWholeFile(out / "f.txt", "old contents");
  std::string path = (out / "f.txt").string();
  ASSERT_TRUE(PlatformFileEdge().SetAttributes(path.c_str(), kAttrReadOnly));
  LoadedArchive loaded(b.Serialize());
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(ExtractAll(loaded.reader, PlatformFileEdge(), out.destination()), InOutError(kIoAccessDenied));
  EXPECT_EQ(ReadWholeFile(out / "f.txt"), "old contents");
  ASSERT_TRUE(PlatformFileEdge().SetAttributes(path.c_str(), kAttrArchive));
  EXPECT_TRUE(ExtractAll(loaded.reader, PlatformFileEdge(), out.destination()).ok());
  EXPECT_EQ(ReadWholeFile(out / "f.txt"), "new");
}

TEST(Extract, ADirectoryWhereAFileMustGoIsAccessDenied) {
  ArchiveBuilder b;
  b.AddFile(0, "index.htm", "page", kStamp);
  ScratchFolder out;
  std::filesystem::create_directories(out / "index.htm");
  LoadedArchive loaded(b.Serialize());
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(ExtractAll(loaded.reader, PlatformFileEdge(), out.destination()), InOutError(kIoAccessDenied));
  std::filesystem::remove(out / "index.htm");
  EXPECT_TRUE(ExtractAll(loaded.reader, PlatformFileEdge(), out.destination()).ok());
  EXPECT_EQ(ReadWholeFile(out / "index.htm"), "page");
}

// An edge of Windows paths that knows which directories exist and records what is
// made. A directory is made only where its parent exists (a drive, "D:" or "",
// always does). No file can be opened or made.
class ScriptedDirectories final : public FileEdge {
 public:
  std::set<std::string> existing;
  std::vector<std::string> made;
  std::string refused;  // a directory that MakeDirectory refuses with 5
  Error OpenRead(const char*, FileHandle*) override { return InOutError(kIoFileNotFound); }
  Error Seek(FileHandle, int64_t) override { return InOutError(kWinErrorInvalidHandle); }
  Error Read(FileHandle, void*, uint32_t, uint32_t* done) override {
    return *done = 0, InOutError(kWinErrorInvalidHandle);
  }
  Error Close(FileHandle) override { return InOutError(kWinErrorInvalidHandle); }
  char Separator() const override { return '\\'; }
  bool GetAttributes(const char* path, uint32_t* attributes) override {
    if (!existing.count(path)) return false;
    *attributes = kAttrDirectory;
    return true;
  }
  Error MakeDirectory(const char* path) override {
    if (refused == path) return InOutError(kIoAccessDenied);
    if (existing.count(path)) return InOutError(kWinErrorAlreadyExists);
    std::string parent;
    for (size_t i = 0, end = strlen(path); i < end; ++i) {
      if ((path[i] == '\\' || path[i] == '/') && i + 1 < end) parent.assign(path, i);
    }
    if (parent.size() > 2 && !existing.count(parent)) return InOutError(kWinErrorPathNotFound);
    made.push_back(path);
    existing.insert(path);
    return NoError();
  }
  Error MakeEntryFolder(const char*, size_t, size_t) override { return InOutError(kIoAccessDenied); }
  Error CreateEntryFile(const char*, size_t, FileHandle, FileHandle*) override { return InOutError(kIoAccessDenied); }
  Error Write(FileHandle, const void*, uint32_t, uint32_t* done) override {
    return *done = 0, InOutError(kWinErrorInvalidHandle);
  }
  Error CopyBlock(FileHandle, FileHandle, void*, uint32_t, uint32_t* read, uint32_t* written) override {
    return *read = *written = 0, InOutError(kWinErrorInvalidHandle);
  }
  Error FinishEntryFile(FileHandle, const char*, uint32_t, uint32_t) override {
    return InOutError(kWinErrorInvalidHandle);
  }
  Error RemoveFile(const char*) override { return InOutError(kIoFileNotFound); }
  bool FreeSpace(const char*, uint64_t*) override { return false; }
  bool SetAttributes(const char*, uint32_t) override { return false; }
  Error Create(const char*, FileHandle*) override { return InOutError(kIoAccessDenied); }
};

TEST(ForceDirectoryChain, FollowsTheWindowsPathRules) {
  const Error kUnable = GeneralError("Unable to create directory");
  struct Case {
    std::string path;
    Error expected;
    std::vector<std::string> made;
  } cases[] = {
      {"", kUnable, {}},
      {"D:", NoError(), {}},
      {"D:\\", NoError(), {}},
      {"ab", NoError(), {}},
      {"abc", kUnable, {}},
      {"abc\\def", kUnable, {}},
      {"D:\\a\\b", NoError(), {"D:\\a", "D:\\a\\b"}},
      {"D:\\a\\b\\", NoError(), {"D:\\a", "D:\\a\\b"}},
      {"D:\\a\\b\\\\", NoError(), {}},
      {"D:\\Temp\\A\\B", NoError(), {"D:\\Temp\\A\\B"}},  // D:\Temp\A exists
      {"D:\\Temp", NoError(), {}},
      {"\\top\\sub", NoError(), {"\\top", "\\top\\sub"}},
      {"D:rel\\x", NoError(), {"D:rel", "D:rel\\x"}},
      // "/" separates as "\\" does; a UTF-8 name's bytes never do.
      {"D:/a/b/", NoError(), {"D:/a", "D:/a/b"}},
      {"D:\\\xE6\x97\xA5\xE6\x9C\xAC\\x",
       NoError(),
       {"D:\\\xE6\x97\xA5\xE6\x9C\xAC", "D:\\\xE6\x97\xA5\xE6\x9C\xAC\\x"}},
  };
  for (const Case& c : cases) {
    ScriptedDirectories edge;
    edge.existing = {"D:\\Temp", "D:\\Temp\\A"};
    EXPECT_EQ(ForceDirectoryChain(c.path.c_str(), edge), c.expected) << c.path;
    EXPECT_EQ(edge.made, c.made) << c.path;
  }
  // A level that cannot be made ends the chain with the platform's code.
  ScriptedDirectories edge;
  edge.refused = "D:\\a\\b";
  EXPECT_EQ(ForceDirectoryChain("D:\\a\\b\\c", edge), InOutError(kIoAccessDenied));
  EXPECT_EQ(edge.made, std::vector<std::string>{"D:\\a"});
}

TEST(ForceDirectoryChain, CreatesRealChainsAndStopsAtExistingOnes) {
  ScratchFolder out;
  std::string deep = out.destination("one/two/three/four");
  EXPECT_TRUE(ForceDirectoryChain(deep.c_str(), PlatformFileEdge()).ok());
  EXPECT_TRUE(fs::is_directory(out / "one/two/three/four"));
  EXPECT_TRUE(ForceDirectoryChain(deep.c_str(), PlatformFileEdge()).ok());
  // A file where a directory should be: the platform's "already exists".
  testing::WriteWholeFile(out / "file", "x");
  std::string blocked = out.destination("file/sub");
  EXPECT_EQ(ForceDirectoryChain(blocked.c_str(), PlatformFileEdge()), InOutError(kWinErrorAlreadyExists));
  EXPECT_FALSE(fs::exists(out / "file/sub"));
}

}  // namespace
}  // namespace vek
