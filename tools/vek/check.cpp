#include "check.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <utility>

#include "archivecheck.h"
#include "dataranges.h"
#include "errorwords.h"
#include "extractor.h"
#include "shown.h"

namespace vek::tools {

std::vector<Problem> CheckArchive(const OpenedArchive& archive) {
  const ArchiveReader& reader = archive.reader;
  const uint32_t count = reader.GetEntryCount();
  std::vector<Problem> problems;
  if (!archive.config_error.empty()) problems.push_back({"configuration", PrintableText(archive.config_error.data(), archive.config_error.size(), NameEncoding::kUtf8)});
  if (!reader.SignatureKnown()) problems.push_back({"signature", "the signature is not \"RN-VEK\" 00 01 (or 00 02: UTF-8 names)"});
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
    std::string label = EntryLabel(reader, id);
    const uint16_t parent = entry.parent_id;
    const uint8_t kind = entry.kind;
    if (kind != kEntryKindDirectory && kind != kEntryKindFile) {
      problems.push_back({"unknown kind", label + ": unknown kind " + std::to_string(kind)});
    }
    if (entry.name_length == 0) problems.push_back({"empty name", label + ": empty name"});
    if (parent != 0) {
      uint8_t parent_kind = reader.GetEntryKind(parent);
      if (parent_kind == kEntryKindNotFound) {
        problems.push_back({"missing parent", label + ": its parent " + std::to_string(parent) + " does not exist"});
      } else if (parent >= slot) {
        problems.push_back({"later parent", label + ": its parent " + std::to_string(parent) + " is not an earlier entry"});
      } else if (parent_kind != kEntryKindDirectory) {
        problems.push_back({"file parent", label + ": its parent " + std::to_string(parent) + " is not a directory"});
      }
    }
    PathSafety safety = reader.CheckEntryPath(id);
    if (safety != PathSafety::kSafe) {
      problems.push_back({std::string("unsafe: ") + DescribePathSafety(safety), label + ": unsafe: " + DescribePathSafety(safety)});
    }
    if (kind == kEntryKindFile) {
      const int32_t size = entry.size;
      const uint32_t offset = entry.data_offset;
      if (size < 0) {
        problems.push_back({"negative size", label + ": negative size " + std::to_string(size)});
      } else {
        uint64_t end = uint64_t{offset} + uint64_t(size);
        if (end > data_size) {
          problems.push_back({"data past the end", label + ": its data (" + std::to_string(offset) + " + " +
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

void CheckFileData(OpenedArchive& archive, std::vector<Problem>* problems) {
  ArchiveReader& reader = archive.reader;
  if (!reader.HasChecksums()) return;
  DataChecker checker(reader, /*inflate=*/true);
  const uint32_t count = reader.GetEntryCount();
  for (uint32_t slot = 1; slot <= count; ++slot) {
    ArchiveEntry entry;
    if (!reader.FindEntry(static_cast<int32_t>(slot), &entry) || entry.id != slot) continue;
    const Error error = checker.CheckEntry(entry);
    if (error == InOutError(kIoReadBeyondEnd)) continue;  // the structural check names it
    if (error) {
      problems->push_back({"damaged data", EntryLabel(reader, static_cast<int32_t>(slot)) + ": " + ErrorInWords(error)});
    }
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
    if (count > shown) {
      lines.push_back("... and " + std::to_string(count - shown) + " more of this kind: " + kind);
    }
  }
  return lines;
}

}  // namespace vek::tools
