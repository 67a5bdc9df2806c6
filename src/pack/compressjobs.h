// Files deflated on several threads and handed back in the order they came, so that
// the archive's bytes are the same whatever the number of threads.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vek::build {

class Deflater;

// A file as it goes into the archive.
struct PackedData {
  std::string bytes;  // the zlib stream, or the file itself
  bool deflated = false;
  uint32_t crc = 0;  // of bytes
  uint32_t original_size = 0;
};

// A file stays stored unless its stream saves at least this part of it (1/32).
inline constexpr size_t kStoredUnlessSaving = 32;

// Deflates data (keeping it stored when the stream saves too little) and computes
// the checksum of what goes into the archive.
PackedData PackData(Deflater& deflater, std::string data);

class CompressionJobs {
 public:
  // threads 0: one for each processor; 1: everything on the calling thread.
  CompressionJobs(int level, unsigned threads);
  ~CompressionJobs();
  CompressionJobs(const CompressionJobs&) = delete;
  CompressionJobs& operator=(const CompressionJobs&) = delete;

  unsigned threads() const { return threads_; }
  // Hands a file's bytes over.
  void Give(std::string data);
  // The oldest file given and not taken yet, once it is done; rethrows what its
  // deflating threw.
  PackedData Take();
  // Files given and not taken, and their bytes.
  size_t waiting() const { return waiting_; }
  uint64_t waiting_bytes() const { return waiting_bytes_; }

 private:
  struct Job {
    std::string data;
    uint32_t size = 0;
    PackedData packed;
    std::exception_ptr failure;
    bool started = false;
    bool done = false;
  };
  void Work();

  const int level_;
  unsigned threads_;
  std::unique_ptr<Deflater> inline_deflater_;  // with one thread: no thread at all
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable job_done_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  size_t waiting_ = 0;
  uint64_t waiting_bytes_ = 0;
};

}  // namespace vek::build
