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

PatternMatcher::PatternMatcher(const std::vector<std::string>& patterns, std::size_t dense_cells) {
  // Positions and states are 32-bit, kNone excluded; the trie has at most
  // one state per pattern byte and the root.
  std::size_t total = 0;
  for (const std::string& p : patterns) total += p.size();
  if (patterns.size() >= kNone || total >= kNone - 1) throw std::length_error("pattern list too large");

  bool used[256] = {};
  for (const std::string& p : patterns) {
    for (char c : p) used[static_cast<unsigned char>(platform::AsciiLower(c))] = true;
  }
  for (int b = 0; b < 256; ++b) {
    if (used[b]) byte_class_[b] = static_cast<std::uint8_t>(classes_++);
  }
  // Capital letters fall into the class of their small letter.
  for (int b = 'A'; b <= 'Z'; ++b) byte_class_[b] = byte_class_[b - 'A' + 'a'];

  // Each pattern as a string of byte classes, all in one buffer.
  std::u8string keys;
  keys.reserve(total);
  std::vector<std::uint32_t> key_start(patterns.size() + 1, 0);
  std::vector<std::uint32_t> order;  // the non-empty patterns, sorted by key below
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    for (char c : patterns[i]) keys += static_cast<char8_t>(byte_class_[static_cast<unsigned char>(c)]);
    key_start[i + 1] = static_cast<std::uint32_t>(keys.size());
    if (patterns[i].empty()) {
      if (first_empty_ == npos) first_empty_ = i;
    } else {
      order.push_back(static_cast<std::uint32_t>(i));
    }
  }
  auto key = [&](std::uint32_t i) {
    return std::u8string_view(keys).substr(key_start[i], key_start[i + 1] - key_start[i]);
  };
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });

  // The trie, one depth at a time, states numbered breadth-first. A state at
  // depth d stands for a run of sorted patterns that share d classes; those
  // of length d end there (they sort first), the rest split by class d into
  // the state's children, which so come in rising class order.
  struct Run {
    std::uint32_t lo, hi;  // in `order`
  };
  std::vector<Run> level{{0, static_cast<std::uint32_t>(order.size())}};
  label_.push_back(0);
  best_out_.push_back(kNone);
  for (std::uint32_t depth = 0; !level.empty(); ++depth) {
    std::vector<Run> next;
    for (Run run : level) {
      auto state = static_cast<State>(first_child_.size());
      for (; run.lo < run.hi && key(order[run.lo]).size() == depth; ++run.lo) {
        best_out_[state] = std::min(best_out_[state], order[run.lo]);
      }
      first_child_.push_back(static_cast<State>(label_.size()));
      while (run.lo < run.hi) {
        char8_t cls = key(order[run.lo])[depth];
        std::uint32_t end = run.lo + 1;
        while (end < run.hi && key(order[end])[depth] == cls) ++end;
        label_.push_back(static_cast<std::uint8_t>(cls));
        best_out_.push_back(kNone);
        next.push_back({run.lo, end});
        run.lo = end;
      }
    }
    level.swap(next);
  }
  first_child_.push_back(static_cast<State>(label_.size()));

  // Breadth-first again: each state's failure link is known before its
  // children's, and a failure state is always shallower, so earlier. The
  // first states get full rows (their own edges, the rest taken from the
  // row of their failure state); each best output takes in that of the
  // failure state.
  const auto states = static_cast<State>(label_.size());
  dense_states_ = static_cast<State>(std::clamp<std::size_t>(dense_cells / classes_, 1, states));
  rows_.assign(std::size_t{dense_states_} * classes_, 0);
  fail_.assign(states, 0);
  for (State s = 0; s < states; ++s) {
    if (s != 0) best_out_[s] = std::min(best_out_[s], best_out_[fail_[s]]);
    bool dense = s < dense_states_;
    if (dense && s != 0) {
      std::copy_n(rows_.begin() + static_cast<std::ptrdiff_t>(std::size_t{fail_[s]} * classes_), classes_,
                  rows_.begin() + static_cast<std::ptrdiff_t>(std::size_t{s} * classes_));
    }
    for (State child = first_child_[s]; child < first_child_[s + 1]; ++child) {
      fail_[child] = s == 0 ? 0 : Step(fail_[s], label_[child]);
      if (dense) rows_[std::size_t{s} * classes_ + label_[child]] = child;
    }
  }
}

PatternMatcher::State PatternMatcher::Step(State state, std::uint8_t cls) const {
  while (state >= dense_states_) {
    State lo = first_child_[state], hi = first_child_[state + 1];
    if (hi - lo <= kLinearScan) {
      for (State child = lo; child < hi; ++child) {
        if (label_[child] == cls) return child;
      }
    } else {
      auto first = label_.begin() + lo, last = label_.begin() + hi;
      auto found = std::lower_bound(first, last, cls);
      if (found != last && *found == cls) return static_cast<State>(found - label_.begin());
    }
    state = fail_[state];
  }
  return rows_[std::size_t{state} * classes_ + cls];
}

std::size_t PatternMatcher::FirstMatch(std::string_view text) const {
  if (text.empty()) return npos;
  std::uint32_t best = first_empty_ == npos ? kNone : static_cast<std::uint32_t>(first_empty_);
  if (label_.empty()) return best == kNone ? npos : best;  // built from no patterns at all
  State state = 0;
  for (unsigned char c : text) {
    state = Step(state, byte_class_[c]);
    best = std::min(best, best_out_[state]);
    if (best == 0) break;
  }
  return best == kNone ? npos : best;
}
