// A Windows executable (a PE image) as vekpack and vek read and change it: its headers
// and section table, the section that holds the stub's constants, and its resources
// (the resource table read into a list, and a list written back as the table of a
// section of its own, which the image then carries instead of its old one). The
// layout itself is pelayout.h.
//
// The resource table is a tree of three levels (type, name, language) of directories:
// a header with the counts of named and numbered entries, then the entries, named ones
// first in order of their names, numbered ones in order of their numbers. A leaf names
// the data's address and size.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "layout.h"

namespace vek::tools {

// ---- The stub's constants ------------------------------------------------------------

// Where the section of the stub's constants (layout.h) lies in the image. A stub whose
// section is shorter than the constants cannot carry the blocks it has no room for.
struct SectionSpan {
  uint32_t file_offset = 0;   // PointerToRawData
  uint32_t raw_size = 0;      // SizeOfRawData
  uint32_t virtual_size = 0;  // VirtualSize: what the loader maps of it
  uint64_t image_end = 0;     // where the headers and every section's raw data end
  bool Holds(size_t constants) const { return raw_size >= constants && virtual_size >= constants; }
  bool HoldsConfigOffset() const { return Holds(StubConstants::kSizeWithoutExtension); }
  bool HoldsExtensionOffset() const { return Holds(StubConstants::kSizeWithoutFeatures); }
  bool HoldsFeatures() const { return Holds(StubConstants::kSizeWithoutSelfCrc); }
  bool HoldsSelfCrc() const { return Holds(StubConstants::kSizeWithSelfCrc); }
};

// Locates the start-offset section in the bytes of a PE image; nullopt when the bytes
// are no PE image or it has no such section. A section of that name that is not a
// section of its own (fewer than 4 bytes, in the headers, overlapping another
// section's data, beyond the bytes) gives nullopt too, with the reason in *problem;
// *problem stays empty otherwise. When image holds only the beginning of a longer
// file (enough for the headers), file_size gives the file's length.
std::optional<SectionSpan> FindStartOffsetSection(const unsigned char* image, size_t size,
                                                  std::string* problem = nullptr, uint64_t file_size = 0);

// ---- Resources -------------------------------------------------------------------------

// Resource types by number.
inline constexpr uint16_t kIconType = 3;        // one image of an icon
inline constexpr uint16_t kIconGroupType = 14;  // an icon: its images, by the numbers of their resources
inline constexpr uint16_t kVersionType = 16;
inline constexpr uint16_t kManifestType = 24;

// A type or a name of a resource: a number, or a name when `name` is not empty.
struct ResourceId {
  uint16_t number = 0;
  std::u16string name;
  bool operator==(const ResourceId&) const = default;
};

struct Resource {
  ResourceId type, name;
  uint16_t language = 0;
  uint32_t code_page = 0;
  std::string data;
  uint32_t file_offset = 0;  // where the data lies in the image it was read from
};

// Reads every resource of the PE image in image (its first size bytes, which hold at
// least its headers and its resource table): false when it is no PE image or its
// table is broken, with the reason in *problem. An image without a resource table has
// none: true, *out empty. Every offset is checked against the bytes it lies in; a
// directory is read once (two entries that lead to one are refused), the directories
// together hold at most 16,384 entries, and the resources' data together never take
// more than the image's bytes.
bool ReadResources(const unsigned char* image, size_t size, std::vector<Resource>* out, std::string* problem = nullptr);

// What is wrong with the PE image's layout for vekpack to write it anew: a section
// that ends beyond what 32 bits address, a file alignment that is no power of two
// from 512 to 64 KiB, a section alignment smaller than that or no power of two (an
// image without an optional header has no alignments). Empty when it is fine.
std::string CheckLayout(const unsigned char* image, size_t size);

// Gives the PE image in *image `resources` instead of its own: their table goes into
// a new section ".rsrc" after the end of the file and of every section, the resource
// table of the optional header points at it, and the section count, the size of the
// image and of its initialised data grow with it. The old table's section stays where
// it is, renamed ".rsrc0" when it was ".rsrc". The image is read back with
// ReadResources before *image is changed: it must give `resources` again. Returns
// what could not be done (CheckLayout's refusals, no room for another section
// header, a read-back that fails, ...); empty when done.
std::string ReplaceResources(std::string* image, const std::vector<Resource>& resources);

// ---- The signature ---------------------------------------------------------------------

enum class SignatureState {
  kUnsigned,   // no security directory: nothing done
  kDropped,    // the certificates were cut off the end, the directory cleared
  kMisplaced,  // certificates that do not lie at the end, after every section: kept
};

// Takes the signature (the certificates named by the security directory) off the
// image: a stub's signature would lie in the middle of the installer made of it.
SignatureState DropSignature(std::string* image);

}  // namespace vek::tools
