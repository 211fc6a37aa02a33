// DecodingPool: worker threads that decode archive entries into their
// temporary files ahead of the thread that places them.
//
// The caller submits entries by index and takes each result once, in any
// order; workers pick entries in the order submitted. Nothing a worker does
// is visible outside the temporary files: it never prints, never renames
// into place and never touches the transaction hooks, all of which stay
// with the caller, in archive order. Each worker owns its copy buffer and
// its entry's decoder chain; the caller bounds how many entries are
// submitted and not yet taken, and with them the open files.
//
// The destructor stops the workers at their next block and removes every
// temporary file not taken. The interrupt signals never reach a worker;
// workers see an interrupt at their next block and report it as the
// entry's error. Throws std::system_error when no thread can be started.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "actions/EntryData.h"
#include "zip/ZipArchiveEntry.h"

namespace unzip {

class DecodingPool {
 public:
  struct Job {
    std::size_t index;
    std::shared_ptr<ZipArchiveEntry> entry;  // not touched by the caller until taken
    FilePlace place;
  };

  explicit DecodingPool(unsigned workers);
  ~DecodingPool();
  DecodingPool(const DecodingPool&) = delete;
  DecodingPool& operator=(const DecodingPool&) = delete;

  void submit(Job job);
  // Hands over the result of the entry `index`, waiting for the worker on
  // it. An entry no worker has started yet is decoded here instead, with
  // `buffer`, rather than waited for. Throws platform::Interrupted when an
  // interrupt arrives meanwhile. REQUIRES: submitted and not taken yet.
  DecodedFile take(std::size_t index, std::vector<char>& buffer);
  // Forgets the entry `index`, removing its temporary file if it has one.
  // REQUIRES: submitted and not taken yet.
  void drop(std::size_t index);

 private:
  void work();

  std::mutex _mutex;
  std::condition_variable _jobReady;
  std::condition_variable _resultReady;
  std::deque<Job> _jobs;
  std::map<std::size_t, DecodedFile> _results;
  std::atomic<bool> _stopping{false};
  std::vector<std::thread> _threads;
};

}  // namespace unzip
