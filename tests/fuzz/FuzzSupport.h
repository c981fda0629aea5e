// Shared by the fuzz harnesses: a check that stops the run (libFuzzer then
// keeps the input that broke it) and helpers over message records.
#pragma once

#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Text.h"
#include "shared/Module_Messages.h"
#include "tests/platform/FakeFileSystem.h"

#define FUZZ_CHECK(condition) \
  ((condition) ? void(0) : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition), std::abort()))

namespace fuzz {

// Larger inputs are skipped: they find nothing new and slow every run down.
inline constexpr std::size_t kMaxInput = 64 * 1024;

inline std::string_view AsText(const unsigned char* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The text fields of a record; a failing input is kept by libFuzzer and
// tells which one by a rerun.
inline std::array<const std::string*, 9> TextFields(const MessageRecord& r) {
  return {&r.ReturnPath, &r.From, &r.ReplyTo, &r.To, &r.Cc, &r.Bcc, &r.Subject, &r.Newsgroups, &r.XSalvaged};
}

// The record of the pair /queue/m.q0 with /queue/m.q1, or without `q1` of
// the one-file message /queue/m.q0, read on the in-memory host in pieces of
// `chunk` bytes, lines cut at `max_line`. Nothing fails on this host.
inline MessageRecord Read(const std::string& q0, const std::optional<std::string>& q1, std::size_t chunk = 4096,
                          std::size_t max_line = kMaxHeaderLine) {
  testing_host::FakeFileSystem fs;
  fs.AddFile("/queue/m.q0", q0);
  if (q1) fs.AddFile("/queue/m.q1", *q1);
  fs.read_chunk = chunk;
  MessageRecord record;
  record.Path = "/queue/m.q0";
  FUZZ_CHECK(q1 ? ReadMessageHeaders(record, max_line) : ReadSingleFileHeaders(record, nullptr, max_line));
  return record;
}

inline bool SameRecord(const MessageRecord& a, const MessageRecord& b) {
  if (a.Path != b.Path || a.Size != b.Size || a.Date != b.Date) return false;
  auto fa = TextFields(a), fb = TextFields(b);
  for (std::size_t i = 0; i < fa.size(); ++i) {
    if (*fa[i] != *fb[i]) return false;
  }
  return true;
}

// A record read with lines cut at `max_line` bytes (more than any header
// prefix has) against the same file read with no line cut: each field is the
// whole one cut to what its line kept, and the salvage tag comes only from a
// line that was not cut. Dates are not compared.
inline bool AgreesWhenCut(const MessageRecord& whole, const MessageRecord& cut, std::size_t max_line) {
  // Lengths of "Return-Path: ", "From: ", ..., "X-Salvaged: ", as TextFields orders them.
  constexpr std::size_t kPrefix[] = {13, 6, 10, 4, 4, 5, 9, 12, 12};
  auto w = TextFields(whole), c = TextFields(cut);
  for (std::size_t i = 0; i < w.size(); ++i) {
    const std::string& full = *w[i];
    const std::string& kept = *c[i];
    bool salvage_tag = i + 1 == w.size();
    bool agrees = !salvage_tag                          ? kept == full.substr(0, max_line - kPrefix[i])
                  : kPrefix[i] + full.size() <= max_line ? kept == full
                                                         : kPrefix[i] + kept.size() <= max_line;
    if (!agrees) return false;
  }
  return whole.Path == cut.Path && whole.Size == cut.Size;
}

// The message read whole and with lines cut at `max_line`, each in pieces of
// `chunk` bytes: the same records as large pieces give, the cut one agreeing
// with the whole one (AgreesWhenCut). Returns both.
inline std::pair<MessageRecord, MessageRecord> ReadWholeAndCut(const std::string& q0,
                                                               const std::optional<std::string>& q1,
                                                               std::size_t chunk, std::size_t max_line) {
  MessageRecord whole = Read(q0, q1, chunk), cut = Read(q0, q1, chunk, max_line);
  FUZZ_CHECK(SameRecord(whole, Read(q0, q1)));
  FUZZ_CHECK(SameRecord(cut, Read(q0, q1, 4096, max_line)));
  FUZZ_CHECK(AgreesWhenCut(whole, cut, max_line));
  return {whole, cut};
}

// Every text field of `r` is a part of one line of `text`.
inline bool FieldsArePartsOf(const MessageRecord& r, std::string_view text) {
  for (const std::string* field : TextFields(r)) {
    if (field->find('\r') != std::string::npos || text.find(*field) == std::string_view::npos) return false;
  }
  return true;
}

inline bool ContainsIgnoreCase(std::string_view text, std::string_view word) {
  return platform::AsciiLower(text).find(platform::AsciiLower(word)) != std::string::npos;
}

}  // namespace fuzz
