#include "shared/Module_Filter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace {

FilterTable& Table() {
  static FilterTable table;
  return table;
}

// Reads comma-delimited fields: blanks before a field are skipped; a quoted
// field runs to the next double quote (commas and line ends included) and
// whatever follows the closing quote up to the delimiter is dropped; an
// unquoted field runs to the next comma or line end and loses its trailing
// blanks; a line end after a field ends it, and a blank line is one empty
// field. Lines end with CR LF, LF or CR.
class CommaFieldReader {
 public:
  enum class Result { kField, kEnd, kUnclosedQuote };

  explicit CommaFieldReader(std::string_view text) : text_(text) {
    if (text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;  // UTF-8 byte-order mark
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  int line() const { return line_; }

  Result Next(std::string* field) {
    field->clear();
    if (AtEnd()) return Result::kEnd;
    while (!AtEnd() && IsBlank(text_[pos_])) ++pos_;
    if (!AtEnd() && text_[pos_] == '"') {
      std::size_t close = text_.find('"', pos_ + 1);
      if (close == std::string_view::npos) return Result::kUnclosedQuote;
      std::string_view value = text_.substr(pos_ + 1, close - pos_ - 1);
      for (char c : value) line_ += (c == '\n') ? 1 : 0;
      field->assign(value);
      pos_ = close + 1;
      while (!AtEnd() && text_[pos_] != ',' && !IsLineEnd(text_[pos_])) ++pos_;
    } else {
      std::size_t start = pos_;
      while (!AtEnd() && text_[pos_] != ',' && !IsLineEnd(text_[pos_])) ++pos_;
      std::string_view value = text_.substr(start, pos_ - start);
      while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
      field->assign(value);
    }
    ConsumeDelimiter();
    return Result::kField;
  }

 private:
  static bool IsBlank(char c) { return c == ' ' || c == '\t'; }
  static bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

  void ConsumeDelimiter() {
    if (AtEnd()) return;
    if (text_[pos_] == ',') {
      ++pos_;
    } else if (text_[pos_] == '\r') {
      ++pos_;
      if (!AtEnd() && text_[pos_] == '\n') ++pos_;
      ++line_;
    } else if (text_[pos_] == '\n') {
      ++pos_;
      ++line_;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

FilterRuleList* ListFor(FilterTable* table, const std::string& header_word) {
  if (platform::EqualsIgnoreCase(header_word, "From: ")) return &table->FromList;
  if (platform::EqualsIgnoreCase(header_word, "Subject: ")) return &table->SubjectList;
  if (platform::EqualsIgnoreCase(header_word, "To: ")) return &table->ToList;
  if (platform::EqualsIgnoreCase(header_word, "Newsgroups: ")) return &table->NewsgroupsList;
  return nullptr;
}

std::size_t FirstOf(const PatternMatcher& matcher, std::string_view a, std::string_view b = {},
                    std::string_view c = {}) {
  return std::min({matcher.FirstMatch(a), matcher.FirstMatch(b), matcher.FirstMatch(c)});
}

}  // namespace

const FilterTable& CurrentFilterTable() { return Table(); }

void ParseFilterText(std::string_view text, const std::string& file_name, FilterTable* table) {
  *table = FilterTable{};
  CommaFieldReader reader(text);
  std::string fields[3];
  while (!reader.AtEnd()) {
    int record_line = reader.line();
    for (int i = 0; i < 3; ++i) {
      switch (reader.Next(&fields[i])) {
        case CommaFieldReader::Result::kField:
          break;
        case CommaFieldReader::Result::kEnd:
          throw FilterFileError(file_name + ": ends inside a record (line " + std::to_string(record_line) +
                                " has " + std::to_string(i) + " of 3 fields: tag, header word, pattern)");
        case CommaFieldReader::Result::kUnclosedQuote:
          throw FilterFileError(file_name + ": a double quote on line " + std::to_string(reader.line()) +
                                " is never closed");
      }
    }
    if (FilterRuleList* list = ListFor(table, fields[1])) {
      list->Tags.push_back(std::move(fields[0]));
      list->Patterns.push_back(std::move(fields[2]));
    }
  }
  for (FilterRuleList* list : {&table->FromList, &table->SubjectList, &table->ToList, &table->NewsgroupsList}) {
    try {
      list->Matcher = PatternMatcher(list->Patterns);
    } catch (const std::length_error&) {
      throw FilterFileError(file_name + ": the patterns of one header word exceed 4 GiB");
    }
  }
}

namespace {

// Why a rule file could not be read, in the words of the error line.
std::string ReasonFor(platform::FileKind kind, int error) {
  switch (kind) {
    case platform::FileKind::kMissing: return "not found";
    case platform::FileKind::kFolder: return "is a folder, not a file";
    case platform::FileKind::kFifo: return "is a FIFO (named pipe), not a file";
    case platform::FileKind::kDevice: return "is a device, not a file";
    case platform::FileKind::kOther: return "is not an ordinary file";
    case platform::FileKind::kFile: break;
  }
  std::string reason = "cannot be read";
  if (error != 0) reason += std::string(" (") + std::strerror(error) + ")";
  return reason;
}

}  // namespace

void LoadFilterTableFrom(const std::string& path) {
  Table() = FilterTable{};
  // The rule file may be a link (an installation keeps it under /etc); what
  // it leads to must be an ordinary file. A FIFO is never opened, so a load
  // never waits for a writer.
  platform::FileKind kind = platform::FileKind::kMissing;
  errno = 0;
  std::unique_ptr<platform::ReadStream> in = platform::Host().OpenSettingsFile(path, &kind);
  if (!in) {
    int error = errno;
    throw FilterFileError(path + ": " + ReasonFor(kind, error));
  }
  // The length the file reports refuses a huge file unread; the read stops
  // at the bound too, for a file that reports less than it holds.
  std::string text;
  platform::ReadEnd end = in->Size() > kMaxFilterFileSize
                              ? platform::ReadEnd::kTooLong
                              : platform::ReadToEnd(*in, &text, static_cast<std::size_t>(kMaxFilterFileSize));
  if (end == platform::ReadEnd::kFailed) {
    int error = errno;
    throw FilterFileError(path + ": " + ReasonFor(platform::FileKind::kFile, error));
  }
  if (end == platform::ReadEnd::kTooLong) throw FilterFileError(path + ": is larger than 64 MiB, too large for rules");
  FilterTable loaded;
  try {
    ParseFilterText(text, path, &loaded);
  } catch (const std::bad_alloc&) {
    // Patterns near the bound build an automaton of many times their size:
    // a process short of memory refuses the file rather than ending.
    throw FilterFileError(path + ": its patterns do not fit in memory");
  }
  Table() = std::move(loaded);
}

void LoadFilterTable() {
  LoadFilterTableFrom(platform::JoinPath(platform::Host().ProgramFolder(), "Filter.ini"));
}

std::optional<std::string> TryLoadFilterTable() {
  try {
    LoadFilterTable();
  } catch (const FilterFileError& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

std::string ClassifyMessage(const MessageRecord& record) { return ClassifyMessage(record, Table()); }

std::string ClassifyMessage(const MessageRecord& record, const FilterTable& table) {
  if (platform::EqualsIgnoreCase(record.XSalvaged, "yes")) return "XXX";
  std::size_t i = FirstOf(table.FromList.Matcher, record.From, record.ReplyTo);
  if (i != PatternMatcher::npos) return "Fr" + table.FromList.Tags[i];
  i = FirstOf(table.SubjectList.Matcher, record.Subject);
  if (i != PatternMatcher::npos) return "Su" + table.SubjectList.Tags[i];
  i = FirstOf(table.ToList.Matcher, record.To, record.Cc, record.Bcc);
  if (i != PatternMatcher::npos) return "To" + table.ToList.Tags[i];
  i = FirstOf(table.NewsgroupsList.Matcher, record.Newsgroups);
  if (i != PatternMatcher::npos) return "Ng" + table.NewsgroupsList.Tags[i];
  return "";
}
