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
  // Throws std::length_error when the patterns hold 2 GiB or more.
  explicit PatternMatcher(const std::vector<std::string>& patterns, std::size_t dense_cells = kDenseCells);

  // Position in the list of the first pattern that occurs in `text`, npos
  // when none does. An empty text contains nothing, not even an empty
  // pattern; a non-empty text contains the empty pattern.
  std::size_t FirstMatch(std::string_view text) const;

 private:
  using State = std::uint32_t;
  // Set in a transition's value when the state it leads to ends a pattern
  // (its own or a suffix's), so that most steps need not look at the state.
  static constexpr State kEndsPattern = State{1} << 31;

  // The value of the transition from `state` on a byte of class `cls`: the
  // next state, with kEndsPattern when it ends a pattern.
  State Step(State state, std::uint8_t cls) const;

  // The steps of the constructor, in order.
  struct SortedKeys;
  void ClassifyBytes(const std::vector<std::string>& patterns);
  SortedKeys SortKeys(const std::vector<std::string>& patterns, std::size_t total);
  static void LayOut(const std::vector<std::uint8_t>& keys, const std::vector<std::uint32_t>& key_start,
                     SortedKeys& sorted);
  void BuildTrie(const SortedKeys& keys);
  void LinkStates(std::size_t states, std::size_t dense_cells);

  // One per state, and one more that ends the children of the last (only
  // its first_child is read). The children of a state are consecutive, in
  // rising class order. A new state's children and failure link are filled
  // in when the build reaches it.
  struct Node {
    State first_child{};       // children of s: nodes_[s].first_child .. nodes_[s + 1].first_child - 1
    State fail{};              // longest proper suffix that is a state
    std::uint32_t best_out{};  // lowest pattern position ending here or at a suffix
    std::uint8_t label{};      // class of the edge into this state
    // The first child's label, kept here too: most deep states have one
    // child, and a step that does not take it then reads no other state.
    std::uint8_t first_label{};
  };

  std::size_t first_empty_ = npos;
  std::uint8_t byte_class_[256] = {};  // 0: a byte no pattern holds
  std::size_t classes_ = 1;
  State dense_states_ = 0;   // states below this have a full row
  std::vector<State> rows_;  // state * classes_ + class -> transition value
  std::vector<Node> nodes_;
};
