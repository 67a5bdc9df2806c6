// Solid blocks encoded on several threads and handed back in the order they came, so
// that the archive's bytes are the same whatever the number of threads.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lzmaenc.h"

namespace vek::build {

// A block as it goes into the archive.
struct PackedBlock {
  std::vector<unsigned char> stream;  // the raw LZMA stream
  unsigned char props[kLzmaPropsSize] = {};
  uint32_t crc = 0;  // of the stream
  uint32_t decoded_size = 0;
};

PackedBlock PackBlock(const std::string& data, const LzmaOptions& options);

// Whether a file is worth a place in a block, judged by a sample of it (its first
// kSampleSize bytes): it stays stored when LZMA at level 1 leaves at least
// kStoredAbove of the sample (pictures, archives, anything compressed already).
// Files smaller than kAlwaysSolidBelow go in without a look: alone they shrink little
// whatever they hold, and among their neighbours they cost next to nothing.
inline constexpr size_t kSampleSize = 256 * 1024;
inline constexpr double kStoredAbove = 0.97;
inline constexpr size_t kAlwaysSolidBelow = 64;
bool WorthCompressing(const std::string& sample);

class CompressionJobs {
 public:
  // threads 0: one for each processor; 1: everything on the calling thread.
  CompressionJobs(const LzmaOptions& options, unsigned threads);
  ~CompressionJobs();
  CompressionJobs(const CompressionJobs&) = delete;
  CompressionJobs& operator=(const CompressionJobs&) = delete;

  unsigned threads() const { return threads_; }
  // Hands a block's decoded bytes over.
  void Give(std::string data);
  // The oldest block given and not taken yet, once it is done; rethrows what its
  // encoding threw.
  PackedBlock Take();
  // Blocks given and not taken, and their bytes.
  size_t waiting() const { return waiting_; }
  uint64_t waiting_bytes() const { return waiting_bytes_; }

 private:
  struct Job {
    std::string data;
    uint32_t size = 0;
    PackedBlock packed;
    std::exception_ptr failure;
    bool started = false;
    bool done = false;
  };
  void Work();

  const LzmaOptions options_;
  unsigned threads_;
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
