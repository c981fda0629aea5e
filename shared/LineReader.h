// Reads message text line by line. A line ends at CR LF or at a CR alone; a
// LF alone does not end a line and stays part of its text. The line end is
// not part of the line. Reading stops quietly at a read error; failed() tells.
// The file is read as long as it was when it was opened.
//
// Memory stays bounded whatever the file holds: a line keeps its first
// `max_line` bytes, the rest of it is read through to its line end and
// dropped, and cut() tells that the line given last was so shortened.
#pragma once

#include <memory>
#include <string>

#include "platform/FileSystem.h"

class LineReader {
 public:
  LineReader(std::unique_ptr<platform::ReadStream> stream, std::size_t max_line);

  // The next line; false at the end of the file or after a read error.
  bool Next(std::string* line);
  bool cut() const { return cut_; }
  bool failed() const { return failed_; }

 private:
  // Reads the next piece into the empty buffer; false at the end or on an error.
  bool Fill();

  std::unique_ptr<platform::ReadStream> stream_;
  std::uint64_t remaining_;  // bytes of the opened length not read yet
  std::size_t max_line_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;  // first unread byte
  std::size_t end_ = 0;    // one past the last byte read
  bool eof_ = false;
  bool cut_ = false;
  bool failed_ = false;
};
