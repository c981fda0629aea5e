// What a pass says about the messages it looks at: with --dry-run the action
// each header file would get, with --verbose what was done to each message
// acted on. One line each, NAME TAB CLASSIFICATION TAB ACTION, where ACTION
// is "delete", "hold" (TAB and the name it got in Wait), "strip", "keep", or
// "failed" (TAB and the action that failed).
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

enum class PassOutput { kSilent, kDryRun, kVerbose };

// The action the rules call for by a classification text: "strip" for the
// salvage mark "XXX", "delete" for a tag ending in "-", "hold" for one ending
// in a capital "W", else "keep".
std::string_view ActionFor(const std::string& classification);

// Collects report lines and writes them out in large pieces, or line by line
// when each line should reach the journal as soon as it is known.
class PassReport {
 public:
  PassReport(std::ostream& out, bool line_by_line) : out_(out), line_by_line_(line_by_line) {}
  ~PassReport() { Flush(); }
  PassReport(const PassReport&) = delete;
  PassReport& operator=(const PassReport&) = delete;

  // Backslash, TAB, LF and CR inside a name or a classification are written
  // \\, \t, \n and \r, so that every message stays one line of three fields.
  void Line(std::string_view name, std::string_view classification, std::string_view action,
            std::string_view detail = {});
  void Flush();

 private:
  std::ostream& out_;
  bool line_by_line_;
  std::string buffer_;
};
