// The version information of a Windows executable (its version resource: resource
// type 16, id 1), as Explorer's Details and GetFileVersionInfo show it: vekpack sets
// a publisher's texts in the stub's, vek list shows it.
//
// The stub's resource gives each string a slot (src/stub/makeversion.py): a String
// block whose length covers the whole slot while its value length counts the text and
// its zero only. A text that fits is set in place, within its slot, and the rest of
// the slot filled with zeros; one that does not (or a string the resource lacks) gets
// the resource rebuilt with a block that fits (AddVersionStrings).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vek::tools {

// Where the version resource's bytes lie in the file of a PE image.
struct ResourcePlace {
  uint32_t file_offset = 0;
  uint32_t size = 0;
};

// Finds the version resource of the PE image in image (its first size bytes, which
// hold at least its headers and its resource section): the first language of type
// 16, id 1, reached through the resource table of the optional header. nullopt when
// there is none or the directory is broken (ReadResources: *problem says how).
std::optional<ResourcePlace> FindVersionResource(const unsigned char* image, size_t size,
                                                 std::string* problem = nullptr);

struct VersionInfo {
  uint16_t file_version[4] = {};  // VS_FIXEDFILEINFO's, most significant first
  uint16_t product_version[4] = {};
  // The first string table's strings in order: key and value, both UTF-8.
  std::vector<std::pair<std::string, std::string>> strings;
};

// Reads the version resource's bytes; false when they are no version resource.
bool ReadVersionInfo(const unsigned char* resource, size_t size, VersionInfo* out);

// Sets, in the version resource's bytes, both fixed versions to `numbers` (unless
// nullptr) and each string given (UTF-8) in its slot of every string table. Returns
// what could not be done (a key the resource lacks, a text longer than its slot, bytes
// that are no version resource); empty when all was set.
std::string SetVersionInfo(unsigned char* resource, size_t size, const uint16_t* numbers,
                           const std::vector<std::pair<std::string, std::string>>& strings);

// The version resource's bytes with a String block (of a slot that fits its text,
// empty) added to every string table for each key of `strings` that the table lacks,
// and in place of each one whose slot is too small for its text; nullopt when the
// bytes are no version resource or the blocks would outgrow their 16-bit lengths.
std::optional<std::string> AddVersionStrings(const unsigned char* resource, size_t size,
                                             const std::vector<std::pair<std::string, std::string>>& strings);

}  // namespace vek::tools
