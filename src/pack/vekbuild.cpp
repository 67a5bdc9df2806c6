#include "vekbuild.h"

#include <string.h>

#include <vector>

#include "errorwords.h"
#include "output.h"
#include "pechecksum.h"
#include "pefile.h"

namespace vek::build {
namespace {

// Folders above a path that are looked at, at most, to see whether it lies inside
// the source folder.
constexpr int kFolderLevelLimit = 4096;
// What is read at once of the output to sum its checksum.
constexpr size_t kChecksumBlock = size_t{1} << 20;

bool Missing(const Error& error) { return error.code == kIoFileNotFound || error.code == kWinErrorPathNotFound; }

[[noreturn]] void CannotExamine(const std::string& path, const Error& error) {
  throw BuildError(path + ": cannot examine it: " + tools::ErrorInWords(error));
}

// Whether the output's folder is the source folder or lies below it, as the file
// system resolves them: the folder and the folders above it (its "..", which is
// where a link leads back to) are compared with the source by identity. Folders
// not made yet count as the path leading to them.
bool OutputInside(PackEdge& edge, const std::string& output, const PathFacts& source) {
  std::string folder = output;
  PathFacts facts;
  for (;;) {  // the nearest folder of the path that exists
    size_t slash = folder.find_last_of(kPathSeparators);
    folder.resize(slash == std::string::npos ? 0 : slash == 0 ? 1 : slash);
    if (folder.empty()) folder = ".";
    Error error = edge.Examine(kNoFolder, folder.c_str(), &facts);
    if (error.ok()) break;
    if (!Missing(error)) CannotExamine(folder, error);
    if (slash == std::string::npos || slash == 0) return false;
  }
  for (int level = 0; level < kFolderLevelLimit; ++level) {
    if (facts.SameFileAs(source)) return true;
    PathFacts parent;
    folder += kPathSeparators[0];
    folder += "..";
    Error error = edge.Examine(kNoFolder, folder.c_str(), &parent);
    if (!error.ok()) CannotExamine(folder, error);
    if (parent.SameFileAs(facts)) return false;  // the root is its own parent
    facts = parent;
  }
  return false;
}

// Sets the PE checksum of the executable written to `output` (its stub `stub`), the
// file read back whole: every byte is in place, the extension block among them.
void WriteChecksum(PackEdge& edge, const TemporaryOutput& output, const std::string& name, const std::string& stub) {
  const uint64_t field = PeChecksumField(reinterpret_cast<const unsigned char*>(stub.data()), stub.size());
  if (field == 0) return;  // no optional header: no checksum
  FileHandle file = kNoFile;
  Error error = edge.OpenRead(kNoFolder, output.path().c_str(), &file);
  if (!error.ok()) throw BuildError(name + ": cannot read the output back: " + tools::ErrorInWords(error));
  PeChecksum checksum(field);
  std::vector<char> buffer(kChecksumBlock);
  for (;;) {
    size_t got = 0;
    error = edge.Read(file, buffer.data(), buffer.size(), &got);
    if (!error.ok() || got == 0) break;
    checksum.Add(buffer.data(), got);
  }
  (void)edge.Close(file);  // read only
  if (!error.ok()) throw BuildError(name + ": cannot read the output back: " + tools::ErrorInWords(error));
  unsigned char value[4];
  StoreU32(value, checksum.Finish());
  error = edge.WriteAt(output.file(), field, value, sizeof value);
  if (!error.ok()) throw BuildError(name + ": cannot write: " + tools::ErrorInWords(error));
}

}  // namespace

PackResult WriteArchive(const ArchiveBuilder& builder, const PackOptions& options) {
  PackEdge& edge = options.edge ? *options.edge : PlatformPackEdge();
  if (!options.config.empty() && options.stub.empty()) {
    throw BuildError(options.config + ": a configuration goes with a stub (--stub)");
  }
  ArchiveOptions archive;
  archive.compress_level = options.compress_level;
  archive.solid_block_size = options.solid_block_size;
  archive.threads = options.threads;
  std::string stub;
  uint32_t extension_at = 0;
  if (!options.stub.empty()) {
    ResourceSettings version;
    std::string config_block = options.config.empty()
                                   ? std::string()
                                   : MakeConfigBlock(edge, options.config, &builder, &version, options.warn);
    if (options.config.empty() && options.warn) options.warn(UnconfiguredWarning(builder));
    std::string stub_bytes = ReadInputFile(edge, options.stub, kPositionLimit, "stub");
    // A signature would lie in the middle of the installer, which it does not sign.
    switch (tools::DropSignature(&stub_bytes)) {
      case tools::SignatureState::kUnsigned: break;
      case tools::SignatureState::kDropped:
        if (options.warn)
          options.warn(options.stub + " is signed; its signature is dropped: sign the finished installer");
        break;
      case tools::SignatureState::kMisplaced:
        throw BuildError(options.stub +
                         ": this stub is signed, its certificates not at its end: sign the finished installer, not "
                         "the stub");
    }
    if (!StubCarriesExtension(stub_bytes)) {
      const std::string old = options.stub + ": this stub predates checked payloads";
      if (options.compress_level > 0) throw BuildError(old + "; it cannot extract compressed files (--compress)");
      if (options.warn) options.warn(old + ": no checksums written");
      archive.checksums = false;
    } else if (options.compress_level > 0 && !(StubFeatures(stub_bytes) & kStubFeatureSolidLzma)) {
      throw BuildError(options.stub +
                       ": this stub predates solid LZMA archives; it cannot extract compressed files (--compress)");
    }
    const uint32_t extension_size =
        archive.checksums ? ExtensionBlockSize(static_cast<uint32_t>(builder.entries().size())) : 0;
    stub = PrepareStub(stub_bytes, options.stub, config_block, extension_size, &version);
    // After the stub as prepared, which an icon grows.
    extension_at = static_cast<uint32_t>(stub.size() - config_block.size() - extension_size);
    if (extension_size > 0 && (StubFeatures(stub_bytes) & kStubFeatureSelfCheck)) {
      SetStubSelfCrc(&stub, extension_at, options.stub);
    }
  }
  // The output as it stands: a source that is this file is refused.
  PathFacts existing;
  Error error = edge.Examine(kNoFolder, options.output.c_str(), &existing);
  if (!error.ok() && !Missing(error)) CannotExamine(options.output, error);
  WriteHooks hooks;
  hooks.warn = options.warn;
  hooks.progress = options.progress;
  hooks.output = error.ok() && existing.kind == FileKind::kFile ? &existing : nullptr;

  TemporaryOutput output(edge, options.output);
  FileSink sink(edge, output.file(), options.output);
  sink.Append(stub.data(), stub.size());
  WrittenArchive written = WriteArchiveTo(builder, sink, edge, hooks, archive);
  std::string trailer;
  if (stub.empty()) {
    trailer = ExtensionTrailer(written.extension);
    sink.Append(trailer.data(), trailer.size());
  } else if (!written.extension.empty()) {
    sink.WriteAt(extension_at, written.extension.data(), written.extension.size());
  }
  sink.Finish();
  if (!stub.empty()) WriteChecksum(edge, output, options.output, stub);
  output.Replace();

  PackResult result;
  result.files = written.files;
  result.directories = written.directories;
  result.compressed = written.compressed;
  result.blocks = written.blocks;
  result.data_bytes = written.data_bytes;
  result.archive_bytes = written.archive_bytes;
  result.start_offset = static_cast<uint32_t>(stub.size());
  result.output_bytes = stub.size() + written.archive_bytes + trailer.size();
  result.checksums = !written.extension.empty();
  return result;
}

PackResult Pack(const PackOptions& options) {
  PackEdge& edge = options.edge ? *options.edge : PlatformPackEdge();
  const PathFacts source = ExamineSourceFolder(edge, options.source_folder);
  if (OutputInside(edge, options.output, source)) {
    throw BuildError(options.output + ": the output lies inside the source folder " + options.source_folder +
                     "; it would be packed into itself");
  }
  ArchiveBuilder builder;
  ScanFolder(options.source_folder, builder, options.warn, edge, FactsTaken::kWhenWritten);
  return WriteArchive(builder, options);
}

}  // namespace vek::build
