// Finding the archive in a file: a bare VEK archive, or a self-extracting executable
// whose stub carries the archive start offset in a PE section of its own.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

namespace vek::tools {

// The stub keeps ArchiveStartOffset as the first 4 bytes of this section.
inline constexpr char kStartOffsetSection[] = ".vekofs";

struct SectionSpan {
  uint32_t file_offset = 0;  // PointerToRawData
  uint32_t raw_size = 0;     // SizeOfRawData
};

// Locates the start-offset section in the bytes of a PE image; nullopt when the bytes
// are no PE image or it has no such section of at least 4 bytes within the file.
std::optional<SectionSpan> FindStartOffsetSection(const std::vector<unsigned char>& image);
std::optional<SectionSpan> FindStartOffsetSection(const unsigned char* image, size_t size);

// How the archive start in a file was found.
enum class StartSource { kBareArchive, kStubConstant, kScan };

struct ArchiveStart {
  uint32_t offset = 0;
  StartSource source = StartSource::kBareArchive;
};

// Finds where the archive begins in the file at path (a UTF-8 path on POSIX, the
// ANSI path on Windows): our stub's constant when it points at a signature; offset 0
// for a bare archive; else the first "RN-VEK" 0x00 0x01 followed by a header whose
// entry table fits in the file. nullopt when none is found; error receives a reason.
std::optional<ArchiveStart> LocateArchive(const std::string& path, std::string* error);

}  // namespace vek::tools
