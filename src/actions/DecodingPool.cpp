#include "actions/DecodingPool.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

#include "platform/Interrupt.h"

namespace unzip {
namespace {

// What a worker throws out of a copy when the pool shuts down.
struct Stopped {};

}  // namespace

DecodingPool::DecodingPool(unsigned workers) {
  for (unsigned i = 0; i < workers; ++i) {
    try {
      _threads.push_back(platform::startWorkerThread([this] { work(); }));
    } catch (const std::system_error&) {
      // Fewer threads than asked for (a tight limit on threads or memory)
      // still decode everything; none at all is the caller's to handle.
      if (_threads.empty()) throw;
      break;
    }
  }
}

DecodingPool::~DecodingPool() {
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _stopping = true;
  }
  _jobReady.notify_all();
  for (std::thread& thread : _threads) thread.join();
  // _results go with their temporary files.
}

void DecodingPool::submit(Job job) {
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _jobs.push_back(std::move(job));
  }
  _jobReady.notify_one();
}

DecodedFile DecodingPool::take(std::size_t index, std::vector<char>& buffer) {
  std::unique_lock<std::mutex> lock(_mutex);
  for (;;) {
    auto found = _results.find(index);
    if (found != _results.end()) {
      DecodedFile decoded = std::move(found->second);
      _results.erase(found);
      return decoded;
    }
    // Waiting for a worker to pick the entry up costs more than decoding
    // it here when the workers are busy (or not scheduled) meanwhile.
    auto queued = std::find_if(_jobs.begin(), _jobs.end(), [index](const Job& job) { return job.index == index; });
    if (queued != _jobs.end()) {
      Job job = std::move(*queued);
      _jobs.erase(queued);
      lock.unlock();
      return decodeEntry(*job.entry, std::move(job.place), buffer, platform::throwIfInterrupted);
    }
    // The signal handler runs on this thread and cannot wake the wait, so
    // the wait looks for an interrupt now and then.
    _resultReady.wait_for(lock, std::chrono::milliseconds(50));
    lock.unlock();
    platform::throwIfInterrupted();
    lock.lock();
  }
}

void DecodingPool::drop(std::size_t index) {
  {
    std::lock_guard<std::mutex> lock(_mutex);
    auto queued = std::find_if(_jobs.begin(), _jobs.end(), [index](const Job& job) { return job.index == index; });
    if (queued != _jobs.end()) {
      _jobs.erase(queued);
      return;
    }
  }
  std::vector<char> unused;
  take(index, unused);  // started: its result is waited for and dropped
}

void DecodingPool::work() {
  std::vector<char> buffer(kCopyBlock);
  const Checkpoint checkpoint = [this] {
    if (_stopping) throw Stopped{};
    platform::throwIfInterrupted();
  };
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(_mutex);
      _jobReady.wait(lock, [this] { return _stopping || !_jobs.empty(); });
      if (_stopping) return;
      job = std::move(_jobs.front());
      _jobs.pop_front();
    }
    DecodedFile decoded = decodeEntry(*job.entry, std::move(job.place), buffer, checkpoint);
    // The entry goes back to the caller with the result; no reference stays.
    job.entry.reset();
    {
      std::lock_guard<std::mutex> lock(_mutex);
      _results.emplace(job.index, std::move(decoded));
    }
    _resultReady.notify_all();
  }
}

}  // namespace unzip
