// Finds, for a text, the first pattern of a list (by list position) that
// occurs in it, ignoring ASCII letter case. One pass over the text whatever
// the number of patterns: an Aho-Corasick automaton over the byte classes
// that the patterns use. The states nearest the root, where a search spends
// most of its steps, have full transition rows; the others keep only their
// own edges and a failure link, so memory grows with the total length of the
// patterns and never with its product by the number of classes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class PatternMatcher {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  // Cells (4 bytes each) of full transition rows, shared out to the states in
  // breadth-first order; the root always has its row.
  static constexpr std::size_t kDenseCells = std::size_t{1} << 18;

  PatternMatcher() = default;
  // Throws std::length_error when the patterns need more than 2^32 - 2 states.
  explicit PatternMatcher(const std::vector<std::string>& patterns, std::size_t dense_cells = kDenseCells);

  // Position in the list of the first pattern that occurs in `text`, npos
  // when none does. An empty text contains nothing, not even an empty
  // pattern; a non-empty text contains the empty pattern.
  std::size_t FirstMatch(std::string_view text) const;

 private:
  using State = std::uint32_t;

  // The state after `state` reads a byte of class `cls`.
  State Step(State state, std::uint8_t cls) const;

  std::size_t first_empty_ = npos;
  std::uint8_t byte_class_[256] = {};  // 0: a byte no pattern holds
  std::size_t classes_ = 1;
  State dense_states_ = 0;          // states below this have a full row
  std::vector<State> rows_;         // state * classes_ + class -> state
  std::vector<State> first_child_;  // children of s: first_child_[s] .. first_child_[s + 1] - 1
  std::vector<std::uint8_t> label_;  // class of the edge into each state
  std::vector<State> fail_;         // longest proper suffix that is a state
  std::vector<std::uint32_t> best_out_;  // lowest pattern position ending at a state or its suffixes
};
