#include "shared/PatternMatcher.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "platform/Text.h"

namespace {
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// A state with more children than this finds its edge by binary search.
constexpr std::uint32_t kLinearScan = 8;
}  // namespace

// The non-empty patterns as keys of byte classes, in sorted order and laid
// out one after the other in that order.
struct PatternMatcher::SortedKeys {
  std::vector<std::uint32_t> pattern;  // list position of each key
  std::vector<std::uint8_t> bytes;     // the keys' classes, key after key
  std::vector<std::uint32_t> start;    // of each key in `bytes`, and the end
  std::size_t states = 1;              // of the trie they make, the root included
};

PatternMatcher::PatternMatcher(const std::vector<std::string>& patterns, std::size_t dense_cells) {
  // States and key offsets are below kEndsPattern; the trie has at most one
  // state per pattern byte and the root.
  std::size_t total = 0;
  for (const std::string& p : patterns) total += p.size();
  if (patterns.size() >= kNone || total >= kEndsPattern - 1) throw std::length_error("pattern list too large");

  ClassifyBytes(patterns);
  SortedKeys keys = SortKeys(patterns, total);
  BuildTrie(keys);
  LinkStates(keys.states, dense_cells);
}

// One class per byte that some pattern holds (after letter case folding);
// class 0 for the others.
void PatternMatcher::ClassifyBytes(const std::vector<std::string>& patterns) {
  bool used[256] = {};
  for (const std::string& p : patterns) {
    for (char c : p) used[static_cast<unsigned char>(platform::AsciiLower(c))] = true;
  }
  for (int b = 0; b < 256; ++b) {
    if (used[b]) byte_class_[b] = static_cast<std::uint8_t>(classes_++);
  }
  // Capital letters fall into the class of their small letter.
  for (int b = 'A'; b <= 'Z'; ++b) byte_class_[b] = byte_class_[b - 'A' + 'a'];
}

// The sort compares the first eight classes of a key as one number (class 0
// never occurs in a key, so the zero padding sorts a shorter key first) and
// only on a tie the rest. The sorted keys are then laid out in that order, so
// that each depth of the trie reads them front to back.
PatternMatcher::SortedKeys PatternMatcher::SortKeys(const std::vector<std::string>& patterns, std::size_t total) {
  std::vector<std::uint8_t> keys;
  keys.reserve(total);
  std::vector<std::uint32_t> key_start{0};
  key_start.reserve(patterns.size() + 1);
  for (const std::string& p : patterns) {
    for (char c : p) keys.push_back(byte_class_[static_cast<unsigned char>(c)]);
    key_start.push_back(static_cast<std::uint32_t>(keys.size()));
  }
  struct Entry {
    std::uint64_t head;
    std::uint32_t pattern;
  };
  std::vector<Entry> entries;
  for (std::uint32_t i = 0; i < patterns.size(); ++i) {
    if (patterns[i].empty()) {
      if (first_empty_ == npos) first_empty_ = i;
      continue;
    }
    std::uint64_t head = 0;
    for (std::uint32_t j = key_start[i]; j < key_start[i] + 8; ++j) head = head << 8 | (j < key_start[i + 1] ? keys[j] : 0);
    entries.push_back({head, i});
  }
  auto tail = [&](std::uint32_t pattern) {  // the classes past the eighth
    auto last = keys.begin() + key_start[pattern + 1];
    return std::pair(std::min(keys.begin() + key_start[pattern] + 8, last), last);
  };
  std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
    if (a.head != b.head) return a.head < b.head;
    auto [a_first, a_last] = tail(a.pattern);
    auto [b_first, b_last] = tail(b.pattern);
    return std::lexicographical_compare(a_first, a_last, b_first, b_last);
  });
  SortedKeys sorted;
  for (const Entry& entry : entries) sorted.pattern.push_back(entry.pattern);
  LayOut(keys, key_start, sorted);
  return sorted;
}

// Copies the keys of `keys` (key i from key_start[i] to key_start[i + 1]) in
// the order of sorted.pattern into sorted.bytes, and counts the trie's
// states: the root, then per key the classes past the prefix it shares with
// the key before.
void PatternMatcher::LayOut(const std::vector<std::uint8_t>& keys, const std::vector<std::uint32_t>& key_start,
                            SortedKeys& sorted) {
  std::vector<std::uint8_t>& bytes = sorted.bytes;
  std::vector<std::uint32_t>& start = sorted.start;
  bytes.reserve(keys.size());
  start.assign(1, 0);
  start.reserve(sorted.pattern.size() + 1);
  for (std::size_t k = 0; k < sorted.pattern.size(); ++k) {
    auto first = keys.begin() + key_start[sorted.pattern[k]], last = keys.begin() + key_start[sorted.pattern[k] + 1];
    std::size_t shared = 0;
    if (k > 0) {
      auto previous = bytes.begin() + start[k - 1];
      auto limit = std::min<std::ptrdiff_t>(last - first, static_cast<std::ptrdiff_t>(start[k] - start[k - 1]));
      shared = static_cast<std::size_t>(std::mismatch(first, first + limit, previous).first - first);
    }
    sorted.states += static_cast<std::size_t>(last - first) - shared;
    bytes.insert(bytes.end(), first, last);
    start.push_back(static_cast<std::uint32_t>(bytes.size()));
  }
}

// The trie, one depth at a time, states numbered breadth-first. A state at
// depth d stands for a run of sorted keys that share d classes; those of
// length d end there (they sort first), the rest split by class d into the
// state's children, which so come in rising class order.
void PatternMatcher::BuildTrie(const SortedKeys& keys) {
  struct Run {
    std::uint32_t lo, hi;  // in keys.pattern
  };
  const std::vector<std::uint8_t>& sorted = keys.bytes;
  const std::vector<std::uint32_t>& start = keys.start;
  nodes_.reserve(keys.states + 1);
  nodes_.push_back({.best_out = kNone});  // the root
  std::vector<Run> level{{0, static_cast<std::uint32_t>(keys.pattern.size())}};
  State state = 0;  // the one whose run is split next
  for (std::uint32_t depth = 0; !level.empty(); ++depth) {
    std::vector<Run> next;
    for (Run run : level) {
      for (; run.lo < run.hi && start[run.lo + 1] - start[run.lo] == depth; ++run.lo) {
        nodes_[state].best_out = std::min(nodes_[state].best_out, keys.pattern[run.lo]);
      }
      nodes_[state].first_child = static_cast<State>(nodes_.size());
      if (run.lo < run.hi) nodes_[state].first_label = sorted[start[run.lo] + depth];
      while (run.lo < run.hi) {
        std::uint8_t cls = sorted[start[run.lo] + depth];
        std::uint32_t end = run.lo + 1;
        while (end < run.hi && sorted[start[end] + depth] == cls) ++end;
        nodes_.push_back({.best_out = kNone, .label = cls});
        next.push_back({run.lo, end});
        run.lo = end;
      }
      ++state;
    }
    level.swap(next);
  }
  nodes_.push_back({.first_child = static_cast<State>(keys.states)});
}

// Breadth-first again: each state's failure link is known before its
// children's, and a failure state is always shallower, so earlier. The
// first states get full rows (their own edges, the rest taken from the
// row of their failure state); each best output takes in that of the
// failure state.
void PatternMatcher::LinkStates(std::size_t states, std::size_t dense_cells) {
  dense_states_ = static_cast<State>(std::clamp<std::size_t>(dense_cells / classes_, 1, states));
  rows_.assign(std::size_t{dense_states_} * classes_, 0);
  for (State s = 0; s < states; ++s) {
    const Node& node = nodes_[s];
    if (s != 0) nodes_[s].best_out = std::min(node.best_out, nodes_[node.fail].best_out);
    bool dense = s < dense_states_;
    if (dense && s != 0) {
      std::copy_n(rows_.begin() + static_cast<std::ptrdiff_t>(std::size_t{node.fail} * classes_), classes_,
                  rows_.begin() + static_cast<std::ptrdiff_t>(std::size_t{s} * classes_));
    }
    for (State child = node.first_child; child < nodes_[s + 1].first_child; ++child) {
      nodes_[child].fail = s == 0 ? 0 : Step(node.fail, nodes_[child].label) & ~kEndsPattern;
      if (dense) rows_[std::size_t{s} * classes_ + nodes_[child].label] = child;
    }
  }
  // The best outputs are final only now: mark the rows' transitions.
  for (State& target : rows_) {
    if (nodes_[target].best_out != kNone) target |= kEndsPattern;
  }
}

PatternMatcher::State PatternMatcher::Step(State state, std::uint8_t cls) const {
  while (state >= dense_states_) {
    const Node& node = nodes_[state];
    State first = node.first_child, last = nodes_[state + 1].first_child;
    // Labels rise: a class below the first label is no child's.
    if (first != last && cls >= node.first_label) {
      State found = last;
      if (cls == node.first_label) {
        found = first;
      } else if (last - first <= kLinearScan) {
        for (State child = first + 1; child < last && found == last; ++child) {
          if (nodes_[child].label == cls) found = child;
        }
      } else {
        auto at = std::lower_bound(nodes_.begin() + first, nodes_.begin() + last, cls,
                                   [](const Node& child, std::uint8_t c) { return child.label < c; });
        if (at != nodes_.begin() + last && at->label == cls) found = static_cast<State>(at - nodes_.begin());
      }
      if (found != last) return found | (nodes_[found].best_out != kNone ? kEndsPattern : 0);
    }
    state = node.fail;
  }
  return rows_[std::size_t{state} * classes_ + cls];
}

std::size_t PatternMatcher::FirstMatch(std::string_view text) const {
  if (text.empty()) return npos;
  std::uint32_t best = first_empty_ == npos ? kNone : static_cast<std::uint32_t>(first_empty_);
  if (nodes_.empty()) return best == kNone ? npos : best;  // built from no patterns at all
  State state = 0;
  for (unsigned char c : text) {
    State next = Step(state, byte_class_[c]);
    state = next & ~kEndsPattern;
    if ((next & kEndsPattern) != 0) {
      best = std::min(best, nodes_[state].best_out);
      if (best == 0) break;
    }
  }
  return best == kNone ? npos : best;
}
