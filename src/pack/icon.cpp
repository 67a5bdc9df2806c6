#include "icon.h"

#include <string.h>

#include <algorithm>

#include "archivesink.h"
#include "layout.h"
#include "pefile.h"
#include "stubpatch.h"

namespace vek::build {
namespace {

// A .ico file: a directory (reserved 0, type 1, the count), then an entry per image
// (width, height, colours, reserved, planes, bits per pixel, the image's size and
// offset in the file). An icon resource keeps the same directory with the number of
// the image's own resource in place of the offset.
constexpr size_t kDirectorySize = 6;
constexpr size_t kTypeOffset = 2, kCountOffset = 4;
constexpr uint16_t kIconFileType = 1;
constexpr size_t kEntrySize = 16, kGroupEntrySize = 14;
constexpr size_t kPlanesOffset = 4, kBitCountOffset = 6, kBytesOffset = 8, kImageOffset = 12;
// An image: a BITMAPINFOHEADER (its size, width, height: the colours' rows and the
// mask's), or a PNG file by its signature.
constexpr uint32_t kBitmapHeaderSize = 40;
constexpr size_t kBitmapWidthOffset = 4, kBitmapHeightOffset = 8;
constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr char16_t kIconName[] = u"MAINICON";

bool IsPng(const unsigned char* p, size_t size) {
  return size >= sizeof kPngSignature && memcmp(p, kPngSignature, sizeof kPngSignature) == 0;
}

bool IsIconBitmap(const unsigned char* p, size_t size) {
  if (size < kBitmapHeaderSize || LoadU32(p) != kBitmapHeaderSize) return false;
  const int64_t width = static_cast<int32_t>(LoadU32(p + kBitmapWidthOffset));
  const int64_t height = static_cast<int32_t>(LoadU32(p + kBitmapHeightOffset));
  return width > 0 && height == 2 * width;
}

bool IsMainIcon(const tools::Resource& r) {
  if (!(r.type == tools::ResourceId{tools::kIconGroupType, {}})) return false;
  const std::u16string& name = r.name.name;
  const std::u16string main(kIconName);
  return name.size() == main.size() && std::equal(name.begin(), name.end(), main.begin(), [](char16_t a, char16_t b) {
           return (a >= u'a' && a <= u'z' ? a - 32 : a) == b;
         });
}

}  // namespace

std::vector<IconImage> ParseIcon(const std::string& file, std::string* problem) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
  problem->clear();
  if (file.size() < kDirectorySize || LoadU16(bytes) != 0 || LoadU16(bytes + kTypeOffset) != kIconFileType) {
    *problem = "it does not begin as an icon does";
    return {};
  }
  const size_t count = LoadU16(bytes + kCountOffset);
  if (count == 0 || count > kIconImageLimit) {
    *problem = "it holds " + std::to_string(count) + " images";
    return {};
  }
  if (file.size() < kDirectorySize + count * kEntrySize) {
    *problem = "its directory is cut short";
    return {};
  }
  std::vector<IconImage> images;
  const size_t directory_end = kDirectorySize + count * kEntrySize;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* entry = bytes + kDirectorySize + i * kEntrySize;
    const uint64_t size = LoadU32(entry + kBytesOffset), at = LoadU32(entry + kImageOffset);
    const std::string which = "image " + std::to_string(i + 1);
    if (size == 0) {
      *problem = which + " is empty";
      return {};
    }
    if (at + size > file.size()) {
      *problem = which + " lies beyond the end of the file";
      return {};
    }
    if (at < directory_end) {
      *problem = which + " lies in the directory";
      return {};
    }
    // Each image its own bytes: entries that name one image would copy it for each.
    for (size_t j = 0; j < i; ++j) {
      const unsigned char* other = bytes + kDirectorySize + j * kEntrySize;
      const uint64_t other_at = LoadU32(other + kImageOffset), other_end = other_at + LoadU32(other + kBytesOffset);
      if (at < other_end && other_at < at + size) {
        *problem = which + " overlaps image " + std::to_string(j + 1);
        return {};
      }
    }
    if (!IsPng(bytes + at, size) && !IsIconBitmap(bytes + at, size)) {
      *problem = which + " is neither a bitmap of an icon nor a PNG";
      return {};
    }
    images.push_back({entry[0], entry[1], entry[2], LoadU16(entry + kPlanesOffset), LoadU16(entry + kBitCountOffset),
                      file.substr(at, size)});
  }
  return images;
}

std::vector<IconImage> ReadIcon(PackEdge& edge, const std::string& path) {
  std::string problem;
  std::vector<IconImage> images = ParseIcon(ReadInputFile(edge, path, kIconSizeLimit + 1, "icon"), &problem);
  if (!problem.empty()) {
    throw BuildError(path + ": not an icon vekpack can use (" + problem + "); it takes a Windows .ico file of 1 to " +
                     std::to_string(kIconImageLimit) + " images, each a bitmap or a PNG, of at most " +
                     std::to_string(kIconSizeLimit) + " bytes");
  }
  return images;
}

void PutIcon(std::vector<tools::Resource>& resources, const std::string& stub_name,
             const std::vector<IconImage>& images) {
  const auto own = std::find_if(resources.begin(), resources.end(), IsMainIcon);
  if (own == resources.end()) {
    throw BuildError(stub_name + ": this stub cannot carry an icon (it has no icon MAINICON)");
  }
  tools::Resource group = *own;
  resources.erase(own);
  // The images of the stub's own icon go; the numbers of those that stay are taken.
  std::vector<uint16_t> gone, taken;
  const auto* old = reinterpret_cast<const unsigned char*>(group.data.data());
  const size_t old_count = group.data.size() < kDirectorySize ? 0 : LoadU16(old + kCountOffset);
  for (size_t i = 0; i < old_count && kDirectorySize + (i + 1) * kGroupEntrySize <= group.data.size(); ++i) {
    gone.push_back(LoadU16(old + kDirectorySize + i * kGroupEntrySize + kImageOffset));
  }
  std::erase_if(resources, [&](const tools::Resource& r) {
    const bool image = r.type == tools::ResourceId{tools::kIconType, {}} && r.name.name.empty();
    if (image && std::find(gone.begin(), gone.end(), r.name.number) == gone.end()) taken.push_back(r.name.number);
    return image && std::find(gone.begin(), gone.end(), r.name.number) != gone.end();
  });

  group.data.assign(kDirectorySize + images.size() * kGroupEntrySize, '\0');
  auto* directory = reinterpret_cast<unsigned char*>(group.data.data());
  StoreU16(directory + kTypeOffset, kIconFileType);
  StoreU16(directory + kCountOffset, static_cast<uint16_t>(images.size()));
  uint16_t number = 0;
  for (size_t i = 0; i < images.size(); ++i) {
    do ++number;
    while (std::find(taken.begin(), taken.end(), number) != taken.end());
    unsigned char* entry = directory + kDirectorySize + i * kGroupEntrySize;
    const IconImage& image = images[i];
    entry[0] = image.width;
    entry[1] = image.height;
    entry[2] = image.colors;
    StoreU16(entry + kPlanesOffset, image.planes);
    StoreU16(entry + kBitCountOffset, image.bit_count);
    StoreU32(entry + kBytesOffset, static_cast<uint32_t>(image.data.size()));
    StoreU16(entry + kImageOffset, number);
    tools::Resource& r = resources.emplace_back();
    r.type.number = tools::kIconType;
    r.name.number = number;
    r.language = group.language;
    r.data = image.data;
  }
  resources.push_back(std::move(group));
}

}  // namespace vek::build
