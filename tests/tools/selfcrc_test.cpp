// The stub's checksum over its own bytes: what it leaves out, how it is computed over
// pieces, and vekpack writing it and vek test checking it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check.h"
#include "crc32.h"
#include "list.h"
#include "open.h"
#include "selfcrc.h"
#include "testsupport.h"
#include "vekbuild.h"

namespace vek {
namespace {

namespace fs = std::filesystem;
using testing::PatchU16;
using testing::PatchU32;

constexpr size_t kStubNewHeader = 0x80;
constexpr size_t kStubOptional = kStubNewHeader + 4 + 20;
constexpr size_t kStubConstants = 0x400;  // the .vekofs section's data
constexpr size_t kStubCheckSumField = kStubOptional + 64;

size_t StubCertificateEntry(uint16_t magic) { return kStubOptional + (magic == 0x10B ? 96 : 112) + 4 * 8; }

// A stub of 0x800 bytes with PE32 or PE32+ headers: code in .text (0x200), its
// constants in .vekofs (0x400, `features`), resources in .rsrc (0x600).
std::string SelfCheckingStub(uint16_t magic, uint32_t features = kStubFeatureSolidLzma | kStubFeatureSelfCheck) {
  std::string pe(0x800, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  PatchU32(pe, 0x3C, kStubNewHeader);
  pe.replace(kStubNewHeader, 4, std::string("PE\0\0", 4));
  const size_t optional_size = magic == 0x10B ? 96 + 16 * 8 : 112 + 16 * 8;
  PatchU16(pe, kStubNewHeader + 4 + 2, 3);
  PatchU16(pe, kStubNewHeader + 4 + 16, static_cast<uint16_t>(optional_size));
  PatchU16(pe, kStubOptional, magic);
  PatchU32(pe, kStubOptional + 32, 0x200);  // SectionAlignment
  PatchU32(pe, kStubOptional + 36, 0x200);  // FileAlignment
  PatchU32(pe, kStubOptional + 60, 0x200);  // SizeOfHeaders
  PatchU32(pe, kStubOptional + (magic == 0x10B ? 92 : 108), 16);
  const char* names[] = {".text", ".vekofs", ".rsrc"};
  for (size_t i = 0; i < 3; ++i) {
    const size_t header = kStubOptional + optional_size + 40 * i;
    pe.replace(header, strlen(names[i]), names[i]);
    PatchU32(pe, header + 8, 0x200);
    PatchU32(pe, header + 16, 0x200);
    PatchU32(pe, header + 20, static_cast<uint32_t>(0x200 * (i + 1)));
  }
  for (size_t at = 0x200; at < 0x400; ++at) pe[at] = static_cast<char>(at * 7);
  for (size_t at = 0x600; at < 0x800; ++at) pe[at] = static_cast<char>(at * 13);
  PatchU32(pe, kStubConstants + StubConstants::kFeaturesMagicOffset, kStubFeaturesMagic);
  PatchU32(pe, kStubConstants + StubConstants::kFeaturesOffset, features);
  return pe;
}

const unsigned char* BytesOf(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(SelfCrc, LeavesOutTheChecksumTheCertificateEntryAndItself) {
  for (uint16_t magic : {uint16_t{0x10B}, uint16_t{0x20B}}) {
    SCOPED_TRACE(magic);
    std::string stub = SelfCheckingStub(magic);
    SelfCrcExclusions x;
    ASSERT_TRUE(FindSelfCrcExclusions(BytesOf(stub), stub.size(), &x));
    const size_t excluded[3][2] = {
        {kStubCheckSumField, 4}, {StubCertificateEntry(magic), 8}, {kStubConstants + StubConstants::kSelfCrcOffset, 4}};
    std::string zeroed = stub;
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(x.offset[i], excluded[i][0]);
      EXPECT_EQ(x.size[i], excluded[i][1]);
      // Marked, so that leaving them out shows in the checksum.
      for (size_t k = 0; k < excluded[i][1]; ++k) stub[excluded[i][0] + k] = '\x5A';
      zeroed.replace(excluded[i][0], excluded[i][1], excluded[i][1], '\0');
    }
    const uint32_t whole = Crc32(0, zeroed.data(), zeroed.size());
    // Every split in two, and pieces of each size that cross the boundaries.
    for (size_t split = 0; split <= stub.size(); ++split) {
      uint32_t crc = SelfCrcUpdate(0, x, 0, BytesOf(stub), split);
      crc = SelfCrcUpdate(crc, x, split, BytesOf(stub) + split, stub.size() - split);
      ASSERT_EQ(crc, whole) << "split at " << split;
    }
    for (size_t piece : {1, 3, 4, 5, 7, 8, 9, 61}) {
      uint32_t crc = 0;
      for (size_t at = 0; at < stub.size(); at += piece) {
        crc = SelfCrcUpdate(crc, x, at, BytesOf(stub) + at, std::min(piece, stub.size() - at));
      }
      EXPECT_EQ(crc, whole) << "pieces of " << piece;
    }
  }
}

TEST(SelfCrc, RefusesMalformedHeaders) {
  struct Case {
    const char* what;
    void (*damage)(std::string&);
    size_t size;  // of the bytes given; 0: all
  } cases[] = {
      {"sound", [](std::string&) {}, 0},
      {"no MZ", [](std::string& s) { s[0] = 'X'; }, 0},
      {"e_lfanew past the bytes", [](std::string& s) { PatchU32(s, 0x3C, 0x7FFFFFF0); }, 0},
      {"no PE signature", [](std::string& s) { s[kStubNewHeader + 1] = 'X'; }, 0},
      {"a ROM image", [](std::string& s) { PatchU16(s, kStubOptional, 0x107); }, 0},
      {"optional header without the certificate entry",
       [](std::string& s) { PatchU16(s, kStubNewHeader + 20, 96 + 32); }, 0},
      {"section table cut off", [](std::string&) {}, 0x1A0},
      {"no constants' section", [](std::string& s) { s[kStubOptional + 240 + 40 + 1] = 'X'; }, 0},
      {"constants without room for the field",
       [](std::string& s) { PatchU32(s, kStubOptional + 240 + 40 + 8, StubConstants::kSelfCrcOffset); }, 0},
  };
  for (const Case& c : cases) {
    std::string stub = SelfCheckingStub(0x20B);
    c.damage(stub);
    SelfCrcExclusions x;
    EXPECT_EQ(FindSelfCrcExclusions(BytesOf(stub), c.size ? c.size : stub.size(), &x), c.what == cases[0].what)
        << c.what;
  }
}

// An installer packed from a stub, with a byte flipped (counted from the end when
// negative): the problems vek test finds, with --quick and without, and vek list's
// lines.
struct InstallerReport {
  std::vector<std::string> problems, quick;
  std::string listed;
};

InstallerReport PackedInstaller(const std::string& stub_bytes, long flip) {
  testing::ScratchFolder folder;
  testing::WriteWholeFile(folder / "stub.exe", stub_bytes);
  build::ArchiveBuilder b;
  b.AddFile(0, "a.txt", std::string(3000, 'a'), testing::DosStamp(2001, 2, 3, 4, 5, 6));
  build::PackOptions pack;
  pack.output = (folder / "setup.exe").string();
  pack.stub = (folder / "stub.exe").string();
  build::WriteArchive(b, pack);
  std::string bytes = testing::ReadWholeFile(folder / "setup.exe");
  const size_t at = flip < 0 ? bytes.size() - static_cast<size_t>(-flip) : static_cast<size_t>(flip);
  if (flip != 0) bytes[at] = static_cast<char>(bytes[at] ^ 0x04);
  testing::WriteWholeFile(folder / "setup.exe", bytes);
  InstallerReport out;
  tools::OpenedArchive archive;
  std::string error;
  EXPECT_TRUE(tools::OpenArchive((folder / "setup.exe").string(), &archive, &error)) << error;
  std::vector<tools::Problem> problems;
  tools::CheckStubBytes(archive, &problems);
  for (const auto& p : tools::CheckArchive(archive)) problems.push_back(p);
  for (const auto& p : problems) out.quick.push_back(p.text);
  tools::CheckFileData(archive, &problems);
  for (const auto& p : problems) out.problems.push_back(p.text);
  FILE* f = tmpfile();
  tools::ListArchive(archive, f);
  out.listed.resize(static_cast<size_t>(ftell(f)));
  rewind(f);
  out.listed.resize(fread(out.listed.data(), 1, out.listed.size(), f));
  fclose(f);
  tools::CloseArchive(&archive);
  return out;
}

TEST(SelfCrc, VekTestFindsADamagedStub) {
  const std::string damaged = "the installer's own program is damaged (its checksum does not match)";
  const std::string file = "entry 1 (\\a.txt): Damaged data: the checksum does not match";
  constexpr uint32_t kWithout = kStubFeatureSolidLzma;
  constexpr uint32_t kWith = kWithout | kStubFeatureSelfCheck;
  struct Case {
    const char* what;
    uint16_t magic;
    uint32_t features;
    long flip;            // 0: none
    std::string problem;  // the only one; empty: none
  } cases[] = {
      {"sound", 0x20B, kWith, 0, ""},
      {"code", 0x20B, kWith, 0x300, damaged},
      {"the DOS header", 0x20B, kWith, 0x50, damaged},
      {"resources", 0x20B, kWith, 0x7FF, damaged},
      {"PE32 code", 0x10B, kWith, 0x200, damaged},
      {"the stub's checksum itself", 0x10B, kWith, kStubConstants + StubConstants::kSelfCrcOffset + 3, damaged},
      {"the PE checksum", 0x20B, kWith, kStubCheckSumField + 2, ""},
      {"the certificate entry, PE32+", 0x20B, kWith, static_cast<long>(StubCertificateEntry(0x20B)) + 5, ""},
      {"the certificate entry, PE32", 0x10B, kWith, static_cast<long>(StubCertificateEntry(0x10B)), ""},
      {"a file's data", 0x20B, kWith, -10, file},
      // A stub that does not check itself: nothing is, as before.
      {"without the bit, code", 0x20B, kWithout, 0x300, ""},
      {"without the bit, a file's data", 0x20B, kWithout, -10, file},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const InstallerReport got = PackedInstaller(SelfCheckingStub(c.magic, c.features), c.flip);
    const std::vector<std::string> expected = c.problem.empty() ? std::vector<std::string>{} : std::vector{c.problem};
    EXPECT_EQ(got.problems, expected);
    // --quick reads the stub (it is small), not the files' data.
    if (c.problem != file) {
      EXPECT_EQ(got.quick, expected);
    }
    EXPECT_NE(got.listed.find(c.features & kStubFeatureSelfCheck
                                  ? "\nStub checksum: CRC-32 of the stub's own bytes"
                                  : "\nStub checksum: none (this stub does not check its own bytes)"),
              std::string::npos)
        << got.listed;
  }
}

// Packed from a stub that does not check itself, the stub's bytes are those of today.
TEST(SelfCrc, OnlyAStubWithTheBitGetsTheChecksum) {
  testing::ScratchFolder folder;
  for (uint32_t features : {kStubFeatureSolidLzma, kStubFeatureSolidLzma | kStubFeatureSelfCheck}) {
    testing::WriteWholeFile(folder / "stub.exe", SelfCheckingStub(0x20B, features));
    build::ArchiveBuilder b;
    b.AddFile(0, "a.txt", "a", 0);
    build::PackOptions pack;
    pack.output = (folder / "setup.exe").string();
    pack.stub = (folder / "stub.exe").string();
    build::WriteArchive(b, pack);
    const std::string bytes = testing::ReadWholeFile(folder / "setup.exe");
    const uint32_t field = LoadU32(BytesOf(bytes) + kStubConstants + StubConstants::kSelfCrcOffset);
    if (features & kStubFeatureSelfCheck) {
      std::string zeroed = bytes.substr(0, 0x800);
      PatchU32(zeroed, kStubConstants + StubConstants::kSelfCrcOffset, 0);
      PatchU32(zeroed, kStubCheckSumField, 0);                   // the PE checksum, written last
      EXPECT_EQ(field, Crc32(0, zeroed.data(), zeroed.size()));  // the certificate entry is zeros already
    } else {
      EXPECT_EQ(field, 0u);
    }
  }
}

}  // namespace
}  // namespace vek
