#include "check.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <utility>

#include "archivecheck.h"
#include "dataranges.h"
#include "errorwords.h"
#include "extractor.h"
#include "nativefile.h"
#include "selfcrc.h"
#include "shown.h"
#include "solid.h"

namespace vek::tools {

std::vector<Problem> CheckArchive(const OpenedArchive& archive) {
  const ArchiveReader& reader = archive.reader;
  const uint32_t count = reader.GetEntryCount();
  std::vector<Problem> problems;
  if (!archive.config_error.empty())
    problems.push_back({"configuration",
                        PrintableText(archive.config_error.data(), archive.config_error.size(), NameEncoding::kUtf8)});
  if (!reader.SignatureKnown())
    problems.push_back({"signature", "the signature is not \"RN-VEK\" 00 01 (or 00 02: UTF-8 names)"});
  if (reader.ExtensionUnusable()) {
    problems.push_back({"checksums", std::string("damaged: ") + ChecksumsInWords(reader.extension())});
  }
  const uint64_t data_start = reader.DataStart();
  const uint64_t data_size = archive.start.file_size > data_start ? archive.start.file_size - data_start : 0;
  for (uint32_t slot = 1; slot <= count; ++slot) {
    int32_t id = static_cast<int32_t>(slot);
    ArchiveEntry entry;
    if (!reader.FindEntry(id, &entry)) {
      problems.push_back({"no record", "entry " + std::to_string(slot) + ": no record carries this identifier"});
      continue;
    }
    // Built only for a problem: most entries have none.
    const auto label = [&reader, id] { return EntryLabel(reader, id); };
    const uint16_t parent = entry.parent_id;
    const uint8_t kind = entry.kind;
    if (kind != kEntryKindDirectory && kind != kEntryKindFile) {
      problems.push_back({"unknown kind", label() + ": unknown kind " + std::to_string(kind)});
    }
    if (entry.name_length == 0) problems.push_back({"empty name", label() + ": empty name"});
    if (parent != 0) {
      uint8_t parent_kind = reader.GetEntryKind(parent);
      if (parent_kind == kEntryKindNotFound) {
        problems.push_back({"missing parent", label() + ": its parent " + std::to_string(parent) + " does not exist"});
      } else if (parent >= slot) {
        problems.push_back(
            {"later parent", label() + ": its parent " + std::to_string(parent) + " is not an earlier entry"});
      } else if (parent_kind != kEntryKindDirectory) {
        problems.push_back({"file parent", label() + ": its parent " + std::to_string(parent) + " is not a directory"});
      }
    }
    PathSafety safety = reader.CheckEntryPath(id);
    if (safety != PathSafety::kSafe) {
      problems.push_back(
          {std::string("unsafe: ") + DescribePathSafety(safety), label() + ": unsafe: " + DescribePathSafety(safety)});
    }
    // (A solid file's place is in its block: the reader judged it.)
    const bool in_block =
        reader.GetSlotRecord(slot)[EntryRecord::kKindOffset] == kEntryKindCompressed && entry.method != kMethodDeflate;
    if (kind == kEntryKindFile && !in_block) {
      const int32_t size = entry.size;
      const uint32_t offset = entry.data_offset;
      if (size < 0) {
        problems.push_back({"negative size", label() + ": negative size " + std::to_string(size)});
      } else {
        uint64_t end = uint64_t{offset} + uint64_t(size);
        if (end > data_size) {
          problems.push_back({"data past the end", label() + ": its data (" + std::to_string(offset) + " + " +
                                                       std::to_string(size) + ") runs past the end of the file"});
        }
      }
    }
  }
  // Identifiers must be 1..N in table order: each record's Id is its slot number.
  for (uint32_t slot = 1; slot <= count; ++slot) {
    const unsigned char* record = reader.GetSlotRecord(slot);
    if (!record) break;
    uint16_t id = LoadU16(record + EntryRecord::kIdOffset);
    if (id != slot) {
      problems.push_back({"identifier", "record " + std::to_string(slot) + " carries identifier " + std::to_string(id) +
                                            (id >= 1 && id < slot ? " (a duplicate)" : "") + ", not " +
                                            std::to_string(slot)});
    }
  }
  struct Found {
    const ArchiveReader& reader;
    std::vector<Problem>* problems;
  } found{reader, &problems};
  const bool compared = FindDataOverlaps(
      reader,
      [](void* context, const DataOverlap& overlap) {
        Found& f = *static_cast<Found*>(context);
        f.problems->push_back({"overlap", EntryLabel(f.reader, static_cast<int32_t>(overlap.file)) +
                                              ": its data overlaps that of " +
                                              EntryLabel(f.reader, static_cast<int32_t>(overlap.other))});
        return true;
      },
      &found);
  if (!compared) problems.push_back({"overlap", "the files' data could not be compared: out of memory"});
  FindDuplicatePaths(reader, &problems);
  FindShortNameAliases(reader, &problems);
  return problems;
}

const char* ChecksumsInWords(ExtensionState state) {
  switch (state) {
    case ExtensionState::kAbsent: return "none";
    case ExtensionState::kSound: return "CRC-32 of the header, the table and every file";
    case ExtensionState::kDamaged: return "the checksum block is damaged";
    case ExtensionState::kNewer: return "the checksum block was made by a newer vekpack";
    case ExtensionState::kPrologueDamaged: return "the header or the entry table does not match its checksum";
    case ExtensionState::kIndexDamaged: return "the solid index's blocks overlap or lie outside the data";
  }
  return "?";
}

namespace {

// Each file of a block as its bytes pass: one that does not match is a problem.
class CheckedFiles final : public BlockFileSink {
 public:
  CheckedFiles(const ArchiveReader& reader, std::vector<Problem>* problems) : reader_(reader), problems_(problems) {}
  Error Begin(const ArchiveEntry&) override { return NoError(); }
  Error Write(const unsigned char*, size_t) override { return NoError(); }
  Error End(const ArchiveEntry& entry, const Error& outcome) override {
    if (outcome) Damaged(entry.id, outcome);
    return NoError();
  }
  void Damaged(uint32_t id, const Error& error, const std::string& more = "") {
    problems_->push_back(
        {"damaged data", EntryLabel(reader_, static_cast<int32_t>(id)) + ": " + ErrorInWords(error) + more});
  }

 private:
  const ArchiveReader& reader_;
  std::vector<Problem>* problems_;
};

}  // namespace

void CheckFileData(OpenedArchive& archive, std::vector<Problem>* problems) {
  ArchiveReader& reader = archive.reader;
  if (!reader.HasChecksums()) return;
  DataChecker checker(reader, /*inflate=*/true);
  CheckedFiles files(reader, problems);
  const uint32_t count = reader.GetEntryCount();
  for (uint32_t slot = 1; slot <= count; ++slot) {
    ArchiveEntry entry;
    if (!reader.FindEntry(static_cast<int32_t>(slot), &entry) || entry.id != slot) continue;
    const Error error = checker.CheckEntry(entry);
    if (error == InOutError(kIoReadBeyondEnd)) continue;  // the structural check names it
    if (error) files.Damaged(slot, error);
  }
  // Each block's stored bytes, then, when they are those packed, its files decoded.
  SolidPlan plan;
  if (!plan.Make(reader)) {
    problems->push_back({"damaged data", "the blocks could not be decoded: out of memory"});
    return;
  }
  for (uint32_t block = 0; block < plan.blocks(); ++block) {
    uint32_t n = 0;
    const uint32_t* ids = plan.Files(block, &n);
    const std::string where = " (block " + std::to_string(block + 1) + ")";
    const Error stored = checker.CheckBlock(block);
    if (stored) {
      for (uint32_t i = 0; i < n; ++i) files.Damaged(ids[i], stored, where);
      continue;
    }
    uint32_t slot = 0;
    const Error decoded = DecodeBlock(reader, reader.file(), block, ids, n, files, &slot);
    if (decoded) {
      problems->push_back({"damaged data", "block " + std::to_string(block + 1) + ": " + ErrorInWords(decoded)});
    }
  }
}

void CheckStubBytes(const OpenedArchive& archive, std::vector<Problem>* problems) {
  const ArchiveStart& start = archive.start;
  // A checksum of 0: none written (a vekpack before the checksum packed this stub), as
  // the stub reads it too.
  if (!start.self_checked || start.self_crc == 0 || !start.extension.present() ||
      start.extension.offset > start.file_size) {
    return;
  }
  const uint32_t covered = start.extension.offset;
  constexpr uint32_t kPiece = 256 * 1024;  // the first holds the headers
  std::string piece(std::min(covered, kPiece), '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(piece.data());
  FileHandle file = kNoFile;
  FileEdge& edge = PlatformFileEdge();
  bool read = !OpenNativeForReading(archive.path, &file);
  SelfCrcExclusions exclusions;
  uint32_t crc = 0;
  for (uint32_t at = 0; read && at < covered;) {
    const uint32_t want = std::min(covered - at, kPiece);
    uint32_t done = 0;
    read = !edge.Read(file, bytes, want, &done) && done == want &&
           (at > 0 || FindSelfCrcExclusions(bytes, done, &exclusions));
    if (read) crc = SelfCrcUpdate(crc, exclusions, at, bytes, done);
    at += want;
  }
  if (file != kNoFile) (void)edge.Close(file);
  if (!read) {
    problems->push_back({"stub", "the installer's own program is damaged (its headers or bytes cannot be read)"});
  } else if (crc != start.self_crc) {
    problems->push_back({"stub", "the installer's own program is damaged (its checksum does not match)"});
  }
}

std::vector<std::string> SummariseProblems(const std::vector<Problem>& problems, size_t shown) {
  std::vector<std::string> lines;
  std::vector<std::pair<std::string, size_t>> counts;  // kinds in order of appearance
  for (const Problem& p : problems) {
    auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == p.kind; });
    if (it == counts.end()) it = counts.insert(counts.end(), {p.kind, 0});
    if (++it->second <= shown) lines.push_back(p.text);
  }
  for (const auto& [kind, count] : counts) {
    if (count > shown) lines.push_back("... and " + GroupedNumber(count - shown) + " more entries of " + kind);
  }
  return lines;
}

std::string GroupedNumber(uint64_t n) {
  std::string digits = std::to_string(n);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
  return digits;
}

}  // namespace vek::tools
