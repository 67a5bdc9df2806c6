#include "open.h"

#include <string.h>

#include "configtext.h"
#include "errorwords.h"
#include "stubconfig.h"

namespace vek::tools {
namespace {

// Reads the configuration block [start.config_offset, start.offset) of the file;
// false when there is none; a block that cannot be read or lacks its magic gives true
// with *error set.
bool ReadConfigBlock(FileEdge& edge, FileHandle file, const ArchiveStart& start, std::string* text,
                     std::string* error) {
  if (start.config_offset == 0) return false;
  if (start.config_misplaced) {
    *error = "the stub names a configuration at " + std::to_string(start.config_offset) +
             ", outside the space between its image and the archive (the installer refuses to run)";
    return true;
  }
  const uint32_t size = start.offset - start.config_offset;
  std::string block;
  bool read = size >= kConfigMagicSize && size <= kConfigMagicSize + kConfigTextLimit;
  if (read) {
    block.resize(size);
    uint32_t done = 0;
    read = !edge.Seek(file, start.config_offset) && !edge.Read(file, block.data(), size, &done) && done == size;
  }
  if (!read || memcmp(block.data(), kConfigMagic, kConfigMagicSize) != 0) {
    *error = "the configuration block at " + std::to_string(start.config_offset) + " is damaged";
    return true;
  }
  *text = block.substr(kConfigMagicSize);
  StubConfig config;
  std::string copy = *text;
  ConfigResult result = ParseStubConfig(copy.data(), copy.size(), &config);
  if (!result.ok()) {
    *error = DescribeConfigResult("the configuration", result);
  }
  return true;
}

}  // namespace

bool OpenArchive(const std::string& path, OpenedArchive* archive, std::string* error) {
  archive->path = path;
  FileHandle file = kNoFile;
  auto start = LocateArchive(path, error, &file);
  if (!start) return false;
  archive->start = *start;
  FileEdge& edge = PlatformFileEdge();
  archive->has_config = ReadConfigBlock(edge, file, *start, &archive->config, &archive->config_error);
  ArchiveReader& reader = archive->reader;
  const Error e = reader.Open(edge, file, start->offset, start->extension);
  if (e) {
    *error = ErrorInWords(e);
    if (e.kind == ErrorKind::kInOut && e.code == kIoReadBeyondEnd) {
      *error += " (the archive is cut short: " + std::to_string(reader.GetLoadedEntryCount()) + " of " +
                std::to_string(reader.GetEntryCount()) + " entry records present)";
    }
    CloseArchive(archive);
    return false;
  }
  return true;
}

void CloseArchive(OpenedArchive* archive) { (void)archive->reader.Close(); }

void NoteHowFound(const OpenedArchive& archive, FILE* out) {
  if (archive.start.source != StartSource::kScan) return;
  fprintf(out,
          "%s: note: no VEK stub's start offset in this file; the archive at offset %u was found by "
          "searching for its signature\n",
          archive.path.c_str(), archive.start.offset);
}

}  // namespace vek::tools
