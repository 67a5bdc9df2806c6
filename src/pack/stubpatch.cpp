#include "stubpatch.h"

#include <algorithm>

#include "archivesink.h"
#include "errorwords.h"
#include "icon.h"
#include "layout.h"
#include "manifest.h"
#include "pefile.h"
#include "selfcrc.h"
#include "vekwriter.h"
#include "versioninfo.h"

namespace vek::build {
namespace {

constexpr size_t kInputBlock = 64 * 1024;

// Sets the version's texts and numbers in the stub's version resource, in place where
// it has a slot that fits each; returns the resource grown by the strings it lacks or
// cannot fit otherwise (empty: set in place, or nothing to set).
std::string SetVersion(std::string& stub, const std::string& stub_name, const ResourceSettings& version) {
  if (version.strings.empty() && !version.has_numbers) return "";
  auto* image = reinterpret_cast<unsigned char*>(stub.data());
  const auto place = tools::FindVersionResource(image, stub.size());
  if (!place) {
    if (!version.asked) return "";
    throw BuildError(stub_name + ": this stub cannot carry version information (it has no version resource)");
  }
  unsigned char* resource = image + place->file_offset;
  tools::VersionInfo own;
  if (!tools::ReadVersionInfo(resource, place->size, &own)) {
    throw BuildError(stub_name + ": its version resource is damaged");
  }
  bool slots = std::all_of(version.strings.begin(), version.strings.end(), [&](const auto& s) {
    return std::any_of(own.strings.begin(), own.strings.end(), [&](const auto& o) { return o.first == s.first; });
  });
  if (slots) {  // and every text fits its slot: tried on a copy
    std::string trial(reinterpret_cast<const char*>(resource), place->size);
    slots = tools::SetVersionInfo(reinterpret_cast<unsigned char*>(trial.data()), trial.size(),
                                  version.has_numbers ? version.numbers : nullptr, version.strings)
                .empty();
  }
  std::string grown;
  if (!slots) {
    auto added = tools::AddVersionStrings(resource, place->size, version.strings);
    if (!added) throw BuildError(stub_name + ": its version resource cannot take the strings");
    grown = std::move(*added);
    resource = reinterpret_cast<unsigned char*>(grown.data());
  }
  const std::string problem = tools::SetVersionInfo(resource, slots ? place->size : grown.size(),
                                                    version.has_numbers ? version.numbers : nullptr, version.strings);
  if (!problem.empty()) throw BuildError(stub_name + ": " + problem);
  // Read back as vek list reads it.
  tools::VersionInfo info;
  if (!tools::ReadVersionInfo(resource, slots ? place->size : grown.size(), &info)) {
    throw BuildError(stub_name + ": its version information does not read back once set");
  }
  return grown;
}

// Gives the stub the icon, the manifest and the grown version resource of
// `settings`, in a resource table of its own: see tools::ReplaceResources.
void SetResources(std::string& stub, const std::string& stub_name, const ResourceSettings& settings,
                  const std::string& grown_version) {
  const bool icon = !settings.icon.empty();
  const std::string what = icon ? "an icon" : "its new resources";
  std::vector<tools::Resource> resources;
  if (!tools::ReadResources(reinterpret_cast<const unsigned char*>(stub.data()), stub.size(), &resources)) {
    // A manifest that names the product is left out with the rest, unless it was asked for.
    if (!icon && grown_version.empty() && !settings.manifest.level_asked) return;
    throw BuildError(stub_name + ": this stub cannot carry " + what + " (its resources are damaged)");
  }
  bool changed = false;
  if (!grown_version.empty()) {
    for (tools::Resource& r : resources) {
      if (r.type == tools::ResourceId{tools::kVersionType, {}} && r.name == tools::ResourceId{1, {}}) {
        r.data = grown_version;
        changed = true;
      }
    }
  }
  if (settings.manifest.Changes()) {
    auto manifest = std::find_if(resources.begin(), resources.end(), [](const tools::Resource& r) {
      return r.type == tools::ResourceId{tools::kManifestType, {}};
    });
    if (manifest == resources.end()) {
      if (settings.manifest.level_asked) {
        throw BuildError(stub_name + ": this stub cannot carry an execution level (it has no manifest)");
      }
    } else {
      std::string problem;
      std::string text = SetManifest(manifest->data, settings.manifest, &problem);
      if (!problem.empty())
        throw BuildError(stub_name + ": this stub cannot carry the installer's manifest (" + problem + ")");
      changed = changed || text != manifest->data;
      manifest->data = std::move(text);
    }
  }
  if (icon) {
    PutIcon(resources, stub_name, settings.icon);
    changed = true;
  }
  if (!changed) return;
  const std::string problem = tools::ReplaceResources(&stub, resources);
  if (!problem.empty()) throw BuildError(stub_name + ": this stub cannot carry " + what + " (" + problem + ")");
}

}  // namespace

std::string ReadInputFile(PackEdge& edge, const std::string& path, uint64_t limit, const std::string& what) {
  PathFacts facts;
  Error error = edge.Examine(kNoFolder, path.c_str(), &facts);
  if (error.ok() && facts.kind == FileKind::kFolder)
    throw BuildError(path + ": cannot open the " + what + ": it is a folder");
  FileHandle file = kNoFile;
  if (error.ok()) error = edge.OpenRead(kNoFolder, path.c_str(), &file);
  if (!error.ok()) throw BuildError(path + ": cannot open the " + what + ": " + tools::ErrorInWords(error));
  std::string bytes;
  for (;;) {
    const size_t at = bytes.size();
    bytes.resize(at + kInputBlock);
    size_t got = 0;
    error = edge.Read(file, &bytes[at], kInputBlock, &got);
    bytes.resize(at + got);
    if (!error.ok() || got == 0 || bytes.size() >= limit) break;
  }
  (void)edge.Close(file);  // read only: nothing is lost when it fails
  if (!error.ok()) throw BuildError(path + ": cannot read the " + what + ": " + tools::ErrorInWords(error));
  if (bytes.size() >= limit) {
    throw BuildError(path + ": the " + what + " is larger than " + std::to_string(limit - 1) + " bytes");
  }
  return bytes;
}

bool StubCarriesExtension(const std::string& stub_bytes) {
  auto span =
      tools::FindStartOffsetSection(reinterpret_cast<const unsigned char*>(stub_bytes.data()), stub_bytes.size());
  return span && span->HoldsExtensionOffset();
}

uint32_t StubFeatures(const std::string& stub_bytes) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(stub_bytes.data());
  auto span = tools::FindStartOffsetSection(bytes, stub_bytes.size());
  if (!span || !span->HoldsFeatures() ||
      uint64_t{span->file_offset} + StubConstants::kSizeWithoutSelfCrc > stub_bytes.size()) {
    return 0;
  }
  const unsigned char* constants = bytes + span->file_offset;
  if (LoadU32(constants + StubConstants::kFeaturesMagicOffset) != kStubFeaturesMagic) return 0;
  return LoadU32(constants + StubConstants::kFeaturesOffset);
}

std::string PrepareStub(const std::string& stub_bytes, const std::string& stub_name, const std::string& config_block,
                        uint32_t extension_size, const ResourceSettings* version) {
  std::string problem;
  auto span = tools::FindStartOffsetSection(reinterpret_cast<const unsigned char*>(stub_bytes.data()),
                                            stub_bytes.size(), &problem);
  if (!problem.empty()) throw BuildError(stub_name + ": not a usable stub: " + problem);
  if (!span) {
    throw BuildError(stub_name + ": not a stub: it holds no archive start offset (no " +
                     std::string(kStartOffsetSection) + " section)");
  }
  if (!config_block.empty() && !span->HoldsConfigOffset()) {
    throw BuildError(stub_name + ": this stub cannot carry a configuration (its " + std::string(kStartOffsetSection) +
                     " section has no configuration offset)");
  }
  if (extension_size > 0 && !span->HoldsExtensionOffset()) {
    throw BuildError(stub_name + ": this stub cannot carry checksums (its " + std::string(kStartOffsetSection) +
                     " section has no extension block offset)");
  }
  if (stub_bytes.size() >= kPositionLimit) throw BuildError(stub_name + ": the stub is 2 GiB or larger");
  problem = tools::CheckLayout(reinterpret_cast<const unsigned char*>(stub_bytes.data()), stub_bytes.size());
  if (!problem.empty()) throw BuildError(stub_name + ": not a usable stub: " + problem);
  std::string out = stub_bytes;
  if (version) {
    const std::string grown_version = SetVersion(out, stub_name, *version);
    // After the version set in place: the resources are copied into a section of their own.
    if (!version->icon.empty() || version->manifest.Changes() || !grown_version.empty()) {
      SetResources(out, stub_name, *version, grown_version);
    }
  }
  auto* constants = reinterpret_cast<unsigned char*>(out.data()) + span->file_offset;
  const uint32_t stub_size = static_cast<uint32_t>(out.size());
  StoreU32(constants, static_cast<uint32_t>(stub_size + extension_size + config_block.size()));
  if (!config_block.empty()) StoreU32(constants + StubConstants::kConfigOffsetOffset, stub_size + extension_size);
  if (extension_size > 0) StoreU32(constants + StubConstants::kExtensionOffsetOffset, stub_size);
  out.append(extension_size, '\0');
  out += config_block;
  return out;
}

void SetStubSelfCrc(std::string* prepared, uint32_t covered, const std::string& stub_name) {
  auto* bytes = reinterpret_cast<unsigned char*>(prepared->data());
  SelfCrcExclusions exclusions;
  if (covered > prepared->size() || !FindSelfCrcExclusions(bytes, covered, &exclusions) ||
      exclusions.offset[2] + StubConstants::kSelfCrcSize > covered) {
    throw BuildError(stub_name + ": this stub says it checks its own bytes, but its " +
                     std::string(kStartOffsetSection) + " section has no room for their checksum");
  }
  StoreU32(bytes + exclusions.offset[2], SelfCrcUpdate(0, exclusions, 0, bytes, covered));
}

}  // namespace vek::build
