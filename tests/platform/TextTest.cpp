#include <gtest/gtest.h>

#include "platform/Text.h"

namespace {

TEST(MatchesMask, FollowsTheFolderListingRules) {
  struct Case { const char* name; const char* mask; bool match; } cases[] = {
      {"abc.q0", "*.q0", true},     {"ABC.Q0", "*.q0", true},    {"abc.q0x", "*.q0", false},
      {"abc.q0x", "*.q0*", true},   {"a.b.q0", "*.q0", true},    {"abc.q1", "*.q0*", false},
      {"noext", "*.*", true},       {"x.y", "*.*", true},        {".hidden", "*.*", false},
      {".hidden.q0", "*.q0", false}, {"abc", "a?c", true},        {"abbc", "a?c", false},
      {"aXbXc", "a*b*c", true},     {"aXbX", "a*b*c", false},    {"q0", "*.q0", false},
      {"", "*", false},             {"any", "*", true},          {"ab", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::MatchesMask(c.name, c.mask), c.match) << c.name << " ~ " << c.mask;
}

TEST(Text, FoldsAsciiLettersOnly) {
  EXPECT_EQ(platform::AsciiLower("AbC\xC9\xE9z"), "abc\xC9\xE9z");
  EXPECT_TRUE(platform::EqualsIgnoreCase("From: ", "FROM: "));
  EXPECT_FALSE(platform::EqualsIgnoreCase("\xC9", "\xE9"));
  EXPECT_FALSE(platform::EqualsIgnoreCase("From:", "From: "));
}

TEST(Text, SplitsAtTheLastSeparator) {
  EXPECT_EQ(platform::SplitPath("/a/b/c.q0"), (std::pair<std::string, std::string>{"/a/b", "c.q0"}));
  EXPECT_EQ(platform::SplitPath("c.q0"), (std::pair<std::string, std::string>{"", "c.q0"}));
}

}  // namespace
