#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "demo/SampleInstallation.h"
#include "demo/SampleWriter.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Relative path -> content of every file under `root`.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), root).generic_string()] = ReadAll(entry.path());
  }
  return files;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

bool HasBareLineFeed(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return true;
  }
  return false;
}

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() /
            ("sample-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             std::to_string(counter_++) + "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

// One generated tree shared by the read-only checks.
class SampleTree : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    sample::WriteSampleInstallation(dir_->path(), {.seed = 42, .messages_per_queue = 60});
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static fs::path Root() { return dir_->path(); }
  static fs::path Queue(std::string_view root, std::string_view queue) { return Root() / root / "Mail" / queue; }

  static inline TempDir* dir_ = nullptr;
};

TEST(SampleDeterminism, SameSeedSameTreeOtherSeedOtherTree) {
  TempDir a, b, c;
  sample::WriteSampleInstallation(a.path(), {.seed = 5, .messages_per_queue = 20});
  sample::WriteSampleInstallation(b.path(), {.seed = 5, .messages_per_queue = 20});
  sample::WriteSampleInstallation(c.path(), {.seed = 6, .messages_per_queue = 20});
  const auto first = Snapshot(a.path());
  EXPECT_GT(first.size(), 200u);
  EXPECT_EQ(first, Snapshot(b.path()));
  EXPECT_NE(first, Snapshot(c.path()));
}

TEST_F(SampleTree, EveryQueueFolderAndSubfolderExists) {
  for (std::string_view root : sample::kRootNames) {
    for (std::string_view queue : sample::kQueueNames) {
      EXPECT_TRUE(fs::is_directory(Queue(root, queue))) << root << "/" << queue;
      for (std::string_view sub : sample::kSubfolderNames) {
        EXPECT_TRUE(fs::is_directory(Queue(root, queue) / sub)) << root << "/" << queue << "/" << sub;
      }
    }
  }
  EXPECT_TRUE(fs::is_regular_file(Root() / "Filter.ini"));
}

TEST_F(SampleTree, PairQueuesHoldCompletePairsInRemailerLayout) {
  for (std::string_view root : sample::kRootNames) {
    for (std::string_view queue : {"Mailout", "NNTP"}) {
      for (std::string_view sub : {"", "Wait", "Errors", "Local"}) {
        const fs::path folder = Queue(root, queue) / sub;
        const std::string where = folder.string();
        std::size_t header_files = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
          if (!entry.is_regular_file()) continue;
          const std::string name = entry.path().filename().string();
          const std::string ext = entry.path().extension().string();
          ASSERT_TRUE(ext == ".q0" || ext == ".q1" || ext == ".Q0" || ext == ".Q1") << where << "/" << name;
          const std::string base = entry.path().stem().string();
          ASSERT_EQ(base.size(), 8u) << name;
          const bool upper = ext[1] == 'Q';
          for (char ch : base) {
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(ch)) ||
                        (upper ? std::isupper(static_cast<unsigned char>(ch)) : std::islower(static_cast<unsigned char>(ch))))
                << name;
          }
          std::string partner = name;
          partner.back() = partner.back() == '0' ? '1' : '0';
          EXPECT_TRUE(fs::exists(folder / partner)) << where << "/" << name << " has no " << partner;
          if (ext == ".q1" || ext == ".Q1") continue;

          ++header_files;
          const std::string text = ReadAll(entry.path());
          if (text.empty()) continue;  // empty .q0 files are part of the sample
          EXPECT_FALSE(HasBareLineFeed(text)) << name;
          ASSERT_TRUE(EndsWith(text, "\r\n\r\n")) << name;
          const std::vector<std::string> lines = SplitCrLf(text);
          ASSERT_GE(lines.size(), 6u) << name;
          EXPECT_EQ(lines[0].rfind("Q ", 0), 0u) << name;
          // strftime("%x %X") in the C locale: MM/DD/YY HH:MM:SS.
          int mo, d, y, h, mi, s;
          char tail;
          EXPECT_EQ(std::sscanf(lines[1].c_str(), "%2d/%2d/%2d %2d:%2d:%2d%c", &mo, &d, &y, &h, &mi, &s, &tail), 6)
              << name << ": " << lines[1];
          EXPECT_TRUE(lines.back().empty()) << name;
          bool has_from = false, has_date = false, has_newsgroups = false;
          for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
            const std::size_t colon = lines[i].find(": ");
            ASSERT_NE(colon, std::string::npos) << name << ": " << lines[i];
            ASSERT_GT(colon, 0u) << name;
            const std::string field = lines[i].substr(0, colon);
            has_from |= field == "From";
            has_date |= field == "Date";
            has_newsgroups |= field == "Newsgroups";
          }
          EXPECT_TRUE(has_from && has_date) << name;
          EXPECT_EQ(has_newsgroups, queue == std::string_view("NNTP")) << name;
        }
        EXPECT_EQ(header_files, sub.empty() ? 60u : sample::SubfolderMessageCount(sub, 60)) << where;
      }
    }
  }
}

TEST_F(SampleTree, SalvagedHeaderFilesCarryTheTagOverTheFinalLineEnd) {
  for (std::string_view root : sample::kRootNames) {
    for (std::string_view queue : {"Mailout", "NNTP"}) {
      std::size_t tagged = 0;
      for (const auto& entry : fs::directory_iterator(Queue(root, queue))) {
        const std::string text = entry.is_regular_file() ? ReadAll(entry.path()) : std::string();
        if (text.find("X-Salvaged") == std::string::npos) continue;
        ++tagged;
        EXPECT_TRUE(EndsWith(text, sample::kSalvageTag)) << entry.path();
        // The tag replaced the empty line: the header before it ends with a
        // single CR LF, not with the blank line the file had before.
        const std::string before = text.substr(0, text.size() - sample::kSalvageTag.size());
        EXPECT_TRUE(EndsWith(before, "\r\n")) << entry.path();
        EXPECT_FALSE(EndsWith(before, "\r\n\r\n")) << entry.path();
        EXPECT_EQ(text.find("X-Salvaged"), text.size() - sample::kSalvageTag.size()) << entry.path();
      }
      EXPECT_GE(tagged, 2u) << root << "/" << queue;
    }
  }
}

TEST_F(SampleTree, OneFileMessagesHaveHeadersBlankLineAndBody) {
  std::size_t empty = 0;
  for (std::string_view root : sample::kRootNames) {
    for (std::string_view queue : {"~Filtered", "MailIn", "Trash", "~Bounces"}) {
      for (const auto& entry : fs::recursive_directory_iterator(Queue(root, queue))) {
        if (!entry.is_regular_file()) continue;
        const std::string text = ReadAll(entry.path());
        if (text.empty()) {
          ++empty;
          continue;
        }
        EXPECT_FALSE(HasBareLineFeed(text)) << entry.path();
        const std::size_t blank = text.find("\r\n\r\n");
        ASSERT_NE(blank, std::string::npos) << entry.path();
        const std::string head = "\r\n" + text.substr(0, blank + 2);
        EXPECT_NE(head.find("\r\nFrom: "), std::string::npos) << entry.path();
        EXPECT_NE(head.find("\r\nDate: "), std::string::npos) << entry.path();
        EXPECT_NE(head.find("\r\nSubject: "), std::string::npos) << entry.path();
        EXPECT_LT(blank + 4, text.size()) << entry.path() << " has no body";
      }
    }
  }
  EXPECT_GT(empty, 0u);
}

// The sample rules must have work to do in the queues the batch filter reads.
TEST_F(SampleTree, FilterRulesDeleteHoldAndLabelSampleMessages) {
  const std::vector<sample::FilterRule> rules = sample::SampleFilterRules();
  std::map<char, std::size_t> hits;  // '-' delete, 'W' hold, 'l' label
  for (std::string_view root : sample::kRootNames) {
    for (std::string_view queue : {"Mailout", "NNTP"}) {
      for (const auto& entry : fs::directory_iterator(Queue(root, queue))) {
        if (!entry.is_regular_file()) continue;
        const std::string ext = entry.path().extension().string();
        if (ext != ".q0" && ext != ".Q0") continue;
        for (const std::string& line : SplitCrLf(ReadAll(entry.path()))) {
          for (const sample::FilterRule& rule : rules) {
            if (line.rfind(rule.header_word, 0) == 0 && line.find(rule.pattern, rule.header_word.size()) != std::string::npos) {
              const char last = rule.tag.back();
              ++hits[last == '-' || last == 'W' ? last : 'l'];
            }
          }
        }
      }
    }
  }
  EXPECT_GE(hits['-'], 4u);
  EXPECT_GE(hits['W'], 4u);
  EXPECT_GE(hits['l'], 4u);
}

TEST(SampleFilterIni, RecordsAreThreeQuotedFieldsWithKnownHeaderWords) {
  const std::string text = sample::RenderFilterIni(sample::SampleFilterRules());
  EXPECT_FALSE(HasBareLineFeed(text));
  std::size_t unknown_words = 0;
  for (const std::string& line : SplitCrLf(text)) {
    ASSERT_EQ(line.front(), '"') << line;
    ASSERT_EQ(line.back(), '"') << line;
    std::vector<std::string> fields;
    std::size_t pos = 1;
    for (std::size_t end; (end = line.find("\",\"", pos)) != std::string::npos; pos = end + 3) {
      fields.push_back(line.substr(pos, end - pos));
    }
    fields.push_back(line.substr(pos, line.size() - 1 - pos));
    ASSERT_EQ(fields.size(), 3u) << line;
    const bool known = fields[1] == "From: " || fields[1] == "Subject: " || fields[1] == "To: " || fields[1] == "Newsgroups: ";
    unknown_words += known ? 0 : 1;
  }
  EXPECT_EQ(unknown_words, 1u);
}

TEST(SampleSalvageTag, ReplacesTheLastTwoBytesInMemoryAndOnDisk) {
  struct Case {
    std::string in;
    std::string out;
  };
  const std::string tag(sample::kSalvageTag);
  const std::vector<Case> cases = {
      {"Q 1\r\n01/01/26 00:00:00\r\nFrom: a\r\n\r\n", "Q 1\r\n01/01/26 00:00:00\r\nFrom: a\r\n" + tag},
      {"ab", tag},
      {"x", "x"},
      {"", ""},
  };
  TempDir dir;
  for (const Case& c : cases) {
    EXPECT_EQ(sample::WithSalvageTag(c.in), c.out) << c.in;
    const fs::path file = dir.path() / "t.q0";
    sample::WriteFile(file, c.in);
    sample::ApplySalvageTag(file);
    EXPECT_EQ(ReadAll(file), c.out) << c.in;
  }
  EXPECT_EQ(sample::kSalvageTag.size(), 19u);
}

int RunMakeSample(const std::string& args, const fs::path& output) {
  const std::string command = std::string(MAKE_SAMPLE_PATH) + " " + args + " > '" + output.string() + "' 2>&1";
  const int status = std::system(command.c_str());
  return status == -1 ? -1 : WEXITSTATUS(status);
}

TEST(MakeSampleCommand, RefusesNonEmptyFolderUnlessForced) {
  TempDir dir;
  const fs::path out = dir.path() / "out";
  const fs::path log = dir.path() / "log.txt";
  fs::create_directories(out);
  sample::WriteFile(out / "keep.txt", "mine");

  EXPECT_NE(RunMakeSample("--messages 5 '" + out.string() + "'", log), 0);
  EXPECT_FALSE(fs::exists(out / "Kestrane"));
  EXPECT_NE(ReadAll(log).find("--force"), std::string::npos);

  ASSERT_EQ(RunMakeSample("--messages 5 --seed 3 --force '" + out.string() + "'", log), 0) << ReadAll(log);
  EXPECT_TRUE(fs::is_directory(out / "Kestran2" / "Mail" / "~Bounces" / "Errors"));
  EXPECT_EQ(ReadAll(out / "keep.txt"), "mine");
  const std::string summary = ReadAll(log);
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 1) << summary;

  // A forced rerun with fewer messages leaves no files of the larger run behind.
  const auto before = Snapshot(out / "Kestrane");
  ASSERT_EQ(RunMakeSample("--messages 2 --seed 3 --force '" + out.string() + "'", log), 0) << ReadAll(log);
  EXPECT_LT(Snapshot(out / "Kestrane").size(), before.size());

  EXPECT_EQ(RunMakeSample("--help", log), 0);
  EXPECT_NE(RunMakeSample("--size huge '" + out.string() + "'", log), 0);
}

}  // namespace
