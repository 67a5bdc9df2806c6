#include "testsupport.h"

#include "extractor.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>

namespace vek::testing {
namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
  static std::atomic<int> counter{0};
  auto seed = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ =
      fs::temp_directory_path() / ("vektest-" + std::to_string(seed % 1000000007) + "-" + std::to_string(counter++));
  fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  // Read-only files must become writable again before they can go on Windows.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string ScratchFolder::destination(const std::string& below) const {
  std::string path = path_.string();
  const char separator = PlatformFileEdge().Separator();
  for (size_t at = 0; at < below.size();) {
    size_t end = below.find('/', at);
    if (end == std::string::npos) end = below.size();
    path += separator;
    path.append(below, at, end - at);
    at = end + 1;
  }
  return path;
}

std::string ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

const FaultyFileEdge::PlannedFault* FaultyFileEdge::Next(Op op) {
  std::lock_guard<std::mutex> hold(lock_);
  int n = ++counts_[static_cast<int>(op)];
  for (const PlannedFault& p : plans_) {
    if (p.op == op && p.nth == n) return &p;
  }
  return nullptr;
}

Error FaultyFileEdge::OpenRead(const char* path, FileHandle* file) {
  if (auto* f = Next(Op::kOpenRead)) return InOutError(f->code);
  Error e = inner_.OpenRead(path, file);
  if (e.ok()) ++open_;
  return e;
}

Error FaultyFileEdge::Create(const char* path, FileHandle* file) {
  if (auto* f = Next(Op::kCreate)) return InOutError(f->code);
  Error e = inner_.Create(path, file);
  if (e.ok()) ++open_;
  return e;
}

Error FaultyFileEdge::MakeDirectory(const char* path) {
  if (auto* f = Next(Op::kMakeDirectory)) return InOutError(f->code);
  return inner_.MakeDirectory(path);
}

Error FaultyFileEdge::CreateEntryFile(const char* path, size_t destination_length, FileHandle archive,
                                      FileHandle* file) {
  if (auto* f = Next(Op::kCreate)) return InOutError(f->code);
  Error e = inner_.CreateEntryFile(path, destination_length, archive, file);
  if (e.ok()) ++open_;
  return e;
}

Error FaultyFileEdge::FinishEntryFile(FileHandle file, const char* path, uint32_t dos_time_stamp, uint32_t attributes) {
  Error e = inner_.FinishEntryFile(file, path, dos_time_stamp, attributes);
  if (e.ok()) --open_;
  if (auto* f = Next(Op::kClose)) return InOutError(f->code);
  return e;
}

Error FaultyFileEdge::Seek(FileHandle file, int64_t offset) {
  if (auto* f = Next(Op::kSeek)) return InOutError(f->code);
  return inner_.Seek(file, offset);
}

Error FaultyFileEdge::Read(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
  if (auto* f = Next(Op::kRead)) {
    if (f->fault == Fault::kRefuse) return InOutError(f->code);
    uint32_t want = f->fault == Fault::kZero ? 0 : (count > 1 ? count / 2 : 0);
    return inner_.Read(file, buffer, want, done);
  }
  return inner_.Read(file, buffer, count, done);
}

Error FaultyFileEdge::Write(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
  if (auto* f = Next(Op::kWrite)) {
    if (f->fault == Fault::kRefuse) {
      *done = 0;
      return InOutError(f->code);
    }
    uint32_t want = f->fault == Fault::kZero ? 0 : (count > 1 ? count / 2 : 0);
    return inner_.Write(file, buffer, want, done);
  }
  return inner_.Write(file, buffer, count, done);
}

Error FaultyFileEdge::Close(FileHandle file) {
  Error e = inner_.Close(file);  // the handle is released even when the close "fails"
  if (e.ok()) --open_;
  if (auto* f = Next(Op::kClose)) return InOutError(f->code);
  return e;
}

LoadedArchive::LoadedArchive(const std::string& bytes, ArchiveFiles& edge) {
  fs::path path = folder_ / "archive.vek";
  WriteWholeFile(path, bytes);
  FileHandle file = kNoFile;
  load_error = edge.OpenRead(path.string().c_str(), &file);
  if (load_error.ok()) load_error = reader.Open(edge, file, 0);
}

std::string FakeStub(const char* section_name, size_t length) {
  std::string pe(length, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  testing::PatchU32(pe, 0x3C, 0x40);
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  testing::PatchU16(pe, 0x44 + 2, 2);   // two sections
  testing::PatchU16(pe, 0x44 + 16, 0);  // no optional header
  size_t table = 0x44 + 20;
  pe.replace(table, 5, ".text");
  testing::PatchU32(pe, table + 16, 0x10);
  testing::PatchU32(pe, table + 20, 0x100);
  pe.replace(table + 40, strlen(section_name), section_name);
  testing::PatchU32(pe, table + 40 + 16, 0x200);
  testing::PatchU32(pe, table + 40 + 20, 0x200);
  return pe;
}

std::string TestIcon(const std::vector<int>& sizes, bool png, std::vector<std::string>* images) {
  std::vector<std::string> own;
  if (!images) images = &own;
  images->clear();
  for (int size : sizes) {
    std::string bitmap(40, '\0');  // BITMAPINFOHEADER: colours and mask, 32 bits per pixel
    PatchU32(bitmap, 0, 40);
    PatchU32(bitmap, 4, size);
    PatchU32(bitmap, 8, 2 * size);
    PatchU16(bitmap, 12, 1);
    PatchU16(bitmap, 14, 32);
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {  // opaque blue and orange squares of size / 4
        const bool orange = ((x / (size / 4 + 1)) + (y / (size / 4 + 1))) % 2 != 0;
        bitmap += orange ? std::string("\x00\x80\xFF\xFF", 4) : std::string("\xA0\x30\x10\xFF", 4);
      }
    }
    bitmap.append(static_cast<size_t>((size + 31) / 32 * 4 * size), '\0');  // the mask: all shown
    images->push_back(bitmap);
  }
  if (png) images->push_back(std::string("\x89PNG\r\n\x1A\n", 8) + std::string(40, 'p'));
  std::string file(6 + 16 * images->size(), '\0');
  PatchU16(file, 2, 1);
  PatchU16(file, 4, static_cast<uint16_t>(images->size()));
  for (size_t i = 0; i < images->size(); ++i) {
    const size_t entry = 6 + 16 * i;
    const int size = i < sizes.size() ? sizes[i] : 0;
    file[entry] = file[entry + 1] = static_cast<char>(size & 0xFF);
    PatchU16(file, entry + 4, 1);
    PatchU16(file, entry + 6, 32);
    PatchU32(file, entry + 8, static_cast<uint32_t>((*images)[i].size()));
  }
  for (size_t i = 0; i < images->size(); ++i) {
    PatchU32(file, 6 + 16 * i + 12, static_cast<uint32_t>(file.size()));
    file += (*images)[i];
  }
  return file;
}

std::string WithBlockInStub(const std::string& stub, const std::string& bare, ExtensionPlace* place) {
  const size_t block =
      LoadU32(reinterpret_cast<const unsigned char*>(bare.data()) + bare.size() - ExtensionFooter::kSize);
  const size_t archive = bare.size() - ExtensionFooter::kSize - block;
  place->offset = static_cast<uint32_t>(stub.size() - block);
  place->end = static_cast<uint32_t>(stub.size());
  return stub.substr(0, stub.size() - block) + bare.substr(archive, block) + bare.substr(0, archive);
}

void PatchName(std::string& archive, uint32_t slot, const std::string& name, int length_byte) {
  size_t at = RecordAt(slot) + EntryRecord::kNameOffset;
  archive[at] = static_cast<char>(length_byte >= 0 ? length_byte : static_cast<int>(name.size()));
  for (size_t i = 0; i < name.size() && i < EntryRecord::kNameMaxLength; ++i) archive[at + 1 + i] = name[i];
}

}  // namespace vek::testing

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace vek::testing {
long long ModificationTime(const std::filesystem::path& path) {
#ifdef _WIN32
  // The file's own time: Wine's _wstat64 reports a time in 2107 wrongly.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  const ULONGLONG ticks = (ULONGLONG{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
  constexpr ULONGLONG kTicksPerSecond = 10000000, kSecondsFrom1601To1970 = 11644473600;
  return static_cast<long long>(ticks / kTicksPerSecond) - static_cast<long long>(kSecondsFrom1601To1970);
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_mtime);
#endif
}
}  // namespace vek::testing

#include <ostream>

namespace vek::testing {
bool RunningUnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}
}  // namespace vek::testing

namespace vek {
void PrintTo(const Error& error, std::ostream* os) {
  char text[128];
  FormatErrorMessage(error, text, sizeof text);
  *os << (error.ok() ? "no error" : ErrorClassName(error)) << " " << error.code << " \"" << text << "\"";
}
}  // namespace vek

namespace vek::testing {
Error ExtractAll(ArchiveReader& reader, TreeMaker& tree, const std::string& destination) {
  uint32_t n = reader.GetEntryCount();
  AnsiString dest(destination.c_str());
  for (uint32_t id = 1; id <= n; ++id) VEK_TRY(ExtractEntry(reader, tree, static_cast<int32_t>(id), dest));
  return NoError();
}
}  // namespace vek::testing
