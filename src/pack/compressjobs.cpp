#include "compressjobs.h"

#include "crc32.h"

namespace vek::build {

PackedBlock PackBlock(const std::string& data, const LzmaOptions& options) {
  PackedBlock packed;
  packed.decoded_size = static_cast<uint32_t>(data.size());
  packed.stream =
      LzmaEncodeBlock(reinterpret_cast<const unsigned char*>(data.data()), data.size(), options, packed.props);
  packed.crc = Crc32(0, packed.stream.data(), packed.stream.size());
  return packed;
}

bool WorthCompressing(const std::string& sample) {
  if (sample.size() < kAlwaysSolidBelow) return true;
  LzmaOptions quick;
  quick.level = 1;
  quick.extreme = false;
  unsigned char props[kLzmaPropsSize];
  const size_t size =
      LzmaEncodeBlock(reinterpret_cast<const unsigned char*>(sample.data()), sample.size(), quick, props).size();
  return static_cast<double>(size) < kStoredAbove * static_cast<double>(sample.size());
}

CompressionJobs::CompressionJobs(const LzmaOptions& options, unsigned threads) : options_(options), threads_(threads) {
  if (threads_ == 0) threads_ = std::thread::hardware_concurrency();
  if (threads_ == 0) threads_ = 1;
  if (threads_ == 1) return;
  for (unsigned i = 0; i < threads_; ++i) workers_.emplace_back([this] { Work(); });
}

CompressionJobs::~CompressionJobs() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void CompressionJobs::Give(std::string data) {
  ++waiting_;
  waiting_bytes_ += data.size();
  Job job;
  job.size = static_cast<uint32_t>(data.size());
  if (workers_.empty()) {
    try {
      job.packed = PackBlock(data, options_);
    } catch (...) {
      job.failure = std::current_exception();
    }
    job.done = true;
    jobs_.push_back(std::move(job));
    return;
  }
  job.data = std::move(data);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  work_ready_.notify_one();
}

PackedBlock CompressionJobs::Take() {
  std::unique_lock<std::mutex> lock(mutex_);
  job_done_.wait(lock, [this] { return jobs_.front().done; });
  Job job = std::move(jobs_.front());
  jobs_.pop_front();
  lock.unlock();
  --waiting_;
  waiting_bytes_ -= job.size;
  if (job.failure) std::rethrow_exception(job.failure);
  return std::move(job.packed);
}

void CompressionJobs::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Job* job = nullptr;
    work_ready_.wait(lock, [&] {
      if (stopping_) return true;
      for (Job& j : jobs_) {
        if (!j.started) {
          job = &j;
          return true;
        }
      }
      return false;
    });
    if (stopping_) return;
    job->started = true;
    std::string data = std::move(job->data);
    lock.unlock();
    PackedBlock packed;
    std::exception_ptr failure;
    try {
      packed = PackBlock(data, options_);
    } catch (...) {
      failure = std::current_exception();
    }
    data = std::string();  // its memory goes before the next block's comes
    lock.lock();
    // (A deque keeps its elements in place while others are added at its end.)
    job->packed = std::move(packed);
    job->failure = failure;
    job->done = true;
    job_done_.notify_all();
  }
}

}  // namespace vek::build
