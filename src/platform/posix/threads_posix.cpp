// The threads of the POSIX build: pthreads, as many processors as this process may
// run on.
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include "fileedge.h"

namespace vek {
namespace {

// A thread started by Start, until Join.
struct Worker {
  void (*work)(void*);
  void* context;
  pthread_t thread;
};

void* RunWorker(void* worker) {
  auto* w = static_cast<Worker*>(worker);
  w->work(w->context);
  return nullptr;
}

class PosixThreads final : public Threads {
 public:
  uint32_t Processors() override {
#ifdef __linux__
    cpu_set_t set;
    const int allowed = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
    if (allowed > 0) return static_cast<uint32_t>(allowed);
#endif
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint32_t>(online) : 1;
  }

  bool Start(void (*work)(void*), void* context, ThreadHandle* thread) override {
    auto* worker = static_cast<Worker*>(malloc(sizeof(Worker)));
    if (!worker) return false;
    worker->work = work;
    worker->context = context;
    if (pthread_create(&worker->thread, nullptr, &RunWorker, worker) != 0) {
      free(worker);
      return false;
    }
    *thread = reinterpret_cast<ThreadHandle>(worker);
    return true;
  }

  void Join(ThreadHandle thread) override {
    auto* worker = reinterpret_cast<Worker*>(thread);
    pthread_join(worker->thread, nullptr);
    free(worker);
  }
};

}  // namespace

Threads& PlatformThreads() {
  static PosixThreads threads;
  return threads;
}

}  // namespace vek
