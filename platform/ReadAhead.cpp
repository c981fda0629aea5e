#include "platform/ReadAhead.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
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
    // Digits only, leading zeros allowed; a number too large for the type
    // is out of range like any other past the bound.
    unsigned n = 0;
    const char* end = value + std::strlen(value);
    auto [stop, error] = std::from_chars(value, end, n);
    if (error == std::errc() && stop == end && n >= 1 && n <= kMaxReaderThreads) return n;
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
// calling thread reads too: while the next result it needs is not there it
// claims and reads the next free index instead of waiting, so it sleeps only
// when every index of the window is taken, and the threads seldom wake each
// other.
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
        while ((end = ReadyEnd()) == index) {
          if (error_) std::rethrow_exception(error_);
          if (CanClaim()) {
            ReadOne(lock);
            continue;
          }
          waiting_ = true;
          ready_cv_.wait(lock);
          waiting_ = false;
        }
      }
      for (std::size_t i = index; i < end; ++i) use(i, i % slots_);
      bool wake = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t i = index; i < end; ++i) ready_[i % slots_] = 0;
        released_ = end;
        wake = idle_workers_ > 0;
      }
      if (wake) work_cv_.notify_all();
      index = end;
    }
  }

 private:
  // One past the last index of the unbroken run of results from released_
  // on. Called with the mutex held, as are the two below.
  std::size_t ReadyEnd() const {
    std::size_t end = released_;
    std::size_t limit = std::min(count_, released_ + slots_);
    while (end < limit && ready_[end % slots_] != 0) ++end;
    return end;
  }

  bool CanClaim() const { return !stop_ && next_ < count_ && next_ < released_ + slots_; }

  // Claims the next index and reads it with the mutex let go meanwhile.
  void ReadOne(std::unique_lock<std::mutex>& lock) {
    std::size_t index = next_++;
    lock.unlock();
    read_(index, index % slots_);
    lock.lock();
    ready_[index % slots_] = 1;
  }

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      while (!stop_ && next_ < count_ && !CanClaim()) {
        ++idle_workers_;
        work_cv_.wait(lock);
        --idle_workers_;
      }
      if (!CanClaim()) return;
      try {
        ReadOne(lock);
      } catch (...) {
        if (!lock.owns_lock()) lock.lock();
        if (!error_) error_ = std::current_exception();
        stop_ = true;
        ready_cv_.notify_one();
        work_cv_.notify_all();
        return;
      }
      // The caller sleeps only on the result it needs next.
      if (waiting_ && ReadyEnd() > released_) ready_cv_.notify_one();
    }
  }

  const std::size_t count_, slots_;
  const Step& read_;
  std::mutex mutex_;
  std::condition_variable work_cv_;   // workers: a slot came free, or stop
  std::condition_variable ready_cv_;  // the caller: the result it needs is there
  std::vector<char> ready_;           // by slot: read, not used yet
  std::size_t next_ = 0;              // the next index to claim
  std::size_t released_ = 0;          // indices below it have been used
  unsigned idle_workers_ = 0;         // workers waiting for a free slot
  bool waiting_ = false;              // the caller waits for its next result
  bool stop_ = false;
  std::exception_ptr error_;
  std::vector<std::thread> workers_;
};

}  // namespace

void ReadInOrder(std::size_t count, unsigned threads, const Step& read, const Step& use) {
  threads = static_cast<unsigned>(std::min<std::size_t>(std::min(threads, kMaxReaderThreads), count));
  if (threads > 1) {
    // The calling thread is one of the readers.
    InOrderRun run(count, ReadAheadSlots(threads), read);
    if (run.Start(threads - 1) > 0) {
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
