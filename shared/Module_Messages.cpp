#include "shared/Module_Messages.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "shared/LineReader.h"
#include "shared/LocalDateText.h"
#include "shared/Module_InternetTime.h"

std::string_view GetHeaderValue(std::string_view line, std::string_view prefix) {
  if (line.size() < prefix.size() || !platform::EqualsIgnoreCase(line.substr(0, prefix.size()), prefix)) {
    return {};
  }
  return line.substr(prefix.size());
}

std::string CompanionFile(std::string_view q0_path) {
  std::string_view stem = q0_path;
  stem.remove_suffix(std::min<std::size_t>(stem.size(), 3));
  return std::string(stem) + ".q1";
}

namespace {

// Whether a listed file whose open failed with `open_error` is still there.
// In a folder that may be listed but not entered nothing in it can even be
// looked at, so the refusal itself is the only sign that the file is there.
bool StillThere(platform::FileSystem& fs, const std::string& path, int open_error) {
  return open_error == EACCES || open_error == EPERM || fs.FileExists(path);
}

// Empties every field but Path. The texts keep their storage, so a reader
// that fills the same record message after message seldom allocates or
// frees, on its own thread or across threads.
void ResetAllButPath(MessageRecord& record) {
  static constexpr std::array kTexts{&MessageRecord::ReturnPath, &MessageRecord::From,       &MessageRecord::ReplyTo,
                                     &MessageRecord::To,         &MessageRecord::Cc,         &MessageRecord::Bcc,
                                     &MessageRecord::Subject,    &MessageRecord::Newsgroups, &MessageRecord::XSalvaged};
  // A field added to the record must be added here too.
  static_assert(sizeof(MessageRecord) ==
                (kTexts.size() + 1) * sizeof(std::string) + sizeof(std::int64_t) + sizeof(DateTime));
  for (std::string MessageRecord::*text : kTexts) (record.*text).clear();
  record.Size = 0;
  record.Date = DateTime{};
}

}  // namespace

bool ReadMessageHeaders(MessageRecord& record, std::size_t max_line) {
  ListedPair pair;
  if (platform::EndsWithQ0(record.Path)) pair.Companion = platform::Host().FindCompanion(record.Path);
  return ReadMessageHeaders(record, pair, nullptr, max_line);
}

bool ReadMessageHeaders(MessageRecord& record, const ListedPair& listed, std::optional<std::uint64_t>* header_length,
                        std::size_t max_line) {
  ResetAllButPath(record);
  if (header_length != nullptr) header_length->reset();
  if (!platform::EndsWithQ0(record.Path)) return true;
  platform::FileSystem& fs = platform::Host();
  auto companion_size = [&]() -> std::optional<std::uint64_t> {
    if (!listed.Companion) return std::nullopt;
    return listed.MeasureCompanion ? fs.FileLength(*listed.Companion) : std::optional<std::uint64_t>(0);
  };
  // Opening first gives the header file's existence and length in one step;
  // the record ends the same as testing, measuring and then opening.
  std::unique_ptr<platform::ReadStream> stream = fs.OpenRead(record.Path);
  if (!stream) {
    if (!StillThere(fs, record.Path, errno) || !listed.Companion) return true;
    // There but shut: Path and the size as far as it can be measured.
    record.Size = static_cast<std::int64_t>(fs.FileLength(record.Path).value_or(0) + companion_size().value_or(0));
    return false;
  }
  if (header_length != nullptr) *header_length = stream->Size();
  std::optional<std::uint64_t> body_size = companion_size();
  if (!body_size) return true;
  record.Size = static_cast<std::int64_t>(stream->Size() + *body_size);

  LineReader lines(std::move(stream), max_line);
  std::string line;
  if (!lines.Next(&line)) return !lines.failed();  // line 1: the remailer's own, not interpreted
  if (!lines.Next(&line)) return !lines.failed();  // line 2: the local date
  if (std::optional<DateTime> date = RecogniseLocalDate(line)) record.Date = *date;

  const std::array<std::pair<std::string_view, std::string*>, 9> headers{{
      {"From: ", &record.From},
      {"Reply-To: ", &record.ReplyTo},
      {"To: ", &record.To},
      {"Cc: ", &record.Cc},
      {"Bcc: ", &record.Bcc},
      {"Subject: ", &record.Subject},
      {"Return-Path: ", &record.ReturnPath},
      {"Newsgroups: ", &record.Newsgroups},
      {"X-Salvaged: ", &record.XSalvaged},
  }};
  while (lines.Next(&line)) {
    for (const auto& [prefix, field] : headers) {
      std::string_view value = GetHeaderValue(line, prefix);
      if (!value.empty()) {
        // The rules look at what a cut line kept; the tag, which turns the
        // rules off, must be a whole line.
        if (field != &record.XSalvaged || !lines.cut()) field->assign(value);
        break;
      }
    }
  }
  return !lines.failed();
}

bool ReadSingleFileHeaders(MessageRecord& record, std::optional<std::uint64_t>* file_length, std::size_t max_line) {
  ResetAllButPath(record);
  if (file_length != nullptr) file_length->reset();
  if (record.Path.empty()) return true;
  platform::FileSystem& fs = platform::Host();
  std::unique_ptr<platform::ReadStream> stream = fs.OpenRead(record.Path);
  if (!stream) {
    if (!StillThere(fs, record.Path, errno)) return true;  // a missing file is not an error
    record.Size = static_cast<std::int64_t>(fs.FileLength(record.Path).value_or(0));
    return false;
  }
  record.Size = static_cast<std::int64_t>(stream->Size());
  if (file_length != nullptr) *file_length = stream->Size();
  LineReader lines(std::move(stream), max_line);
  std::string line;
  std::string date;
  const std::array<std::pair<std::string_view, std::string*>, 6> headers{{
      {"From: ", &record.From},
      {"To: ", &record.To},
      {"Subject: ", &record.Subject},
      {"Return-Path: ", &record.ReturnPath},
      {"Newsgroups: ", &record.Newsgroups},
      {"Date: ", &date},
  }};
  while (lines.Next(&line) && !line.empty()) {
    for (const auto& [prefix, field] : headers) {
      std::string_view value = GetHeaderValue(line, prefix);
      if (!value.empty()) {
        field->assign(value);
        break;
      }
    }
  }
  if (!date.empty()) record.Date = ParseInternetDate(date);
  return !lines.failed();
}
