#include "shared/LineReader.h"

namespace {
constexpr std::size_t kChunk = 64 * 1024;
}

bool LineReader::Fill() {
  if (eof_) return false;
  if (pos_ > 0) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  std::size_t old = buffer_.size();
  buffer_.resize(old + kChunk);
  long long n = stream_->Read(buffer_.data() + old, kChunk);
  if (n <= 0) {
    buffer_.resize(old);
    eof_ = true;
    failed_ = n < 0;
    return false;
  }
  buffer_.resize(old + static_cast<std::size_t>(n));
  return true;
}

bool LineReader::Next(std::string* line) {
  std::size_t scanned = pos_;
  for (;;) {
    std::size_t cr = buffer_.find('\r', scanned);
    if (cr != std::string::npos) {
      // A CR at the very end of the buffer may be followed by LF in the next chunk.
      if (cr + 1 == buffer_.size() && !eof_) {
        std::size_t offset = cr - pos_;
        Fill();
        cr = pos_ + offset;
      }
      line->assign(buffer_, pos_, cr - pos_);
      pos_ = cr + 1;
      if (pos_ < buffer_.size() && buffer_[pos_] == '\n') ++pos_;
      return true;
    }
    scanned = buffer_.size();
    std::size_t consumed = pos_;
    if (!Fill()) {
      if (pos_ >= buffer_.size()) return false;
      line->assign(buffer_, pos_, std::string::npos);  // last line without a line end
      pos_ = buffer_.size();
      return true;
    }
    scanned -= consumed;  // Fill moved the unread text to the front
  }
}
