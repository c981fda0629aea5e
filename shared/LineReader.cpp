#include "shared/LineReader.h"

#include <algorithm>
#include <cstring>

namespace {
// The largest piece read at once; a smaller file gets a buffer of its size.
constexpr std::size_t kChunk = 64 * 1024;
}  // namespace

LineReader::LineReader(std::unique_ptr<platform::ReadStream> stream, std::size_t max_line)
    : stream_(std::move(stream)), remaining_(stream_->Size()), max_line_(max_line) {}

bool LineReader::Fill() {
  begin_ = end_ = 0;
  if (eof_) return false;
  if (remaining_ == 0) {
    eof_ = true;
    return false;
  }
  if (!buffer_) {
    capacity_ = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, remaining_));
    buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
  }
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_, remaining_));
  long long n = stream_->Read(buffer_.get(), want);
  if (n <= 0) {
    eof_ = true;
    failed_ = n < 0;
    return false;
  }
  end_ = static_cast<std::size_t>(n);
  remaining_ -= static_cast<std::uint64_t>(n);
  return true;
}

bool LineReader::Next(std::string* line) {
  line->clear();
  cut_ = false;
  bool any = false;  // a byte or a line end of this line was seen
  for (;;) {
    if (begin_ == end_ && !Fill()) return any;  // a last line without a line end
    any = true;
    const char* data = buffer_.get() + begin_;
    std::size_t unread = end_ - begin_;
    const void* found = std::memchr(data, '\r', unread);
    std::size_t length = found == nullptr ? unread : static_cast<std::size_t>(static_cast<const char*>(found) - data);
    std::size_t keep = std::min(length, max_line_ - line->size());
    if (keep < length) cut_ = true;
    line->append(data, keep);
    begin_ += length;
    if (found != nullptr) {
      ++begin_;
      // The LF of a CR LF may come with the next piece.
      if (begin_ == end_) Fill();
      if (begin_ < end_ && buffer_[begin_] == '\n') ++begin_;
      return true;
    }
  }
}
