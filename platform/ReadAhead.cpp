#include "platform/ReadAhead.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"

namespace platform {

unsigned ReaderThreadCount() {
  if (!Host().ReadsFromAnyThread()) return 1;
  if (const char* value = ::getenv("KESTRANE_THREADS")) {
    std::string text = value;
    if (!text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos) {
      unsigned n = static_cast<unsigned>(std::stoul(text));
      if (n >= 1 && n <= kMaxReaderThreads) return n;
    }
  }
  long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return static_cast<unsigned>(std::clamp<long>(online, 1, kMaxReaderThreads));
}

std::size_t ReadAheadSlots(unsigned threads) {
  return threads <= 1 ? 1 : std::min(threads, kMaxReaderThreads) * kReadAheadPerThread;
}

namespace {

using Step = std::function<void(std::size_t, std::size_t)>;

// One run of the workers. Indices are claimed in order; index i uses slot
// i % slots, which is free again once the caller has used index i. The
// caller waits for half a window of results at a time, so that neither side
// wakes the other for every message.
class InOrderRun {
 public:
  InOrderRun(std::size_t count, std::size_t slots, const Step& read)
      : count_(count), slots_(slots), read_(read), ready_(slots, 0) {}

  // Starts up to `threads` workers; how many started.
  unsigned Start(unsigned threads) {
    for (unsigned i = 0; i < threads; ++i) {
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;  // the process may start no more threads: those running do the work
      }
    }
    return static_cast<unsigned>(workers_.size());
  }

  ~InOrderRun() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_cv_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  InOrderRun(const InOrderRun&) = delete;
  InOrderRun& operator=(const InOrderRun&) = delete;

  void Consume(const Step& use) {
    for (std::size_t index = 0; index < count_;) {
      std::size_t end = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wanted_end_ = std::min(count_, index + std::max<std::size_t>(1, slots_ / 2));
        ready_cv_.wait(lock, [&] { return error_ || ReadyEnd() >= wanted_end_; });
        wanted_end_ = 0;
        if (error_) std::rethrow_exception(error_);
        end = ReadyEnd();
      }
      for (std::size_t i = index; i < end; ++i) use(i, i % slots_);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t i = index; i < end; ++i) ready_[i % slots_] = 0;
        released_ = end;
      }
      work_cv_.notify_all();
      index = end;
    }
  }

 private:
  // One past the last index of the unbroken run of results from released_
  // on. Called with the mutex held.
  std::size_t ReadyEnd() const {
    std::size_t end = released_;
    std::size_t limit = std::min(count_, released_ + slots_);
    while (end < limit && ready_[end % slots_] != 0) ++end;
    return end;
  }

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_cv_.wait(lock, [&] { return stop_ || next_ >= count_ || next_ < released_ + slots_; });
      if (stop_ || next_ >= count_) return;
      std::size_t index = next_++;
      lock.unlock();
      try {
        read_(index, index % slots_);
      } catch (...) {
        lock.lock();
        if (!error_) error_ = std::current_exception();
        stop_ = true;
        ready_cv_.notify_one();
        work_cv_.notify_all();
        return;
      }
      lock.lock();
      ready_[index % slots_] = 1;
      if (wanted_end_ != 0 && index < wanted_end_ && ReadyEnd() >= wanted_end_) ready_cv_.notify_one();
    }
  }

  const std::size_t count_, slots_;
  const Step& read_;
  std::mutex mutex_;
  std::condition_variable work_cv_;   // workers: a slot came free, or stop
  std::condition_variable ready_cv_;  // the caller: the results it waits for are there
  std::vector<char> ready_;           // by slot: read, not used yet
  std::size_t next_ = 0;              // the next index to claim
  std::size_t released_ = 0;          // indices below it have been used
  std::size_t wanted_end_ = 0;        // the caller waits for results up to it; 0: not waiting
  bool stop_ = false;
  std::exception_ptr error_;
  std::vector<std::thread> workers_;
};

}  // namespace

void ReadInOrder(std::size_t count, unsigned threads, const Step& read, const Step& use) {
  threads = static_cast<unsigned>(std::min<std::size_t>(std::min(threads, kMaxReaderThreads), count));
  if (threads > 1) {
    InOrderRun run(count, ReadAheadSlots(threads), read);
    if (run.Start(threads) > 0) {
      run.Consume(use);
      return;
    }
  }
  for (std::size_t index = 0; index < count; ++index) {
    read(index, 0);
    use(index, 0);
  }
}

}  // namespace platform
