// The folder scan: a source folder's tree as the entries of an archive.
#pragma once

#include <functional>
#include <string>

#include "packedge.h"
#include "vekwriter.h"

namespace vek::build {

using Warn = std::function<void(const std::string&)>;

// When a file's size, time and attributes are taken: as the scan finds the file, or
// when the writer opens it to copy its bytes (one look at each file fewer).
enum class FactsTaken { kWhenScanned, kWhenWritten };

// Walks source_folder into builder: at each level the files first, then each
// subdirectory followed by its contents, names in byte order. Names are stored in
// Windows-1250 while they all fit it, else every one in UTF-8 (the builder's
// StoreNamesInUtf8). Symbolic links are followed; a folder that contains itself, a
// name that is no UTF-8, is longer than 232 bytes as stored or that Windows would not
// create as named, and two names that Windows takes for one are refused; other
// special files are skipped with a warning. Throws BuildError.
void ScanFolder(const std::string& source_folder, ArchiveBuilder& builder, const Warn& warn);
void ScanFolder(const std::string& source_folder, ArchiveBuilder& builder, const Warn& warn, PackEdge& edge,
                FactsTaken when);

// The facts of the source folder; throws BuildError when it is none.
PathFacts ExamineSourceFolder(PackEdge& edge, const std::string& source_folder);

// folder and name joined with this platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace vek::build
