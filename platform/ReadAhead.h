// Reading a folder's messages on several threads. Reading a header file and
// classifying it touch nothing that another message needs, so worker threads
// do that side by side, a bounded number of messages ahead; the caller gets
// every message back on its own thread, in the folder's order, and does all
// the rest there (changes to the tree, output, counters), as a one-thread
// loop does it.
#pragma once

#include <cstddef>
#include <functional>

namespace platform {

// At most this many reading threads, whatever is asked for.
inline constexpr unsigned kMaxReaderThreads = 64;
// Messages read ahead per reading thread: what bounds the memory of a run.
inline constexpr std::size_t kReadAheadPerThread = 16;

// How many threads read a folder: KESTRANE_THREADS when it holds a whole
// number from 1 to kMaxReaderThreads, else one per online processor. 1 when
// the host cannot be read from several threads at once (the in-memory host
// of tests).
unsigned ReaderThreadCount();

// The slots a run over `threads` readers hands out: slot numbers are below it.
std::size_t ReadAheadSlots(unsigned threads);

// For every index from 0 to count - 1: read(index, slot) on one of `threads`
// threads (the calling thread and threads - 1 workers), then use(index,
// slot) on the calling thread, in index order. A slot is
// given to no other index before use() of its index has returned, so the
// caller keeps ReadAheadSlots(threads) results and passes each from read to
// use through its slot. With one thread (or when no thread can be started)
// read and use alternate on the calling thread with slot 0. An exception
// from read or use ends the run and is thrown here once every worker stopped.
void ReadInOrder(std::size_t count, unsigned threads,
                 const std::function<void(std::size_t index, std::size_t slot)>& read,
                 const std::function<void(std::size_t index, std::size_t slot)>& use);

}  // namespace platform
