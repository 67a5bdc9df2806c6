// The publisher's icon: a Windows .ico file, checked, put into the stub's resources in
// place of the stub's own icon (MAINICON): the icon of its window, and, as the first
// icon of the file, the one Explorer shows for it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "packedge.h"
#include "pefile.h"

namespace vek::build {

inline constexpr size_t kIconSizeLimit = 1 << 20;  // the whole .ico file, in bytes
inline constexpr size_t kIconImageLimit = 64;

// One image of an icon: its entry of the .ico file's directory and its bytes, a
// bitmap (a BITMAPINFOHEADER, then the colours and the mask) or a PNG file.
struct IconImage {
  uint8_t width = 0, height = 0, colors = 0;  // 0: 256 pixels, or no palette
  uint16_t planes = 0, bit_count = 0;
  std::string data;
};

// Checks the bytes of a .ico file and returns its images; *problem (left empty when
// they are fine) says what is wrong: a directory that is not an icon's, no image or
// more than kIconImageLimit, an empty image, an image beyond the file's end or in its
// directory, two entries whose images share bytes, an image neither a bitmap twice as
// high as it is wide (colours and mask) nor a PNG.
std::vector<IconImage> ParseIcon(const std::string& bytes, std::string* problem);

// Reads the .ico file at path and returns its images; throws BuildError naming it
// when it cannot be read or is no icon vekpack can use (with what vekpack takes).
std::vector<IconImage> ReadIcon(PackEdge& edge, const std::string& path);

// Puts the images into the stub's resources as its icon MAINICON, in the language of
// the stub's own, whose images they replace; every other resource stays as it is (the
// list then goes back into the stub through tools::ReplaceResources). Throws
// BuildError naming stub_name when the stub has no such icon.
void PutIcon(std::vector<tools::Resource>& resources, const std::string& stub_name,
             const std::vector<IconImage>& images);

}  // namespace vek::build
