#include "stubpatch.h"

#include "archivesink.h"
#include "errorwords.h"
#include "icon.h"
#include "layout.h"
#include "pefile.h"
#include "selfcrc.h"
#include "vekwriter.h"
#include "versioninfo.h"

namespace vek::build {
namespace {

constexpr size_t kInputBlock = 64 * 1024;

void SetVersion(std::string& stub, const std::string& stub_name, const ResourceSettings& version) {
  if (version.strings.empty() && !version.has_numbers) return;
  auto* image = reinterpret_cast<unsigned char*>(stub.data());
  const auto place = tools::FindVersionResource(image, stub.size());
  if (!place) {
    if (!version.asked) return;
    throw BuildError(stub_name + ": this stub cannot carry version information (it has no version resource)");
  }
  const std::string problem = tools::SetVersionInfo(image + place->file_offset, place->size,
                                                    version.has_numbers ? version.numbers : nullptr, version.strings);
  if (!problem.empty()) throw BuildError(stub_name + ": " + problem);
  // Read back as vek list reads it.
  tools::VersionInfo info;
  if (!tools::ReadVersionInfo(image + place->file_offset, place->size, &info)) {
    throw BuildError(stub_name + ": its version information does not read back once set");
  }
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
  if (version) SetVersion(out, stub_name, *version);
  // After the version: the resources are copied into a section of their own.
  if (version && !version->icon.empty()) SetIcon(out, stub_name, version->icon);
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
