// Fuzz target: arbitrary bytes as a PE image for the resource reader and writer, as a
// version resource, and as the publisher's .ico file. The reader stays within the
// bytes and copies no more than they hold; resources that were read are written
// back and must read back as they were (ReplaceResources checks it, and so does this
// target); version information that was set reads back; an icon that is taken names
// each of its bytes once and goes into a stub's resources.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "archivesink.h"
#include "icon.h"
#include "pefile.h"
#include "peseeds.h"
#include "versioninfo.h"

namespace {

// The bytes in a heap block of their own size: a read past them is caught.
std::unique_ptr<unsigned char[]> Exact(const unsigned char* data, size_t size) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
  if (size) memcpy(copy.get(), data, size);
  return copy;
}

void AsImage(const uint8_t* data, size_t size) {
  std::vector<vek::tools::Resource> resources;
  std::string problem;
  if (vek::tools::ReadResources(data, size, &resources, &problem)) {
    size_t copied = 0;
    for (const vek::tools::Resource& r : resources) copied += r.data.size();
    if (copied > size || !problem.empty()) abort();
    std::string image(reinterpret_cast<const char*>(data), size);
    const std::string before = image;
    if (vek::tools::ReplaceResources(&image, resources).empty()) {
      std::vector<vek::tools::Resource> again;
      if (!vek::tools::ReadResources(reinterpret_cast<const unsigned char*>(image.data()), image.size(), &again) ||
          again.size() != resources.size()) {
        abort();
      }
    } else if (image != before) {
      abort();  // a refusal leaves the image as it was
    }
  } else if (problem.empty() || !resources.empty()) {
    abort();
  }
  const auto place = vek::tools::FindVersionResource(data, size);
  if (!place) return;
  auto version = Exact(data + place->file_offset, place->size);
  vek::tools::VersionInfo info;
  (void)vek::tools::ReadVersionInfo(version.get(), place->size, &info);
  const uint16_t numbers[4] = {1, 2, 3, 4};
  if (vek::tools::SetVersionInfo(version.get(), place->size, numbers, {{"CompanyName", "Acme Ltd."}}).empty() &&
      !vek::tools::ReadVersionInfo(version.get(), place->size, &info)) {
    abort();
  }
}

void AsIcon(const uint8_t* data, size_t size) {
  std::string problem;
  const std::vector<vek::build::IconImage> images =
      vek::build::ParseIcon(std::string(reinterpret_cast<const char*>(data), size), &problem);
  if (!problem.empty()) return;
  size_t bytes = 0;
  for (const auto& image : images) bytes += image.data.size();
  if (bytes > size) abort();  // each byte in one image at most
  static const std::string stub = SeedPeImage();
  std::string out = stub;
  std::vector<vek::tools::Resource> resources;
  if (!vek::tools::ReadResources(reinterpret_cast<const unsigned char*>(out.data()), out.size(), &resources)) abort();
  try {
    vek::build::PutIcon(resources, "stub", images);
  } catch (const vek::build::BuildError&) {
    return;
  }
  if (!vek::tools::ReplaceResources(&out, resources).empty()) return;
  std::vector<vek::tools::Resource> read;
  if (!vek::tools::ReadResources(reinterpret_cast<const unsigned char*>(out.data()), out.size(), &read)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto exact = Exact(data, size);
  AsImage(exact.get(), size);
  vek::tools::VersionInfo info;
  (void)vek::tools::ReadVersionInfo(exact.get(), size, &info);
  AsIcon(exact.get(), size);
  return 0;
}
