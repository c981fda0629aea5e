// Reads message text line by line. A line ends at CR LF or at a CR alone; a
// LF alone does not end a line and stays part of its text. The line end is
// not part of the line. Reading stops quietly at a read error; failed() tells.
#pragma once

#include <memory>
#include <string>

#include "platform/FileSystem.h"

class LineReader {
 public:
  explicit LineReader(std::unique_ptr<platform::ReadStream> stream) : stream_(std::move(stream)) {}

  // The next line; false at the end of the file or after a read error.
  bool Next(std::string* line);
  bool failed() const { return failed_; }

 private:
  bool Fill();

  std::unique_ptr<platform::ReadStream> stream_;
  std::string buffer_;
  std::size_t pos_ = 0;
  bool eof_ = false;
  bool failed_ = false;
};
