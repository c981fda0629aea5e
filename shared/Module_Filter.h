// The operator's filter rules (Filter.ini) and the classification of a
// message by them.
//
// Filter.ini holds records of three comma-delimited fields, tag, header word
// and pattern, normally one record per line with every field in double
// quotes: "SPAM-","Subject: ","viagra". The header word picks one of four
// rule lists; the classification is the list's two-letter code followed by
// the tag of the first rule whose pattern occurs in the message's fields.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "shared/Module_Messages.h"
#include "shared/PatternMatcher.h"

struct FilterRuleList {
  std::vector<std::string> Tags;
  std::vector<std::string> Patterns;
  PatternMatcher Matcher;

  std::int64_t RuleCount() const { return static_cast<std::int64_t>(Tags.size()); }
};

struct FilterTable {
  FilterRuleList FromList;
  FilterRuleList SubjectList;
  FilterRuleList ToList;
  FilterRuleList NewsgroupsList;
};

// Filter.ini could not be loaded; what() names the file and the fault.
class FilterFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Filter.ini is refused past this length, unread or as soon as a read
// passes it: the rules of any queue fit many times over, and no file put in
// its place (a link to a /proc file, a huge sparse file) makes a load take
// more memory than this.
inline constexpr std::uint64_t kMaxFilterFileSize = std::uint64_t{64} << 20;

// The process-wide table: empty until the first load.
const FilterTable& CurrentFilterTable();

// Loads Filter.ini from the program folder, replacing the whole table. On a
// fault the table is left empty and FilterFileError is thrown.
void LoadFilterTable();
// The same load for a program that reports the fault itself: the text that
// names the file and the fault, nullopt when the table was loaded.
std::optional<std::string> TryLoadFilterTable();
void LoadFilterTableFrom(const std::string& path);

// Parses the text of a rule file into `table`; throws FilterFileError naming
// `file_name` when the text ends inside a record or a quote is not closed.
void ParseFilterText(std::string_view text, const std::string& file_name, FilterTable* table);

// "" (no rule), "XXX" (salvaged message), or "Fr", "Su", "To", "Ng" followed
// by the tag of the first matching rule.
std::string ClassifyMessage(const MessageRecord& record);
std::string ClassifyMessage(const MessageRecord& record, const FilterTable& table);
