#include "cipher/pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Where a slot's job stands. A job goes through every state in this order,
// and the slots of the ring are reused in the order of the jobs.
enum class Stage { kFree, kMade, kWorking, kWorked, kTaken };

struct Ring {
  std::mutex mutex;
  std::condition_variable main_wakes, workers_wake, writer_wakes;
  std::vector<Stage> stage;
  // Counts of jobs, each at most the one before: made, handed to a worker,
  // taken back, written (or dropped).
  std::int64_t made = 0, handed = 0, taken = 0, written = 0;
  bool no_more = false;   // nothing more will be made
  bool dropping = false;  // take stopped the run: later jobs are not worked or written
  bool aborted = false;   // a failure on the calling thread: everyone stops
  bool closing = false;   // every job is taken: the threads may end

  int SlotOf(std::int64_t job) const { return static_cast<int>(job % static_cast<std::int64_t>(stage.size())); }
};

void WorkerLoop(Ring& ring, const PipelineSteps& steps) {
  std::unique_lock lock(ring.mutex);
  for (;;) {
    ring.workers_wake.wait(lock, [&] { return ring.handed < ring.made || ring.closing || ring.aborted; });
    if (ring.aborted || ring.handed == ring.made) return;
    const int slot = ring.SlotOf(ring.handed++);
    ring.stage[slot] = Stage::kWorking;
    const bool skip = ring.dropping;
    lock.unlock();
    if (!skip) steps.work(slot);
    lock.lock();
    ring.stage[slot] = Stage::kWorked;
    ring.main_wakes.notify_one();
  }
}

void WriterLoop(Ring& ring, const PipelineSteps& steps) {
  std::unique_lock lock(ring.mutex);
  for (;;) {
    ring.writer_wakes.wait(lock, [&] {
      return ring.written < ring.taken || ring.closing || ring.aborted;
    });
    if (ring.aborted || ring.written == ring.taken) return;
    const int slot = ring.SlotOf(ring.written);
    const bool skip = ring.stage[slot] != Stage::kTaken;  // dropped
    lock.unlock();
    if (!skip) steps.write(slot);
    lock.lock();
    ring.stage[slot] = Stage::kFree;
    ++ring.written;
    ring.main_wakes.notify_one();
  }
}

// Stops the threads on every way out of RunPipeline, the failing ones
// included, so none outlives the steps it calls.
struct Threads {
  Ring& ring;
  std::vector<std::thread> all;
  ~Threads() {
    {
      std::lock_guard lock(ring.mutex);
      if (!ring.closing) ring.aborted = true;
    }
    ring.workers_wake.notify_all();
    ring.writer_wakes.notify_all();
    for (std::thread& thread : all) thread.join();
  }
};

}  // namespace

int DefaultWorkers() {
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(cores, 1u, 8u));
}

void RunPipeline(int slots, int workers, const PipelineSteps& steps) {
  workers = std::max(workers, 1);
  Ring ring;
  ring.stage.assign(static_cast<std::size_t>(std::max(slots, workers + 2)), Stage::kFree);
  Threads threads{ring, {}};
  for (int i = 0; i < workers; ++i) threads.all.emplace_back(WorkerLoop, std::ref(ring), std::cref(steps));
  threads.all.emplace_back(WriterLoop, std::ref(ring), std::cref(steps));

  std::unique_lock lock(ring.mutex);
  for (;;) {
    // Taking comes first: it moves progress and output along.
    if (ring.taken < ring.made && ring.stage[ring.SlotOf(ring.taken)] == Stage::kWorked) {
      const int slot = ring.SlotOf(ring.taken);
      bool go_on = false;
      if (!ring.dropping) {
        lock.unlock();
        go_on = steps.take(slot);
        lock.lock();
        ring.stage[slot] = Stage::kTaken;
      }
      ++ring.taken;
      if (!go_on) ring.dropping = ring.no_more = true;
      ring.writer_wakes.notify_one();
      continue;
    }
    if (!ring.no_more && ring.stage[ring.SlotOf(ring.made)] == Stage::kFree) {
      const int slot = ring.SlotOf(ring.made);
      lock.unlock();
      const bool made = steps.make(slot);
      lock.lock();
      if (made) {
        ring.stage[slot] = Stage::kMade;
        ++ring.made;
        ring.workers_wake.notify_one();
      } else {
        ring.no_more = true;
      }
      continue;
    }
    if (ring.no_more && ring.taken == ring.made) break;
    ring.main_wakes.wait(lock);
  }
  ring.closing = true;
  ring.workers_wake.notify_all();
  ring.writer_wakes.notify_all();
  // The writer ends once everything taken is written.
  ring.main_wakes.wait(lock, [&] { return ring.written == ring.taken; });
}
