#include "shared/PatternMatcher.h"

#include <algorithm>
#include <deque>
#include <limits>

#include "platform/Text.h"

namespace {
// Transition tables above this many cells (4 bytes each) use the plain search.
constexpr std::size_t kMaxCells = std::size_t{8} << 20;
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
}  // namespace

PatternMatcher::PatternMatcher(const std::vector<std::string>& patterns) {
  lowered_.reserve(patterns.size());
  std::size_t total = 0;
  bool used[256] = {};
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    lowered_.push_back(platform::AsciiLower(patterns[i]));
    if (lowered_.back().empty() && first_empty_ == npos) first_empty_ = i;
    total += lowered_.back().size();
    for (unsigned char c : lowered_.back()) used[c] = true;
  }
  if (patterns.size() >= kNone) return;
  for (int b = 0; b < 256; ++b) {
    if (used[b]) byte_class_[b] = static_cast<std::uint8_t>(classes_++);
  }
  // Capital letters fall into the class of their small letter.
  for (int b = 'A'; b <= 'Z'; ++b) byte_class_[b] = byte_class_[b - 'A' + 'a'];
  if ((total + 1) * classes_ > kMaxCells) return;

  next_.assign(classes_, -1);
  best_out_.assign(1, kNone);
  for (std::size_t i = 0; i < lowered_.size(); ++i) {
    std::int32_t state = 0;
    for (unsigned char c : lowered_[i]) {
      std::int32_t& slot = next_[static_cast<std::size_t>(state) * classes_ + byte_class_[c]];
      if (slot < 0) {
        slot = static_cast<std::int32_t>(best_out_.size());
        best_out_.push_back(kNone);
        next_.resize(next_.size() + classes_, -1);
      }
      state = next_[static_cast<std::size_t>(state) * classes_ + byte_class_[c]];
    }
    if (state != 0) best_out_[static_cast<std::size_t>(state)] =
        std::min(best_out_[static_cast<std::size_t>(state)], static_cast<std::uint32_t>(i));
  }
  // Breadth-first: failure links, then complete transitions, and the best
  // output of each state merged with that of its failure state.
  std::vector<std::int32_t> fail(best_out_.size(), 0);
  std::deque<std::int32_t> queue;
  for (std::size_t c = 0; c < classes_; ++c) {
    std::int32_t& slot = next_[c];
    if (slot < 0) {
      slot = 0;
    } else {
      queue.push_back(slot);
    }
  }
  while (!queue.empty()) {
    auto state = static_cast<std::size_t>(queue.front());
    queue.pop_front();
    auto state_fail = static_cast<std::size_t>(fail[state]);
    best_out_[state] = std::min(best_out_[state], best_out_[state_fail]);
    for (std::size_t c = 0; c < classes_; ++c) {
      std::int32_t& slot = next_[state * classes_ + c];
      std::int32_t via_fail = next_[state_fail * classes_ + c];
      if (slot < 0) {
        slot = via_fail;
      } else {
        fail[static_cast<std::size_t>(slot)] = via_fail;
        queue.push_back(slot);
      }
    }
  }
  automaton_ = true;
}

std::size_t PatternMatcher::FirstMatch(std::string_view text) const {
  if (text.empty()) return npos;
  if (!automaton_) return FirstMatchPlain(text);
  std::uint32_t best = first_empty_ == npos ? kNone : static_cast<std::uint32_t>(first_empty_);
  std::size_t state = 0;
  for (unsigned char c : text) {
    state = static_cast<std::size_t>(next_[state * classes_ + byte_class_[c]]);
    best = std::min(best, best_out_[state]);
    if (best == 0) break;
  }
  return best == kNone ? npos : best;
}

std::size_t PatternMatcher::FirstMatchPlain(std::string_view text) const {
  std::string lowered = platform::AsciiLower(text);
  for (std::size_t i = 0; i < lowered_.size(); ++i) {
    if (lowered.find(lowered_[i]) != std::string::npos) return i;
  }
  return npos;
}
