// Finding the archive in a file: a bare VEK archive, or a self-extracting executable
// whose stub carries the archive start offset in a PE section of its own.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "extension.h"
#include "fileedge.h"
#include "layout.h"

namespace vek::tools {

// How the archive start in a file was found.
enum class StartSource { kBareArchive, kStubConstant, kScan };

struct ArchiveStart {
  uint32_t offset = 0;
  StartSource source = StartSource::kBareArchive;
  // The configuration block [config_offset, offset) when the stub names one.
  uint32_t config_offset = 0;
  // The stub names a configuration that does not lie between its image and the
  // archive (config_offset holds the offset named): the stub refuses to run.
  bool config_misplaced = false;
  // The extension block, when the stub names one or a bare archive's footer does.
  ExtensionPlace extension;
  // The stub checks its own bytes (kStubFeatureSelfCheck, with room for the field):
  // self_crc is the checksum its constants hold.
  bool self_checked = false;
  uint32_t self_crc = 0;
  uint64_t file_size = 0;  // of the whole file
};

// Finds where the archive begins in the file at path (the file edge's: the bytes on
// POSIX, UTF-8 on Windows): offset 0 for a bare archive (it begins with the signature;
// its extension block is found through the footer at the end of the file);
// in an executable with our stub's start-offset section, the constant there, as the
// stub itself takes it, never anything else (a constant that cannot be right, or a
// broken section, is an error); in any other file the first "RN-VEK" 0x00 0x01 (or
// 0x00 0x02) followed by a header whose entry table fits in the file. nullopt when none is
// found, or the path is no regular file; error receives a reason. The file is read
// through the platform's file edge; with opened, it stays open when a start is found
// and *opened receives its handle, to be read and closed through that edge.
std::optional<ArchiveStart> LocateArchive(const std::string& path, std::string* error, FileHandle* opened = nullptr);

}  // namespace vek::tools
