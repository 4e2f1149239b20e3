// What the encryption and decryption streams share: the ring of jobs they
// run through the pipeline, the write of each job's bytes in order, and
// the rules for an input of unknown length (a pipe, a device).
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "cipher/pipeline.h"
#include "cipher/stream.h"
#include "keyio/files.h"

template <typename Job>
struct StreamRing {
  StreamRing(InputFile& source, OutputFile& out, const Progress& progress, const StreamOptions& options)
      : source(source), out(out), progress(progress),
        workers(options.workers > 0 ? options.workers : DefaultWorkers()),
        // Every worker busy with one job while another waits for it, and
        // one each being made and written.
        jobs(static_cast<std::size_t>(2 * workers + 2)) {
    if (known) progress.start();
  }

  Job& operator[](int slot) { return jobs[static_cast<std::size_t>(slot)]; }

  // True when nothing more is to be made: the last job is made, or a write
  // failed and the input has no known end, which it may never reach.
  bool Done(bool finished) const {
    return finished || (!known && write_failed.load(std::memory_order_relaxed));
  }

  // The write step: a job's bytes, in order. After a failed write nothing
  // more is written (WriteOutput), and the work may stop (write_failed).
  void Write(const std::uint8_t* data, std::int64_t size) {
    WriteOutput(out, data, size);
    if (out.Failed()) write_failed = true;
  }

  void Run(const PipelineSteps& steps) { RunPipeline(static_cast<int>(jobs.size()), workers, steps); }

  // An input of unknown length has its bar drawn whole once its length is
  // known, by draw (the stars up to that length).
  template <typename Draw>
  void DrawBarOfUnknownLength(Draw draw) {
    if (known) return;
    progress.start();
    draw();
  }

  InputFile& source;
  OutputFile& out;
  const Progress& progress;
  const bool known = source.SizeKnown();
  const int workers;
  std::vector<Job> jobs;
  std::atomic<bool> write_failed = false;
};
