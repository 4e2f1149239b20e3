// A file worked in chunks on several cores, with its output in order.
//
// The calling thread makes jobs one after another (reading the input), a
// few worker threads work them (any order, several at once), the calling
// thread takes them back in the order they were made (progress, checks),
// and one writer thread writes them out in that same order. Jobs live in a
// fixed ring of slots, so memory stays a few chunks whatever the file size.
#pragma once

#include <functional>

struct PipelineSteps {
  // On the calling thread, in order: fills the job in slot; false when
  // there is nothing more to make.
  std::function<bool(int slot)> make;
  // On a worker thread. Must not throw: a failure of the work belongs in
  // the job, for take to raise at its turn.
  std::function<void(int slot)> work;
  // On the calling thread, in the order made, once the job is worked.
  // False stops the run: no job is made after it, and those already made
  // after it are dropped unwritten.
  std::function<bool(int slot)> take;
  // On the writer thread, in the order made, for every job taken. Must not
  // throw.
  std::function<void(int slot)> write;
};

// The number of worker threads: one per core, at most 8. The one thread
// that reads and the one that writes bound the run, however many workers
// there are: writing the text of a 32-bit-mode encryption (12 characters
// per input byte) takes one thread about 4.3 ns per input byte on tmpfs,
// and a worker encrypts a byte in 1.8 ns (a 64 KiB key) to 7.2 ns (the
// largest key), so two workers reach that bound with any key
// (bench/README.md, "Workers"). Even a machine whose writes ran three times
// faster would need no more than 8; each worker beyond costs two more
// chunks in the ring (3.25 MiB each in 32-bit mode) and a thread stack,
// and gains nothing. Measured on 2 cores only: how far 3 to 8 workers
// help on a larger machine is reasoned, not measured.
int DefaultWorkers();

// Runs the steps until make has nothing more or take stops, with slots
// jobs at most in the ring (at least workers + 2). Returns once every taken
// job is written. A failure raised by make or take ends the run at once:
// the other threads stop, nothing more is written, and it is raised again
// here.
void RunPipeline(int slots, int workers, const PipelineSteps& steps);
