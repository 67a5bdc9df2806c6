// vek test: the structural check of an opened archive.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "open.h"

namespace vek::tools {

// One problem that the check found: its kind (problems of one kind are summarised
// together) and its line.
struct Problem {
  std::string kind;
  std::string text;
};

// The problems of the opened archive; empty when it is sound.
std::vector<Problem> CheckArchive(const OpenedArchive& archive);

// What the extension block gives, in words (vek list).
const char* ChecksumsInWords(ExtensionState state);

// Reads every file's stored bytes and compares them with their checksums, and
// inflates each deflated file to nowhere (nothing to compare without checksums): one
// problem naming each damaged entry.
void CheckFileData(OpenedArchive& archive, std::vector<Problem>* problems);

// For a stub that checks its own bytes (ArchiveStart::self_checked), compares their
// checksum (selfcrc.h) with the one its constants hold: one problem when they differ
// or cannot be read. Nothing for any other file, nor without a checksum block (whose
// offset ends the bytes covered). Reads only the stub, not the archive.
void CheckStubBytes(const OpenedArchive& archive, std::vector<Problem>* problems);

// The part of the check in duplicates.cpp: entries that land on the path of an
// earlier entry (the same bytes, other letter case, or names that this system's file
// names make one).
void FindDuplicatePaths(const ArchiveReader& reader, std::vector<Problem>* problems);

// The part in aliases.cpp: names of the form "NAME~N.EXT" that can be the short (8.3)
// name Windows gives a long name in the same folder.
void FindShortNameAliases(const ArchiveReader& reader, std::vector<Problem>* problems);

// The lines that report problems: of each kind the first `shown` in full, then, after
// them all, one line for each kind that counts the rest ("... and 1,043 more entries
// of unknown kind"). The kinds are a fixed few, so the lines are too, however many
// problems there are.
inline constexpr size_t kProblemsShownPerKind = 10;
std::vector<std::string> SummariseProblems(const std::vector<Problem>& problems, size_t shown = kProblemsShownPerKind);

// n with a comma between each three digits: "1,043".
std::string GroupedNumber(uint64_t n);

}  // namespace vek::tools
