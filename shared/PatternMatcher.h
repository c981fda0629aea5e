// Finds, for a text, the first pattern of a list (by list position) that
// occurs in it, ignoring ASCII letter case. One pass over the text whatever
// the number of patterns (an Aho-Corasick automaton over the byte classes
// that the patterns use); very large pattern sets fall back to a plain search.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class PatternMatcher {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  PatternMatcher() = default;
  explicit PatternMatcher(const std::vector<std::string>& patterns);

  // Position in the list of the first pattern that occurs in `text`, npos
  // when none does. An empty text contains nothing, not even an empty
  // pattern; a non-empty text contains the empty pattern.
  std::size_t FirstMatch(std::string_view text) const;

 private:
  std::size_t FirstMatchPlain(std::string_view text) const;

  std::vector<std::string> lowered_;  // kept for the plain fallback
  std::size_t first_empty_ = npos;
  bool automaton_ = false;
  std::uint8_t byte_class_[256] = {};
  std::size_t classes_ = 1;
  std::vector<std::int32_t> next_;        // state * classes_ + class -> state
  std::vector<std::uint32_t> best_out_;   // lowest pattern position ending at a state
};
