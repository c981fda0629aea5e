#include "listing/ListCommand.h"

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "shared/Module_Filter.h"
#include "listing/EncodedWords.h"
#include "listing/GridLoader.h"

namespace {

using platform::AppendEscaped;

// Collects the rows in one buffer and writes it out in large pieces: a big
// queue is tens of megabytes of text.
class RowPrinter : public GridLoadObserver {
 public:
  RowPrinter(std::FILE* out, std::FILE* err, bool decode) : out_(out), err_(err), decode_(decode) {}
  ~RowPrinter() override { Flush(); }
  RowPrinter(const RowPrinter&) = delete;
  RowPrinter& operator=(const RowPrinter&) = delete;

  void Line(const GridCells& cells) {
    for (int i = 0; i < kGridColumns; ++i) {
      if (i > 0) buffer_ += '\t';
      const std::string& cell = cells[static_cast<std::size_t>(i)];
      // Only a text with "=?" can hold an encoded word: the others are
      // printed without a copy.
      bool header_text = i >= kFirstHeaderTextColumn && i <= kLastHeaderTextColumn;
      if (decode_ && header_text && cell.find("=?") != std::string::npos) {
        AppendEscaped(buffer_, DecodeEncodedWords(cell));
      } else {
        AppendEscaped(buffer_, cell);
      }
    }
    buffer_ += '\n';
    if (buffer_.size() >= kFlushAt) Flush();
  }
  void RowAdded(std::int64_t, GridCells& cells) override { Line(cells); }
  void CountersChanged(const GridCounters&) override {}
  void ReadFailed(const std::string& path) override {
    Flush();
    std::fprintf(err_, "qvue: %s could not be read whole; listed with what was read\n", path.c_str());
  }
  void OpenFailed(const std::string& path) override {
    Flush();
    std::fprintf(err_, "qvue: %s could not be opened; listed without its headers\n", path.c_str());
  }
  void Flush() {
    if (!buffer_.empty()) std::fwrite(buffer_.data(), 1, buffer_.size(), out_);
    buffer_.clear();
    std::fflush(out_);
  }

 private:
  static constexpr std::size_t kFlushAt = 1 << 20;

  std::FILE* out_;
  std::FILE* err_;
  bool decode_;
  std::string buffer_;
};

}  // namespace

std::string EscapeCell(const std::string& text) {
  std::string out;
  AppendEscaped(out, text);
  return out;
}

int RunListCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  bool single = false, decode = false;
  std::vector<std::string> folders;
  for (const std::string& arg : args) {
    if (arg == "--single") {
      single = true;
    } else if (arg == "--decode") {
      decode = true;
    } else {
      folders.push_back(arg);
    }
  }
  if (folders.size() != 1 || folders[0].empty()) {
    std::fprintf(err, "usage: qvue --list [--single] [--decode] FOLDER   (qvue --help tells more)\n");
    return 2;
  }
  if (std::optional<std::string> fault = TryLoadFilterTable()) {
    std::fprintf(err, "qvue: %s\n", fault->c_str());
    return 1;
  }
  // The pair queues are listed like "Mailout", the one-file queues like "MailIn".
  constexpr int kPairQueue = 4, kSingleFileQueue = 2;
  GridCounters counters;
  {
    RowPrinter printer(out, err, decode);
    printer.Line(GridHeaderTexts());
    counters = LoadGridRows(folders[0], single ? kSingleFileQueue : kPairQueue, printer);
  }
  // A missing folder is an empty queue; one that is there but cannot be
  // read is a fault to report.
  bool unreadable = !counters.Listed && platform::Host().PathExists(folders[0]);
  if (unreadable) std::fprintf(err, "qvue: %s: cannot be listed\n", folders[0].c_str());
  std::fprintf(err, "Files Processed (Number/Size): %s / %s, empty: %s\n", counters.Info1.c_str(),
               counters.Info2.c_str(), counters.Info3.c_str());
  return unreadable ? 1 : 0;
}
