// The resources of a Windows executable (a PE image): its resource table read into a
// list, and a list written back as the table of a section of its own, which the image
// then carries instead of its old one.
//
// The table is a tree of three levels (type, name, language) of directories: a header
// with the counts of named and numbered entries, then the entries, named ones first in
// order of their names, numbered ones in order of their numbers. A leaf names the
// data's address and size.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace vek::tools {

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
// table is broken. An image without a resource table has none: true, *out empty.
bool ReadResources(const unsigned char* image, size_t size, std::vector<Resource>* out);

// Gives the PE image in *image `resources` instead of its own: their table goes into
// a new section ".rsrc" after the end of the file and of every section, the resource
// table of the optional header points at it, and the section count, the size of the
// image and of its initialised data grow with it. The old table's section stays where
// it is, renamed ".rsrc0" when it was ".rsrc". Returns what could not be done (no room
// for another section header, ...); empty when done.
std::string ReplaceResources(std::string* image, const std::vector<Resource>& resources);

}  // namespace vek::tools
