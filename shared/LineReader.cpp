#include "shared/LineReader.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::size_t kChunk = 16 * 1024;
}

bool LineReader::Fill() {
  if (eof_) return false;
  if (remaining_ == 0) {
    eof_ = true;
    return false;
  }
  // Move the unread bytes to the front, growing the buffer for a long line.
  std::size_t unread = end_ - begin_;
  if (capacity_ - unread < kChunk) {
    std::size_t capacity = std::max(capacity_ * 2, unread + kChunk);
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    if (unread > 0) std::memcpy(bigger.get(), buffer_.get() + begin_, unread);
    buffer_ = std::move(bigger);
    capacity_ = capacity;
  } else if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, unread);
  }
  begin_ = 0;
  end_ = unread;
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_ - end_, remaining_));
  long long n = stream_->Read(buffer_.get() + end_, want);
  if (n <= 0) {
    eof_ = true;
    failed_ = n < 0;
    return false;
  }
  end_ += static_cast<std::size_t>(n);
  remaining_ -= static_cast<std::uint64_t>(n);
  return true;
}

bool LineReader::Next(std::string* line) {
  std::size_t scanned = begin_;
  for (;;) {
    const char* data = buffer_.get();
    const void* found = data == nullptr ? nullptr : std::memchr(data + scanned, '\r', end_ - scanned);
    if (found != nullptr) {
      std::size_t cr = static_cast<std::size_t>(static_cast<const char*>(found) - data);
      // A CR at the very end of what was read may be followed by LF in the next piece.
      if (cr + 1 == end_) {
        std::size_t offset = cr - begin_;
        Fill();
        cr = begin_ + offset;
        data = buffer_.get();
      }
      line->assign(data + begin_, cr - begin_);
      begin_ = cr + 1;
      if (begin_ < end_ && data[begin_] == '\n') ++begin_;
      return true;
    }
    std::size_t searched = end_ - begin_;  // relative to the unread start
    if (!Fill()) {
      if (begin_ >= end_) return false;
      line->assign(buffer_.get() + begin_, end_ - begin_);  // last line without a line end
      begin_ = end_;
      return true;
    }
    scanned = begin_ + searched;
  }
}
