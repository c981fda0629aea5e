#include "batch/PassReport.h"

#include <ostream>

#include "platform/Text.h"

namespace {

constexpr std::size_t kFlushAt = 1 << 16;

}  // namespace

using platform::AppendEscaped;

std::string_view ActionFor(const std::string& classification) {
  if (classification == "XXX") return "strip";
  if (!classification.empty() && classification.back() == '-') return "delete";
  if (!classification.empty() && classification.back() == 'W') return "hold";
  return "keep";
}

void PassReport::Line(std::string_view name, std::string_view classification, std::string_view action,
                      std::string_view detail) {
  AppendEscaped(buffer_, name);
  buffer_ += '\t';
  AppendEscaped(buffer_, classification);
  buffer_ += '\t';
  buffer_ += action;
  if (!detail.empty()) {
    buffer_ += '\t';
    AppendEscaped(buffer_, detail);
  }
  buffer_ += '\n';
  if (line_by_line_ || buffer_.size() >= kFlushAt) Flush();
}

void PassReport::Flush() {
  out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  out_.flush();
  buffer_.clear();
}
