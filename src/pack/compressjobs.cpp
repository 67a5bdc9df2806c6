#include "compressjobs.h"

#include "crc32.h"
#include "deflater.h"

namespace vek::build {

PackedData PackData(Deflater& deflater, std::string data) {
  PackedData packed;
  packed.original_size = static_cast<uint32_t>(data.size());
  const size_t limit = data.size() - data.size() / kStoredUnlessSaving;
  std::string stream;
  if (data.size() >= kStoredUnlessSaving && deflater.Compress(data.data(), data.size(), limit, &stream)) {
    packed.bytes = std::move(stream);
    packed.deflated = true;
  } else {
    packed.bytes = std::move(data);
  }
  packed.crc = Crc32(0, packed.bytes.data(), packed.bytes.size());
  return packed;
}

CompressionJobs::CompressionJobs(int level, unsigned threads) : level_(level), threads_(threads) {
  if (threads_ == 0) threads_ = std::thread::hardware_concurrency();
  if (threads_ == 0) threads_ = 1;
  if (threads_ == 1) {
    inline_deflater_ = std::make_unique<Deflater>(level_);
    return;
  }
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
  if (inline_deflater_) {
    try {
      job.packed = PackData(*inline_deflater_, std::move(data));
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

PackedData CompressionJobs::Take() {
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
  std::unique_ptr<Deflater> deflater;
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
    PackedData packed;
    std::exception_ptr failure;
    try {
      if (!deflater) deflater = std::make_unique<Deflater>(level_);
      packed = PackData(*deflater, std::move(data));
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    // (A deque keeps its elements in place while others are added at its end.)
    job->packed = std::move(packed);
    job->failure = failure;
    job->done = true;
    job_done_.notify_all();
  }
}

}  // namespace vek::build
