// make_bench_queue: writes a large Mailout queue, a Filter.ini with thousands
// of rules and the same patterns as a plain list for a grep baseline.
//
// Every pattern is a distinct token of four consonant-vowel syllables and two
// digits ("kovaturi42"). Consonants that are hexadecimal digits are left out,
// and nothing else in the generated headers has eight such letters followed by
// two digits, so a pattern occurs only where it was put on purpose: exactly
// the chosen share of messages matches, each through one rule in the header
// field that rule looks at.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "demo/SampleText.h"
#include "demo/SampleWriter.h"

namespace fs = std::filesystem;
using sample::HeaderList;
using sample::Rng;

namespace {

constexpr const char* kUsage =
    "usage: make_bench_queue --pairs N [--rules-per-list R] [--match-percent P] [--hold-all] [--seed S] OUTDIR\n"
    "\n"
    "Writes OUTDIR/Mailout (N pairs, .q0 files of about 1 KiB), an empty\n"
    "OUTDIR/Mailout/Wait, OUTDIR/Filter.ini and OUTDIR/patterns.txt.\n"
    "\n"
    "  --pairs N            number of pairs (required)\n"
    "  --rules-per-list R   rules for each of From, Subject, To, Newsgroups\n"
    "                       (default 1000; at least 3)\n"
    "  --match-percent P    share of messages one rule matches (default 1);\n"
    "                       a third of them delete, a third hold, a third label\n"
    "  --hold-all           every message matches a hold rule\n"
    "  --seed S             generator seed (default 1)\n";

enum class Action { kDelete = 0, kHold = 1, kLabel = 2 };

struct RuleList {
  const char* header_word;
  char letter;  // used in tags
};

constexpr RuleList kLists[] = {{"From: ", 'F'}, {"Subject: ", 'S'}, {"To: ", 'T'}, {"Newsgroups: ", 'N'}};
constexpr std::size_t kListCount = std::size(kLists);

// Rule j of a list deletes, holds or labels by j modulo 3, so the rules (and
// the matches, which pick rules by action) are mixed a third each.
Action ActionOf(std::size_t rule) { return static_cast<Action>(rule % 3); }

std::string TagFor(std::size_t list, std::size_t rule) {
  const std::string id = std::string(1, kLists[list].letter) + std::to_string(rule);
  switch (ActionOf(rule)) {
    case Action::kDelete:
      return "d" + id + "-";
    case Action::kHold:
      return "h" + id + "W";
    case Action::kLabel:
      break;
  }
  return "l" + id;
}

std::string PatternToken(Rng& rng) {
  static constexpr std::string_view kConsonants = "gklmnprstvz";
  static constexpr std::string_view kVowels = "aeiou";
  std::string token;
  for (int i = 0; i < 4; ++i) {
    token += rng.Pick(kConsonants);
    token += rng.Pick(kVowels);
  }
  char digits[4];
  std::snprintf(digits, sizeof digits, "%02u", static_cast<unsigned>(rng.Below(100)));
  return token + digits;
}

struct Match {
  std::size_t list = 0;
  std::size_t rule = 0;
};

struct Options {
  std::size_t pairs = 0;
  std::size_t rules_per_list = 1000;
  double match_percent = 1.0;
  bool hold_all = false;
  std::uint64_t seed = 1;
  std::string out_dir;
};

const std::vector<std::string_view>& FillerHeaders() {
  static const std::vector<std::string_view> kFiller = {
      "X-Spam-Status: No, score=-1.9 required=5.0 tests=BAYES_00,DKIM_SIGNED,DKIM_VALID,SPF_PASS autolearn=ham",
      "X-Spam-Checker-Version: Filterhaus 3.4.6 on filter.example.net",
      "X-Virus-Scanned: clean; scanner 0.103.8 signatures 26912",
      "X-Priority: 3 (Normal)",
      "X-Client-Priority: Normal",
      "X-Client-Build: Ostrava Mail V6.00.2900.5512",
      "X-Accept-Language: en-us, en, de",
      "X-Original-Arrival-Time: queued by the local submission agent",
      "X-Auth-Info: authenticated sender, TLSv1.2 with cipher ECDHE-RSA-AES256-GCM-SHA384",
      "X-Delivery-Notice: submitted through the members' gateway",
      "List-Unsubscribe: <mailto:leave-announce@lists.example.org>",
      "Content-Transfer-Encoding: 8bit",
      "Importance: Normal",
      "Thread-Index: AcF2kLq0v0aNw3JrTdeQhm0tTw9b2g==",
  };
  return kFiller;
}

// Bytes the headers take in a .q0 file.
std::size_t HeaderBytes(const HeaderList& headers) {
  std::size_t n = 0;
  for (const auto& [name, value] : headers) n += name.size() + 2 + value.size() + 2;
  return n;
}

// The .q0 text of one message; `match` puts the rule's pattern into the
// rule's header field.
std::string HeaderFile(Rng& rng, const std::optional<Match>& match, const std::vector<std::string>& patterns,
                       std::size_t rules_per_list, std::int64_t now, std::string& signer) {
  const std::string local_domain = "kestrane.example";
  const std::int64_t sent = now - static_cast<std::int64_t>(rng.Below(14 * 86400));
  const sample::LocalTime sent_local = sample::ToLocalTime(sent, 60);
  const sample::LocalTime queued_local = sample::ToLocalTime(sent + rng.Between(0, 90), 60);

  sample::Person from = sample::RandomPerson(rng, local_domain);
  std::string return_path = from.Address();
  std::vector<std::string> to = {sample::RandomPerson(rng).Mailbox()};
  if (rng.Percent(15)) to.push_back(sample::RandomPerson(rng).Mailbox());
  std::string subject = sample::RandomSubject(rng);
  std::string newsgroups = rng.Percent(10) ? sample::RandomNewsgroups(rng) : std::string();

  if (match) {
    const std::string& pattern = patterns[match->list * rules_per_list + match->rule];
    switch (match->list) {
      case 0:
        from.mailbox = pattern;
        return_path = "bounce-" + sample::HexToken(rng, 8) + "@" + from.domain;
        break;
      case 1:
        subject = rng.Percent(50) ? subject + " " + pattern : pattern + ": " + subject;
        break;
      case 2: {
        sample::Person recipient = sample::RandomPerson(rng);
        recipient.mailbox = pattern;
        to[rng.Below(to.size())] = recipient.Mailbox();
        break;
      }
      default:
        newsgroups = rng.Percent(50) ? "alt." + pattern : "comp.os.linux.misc,alt." + pattern + ".discuss";
        break;
    }
  }
  signer = from.display.empty() ? from.mailbox : from.display;

  std::string to_line;
  for (const std::string& t : to) to_line += (to_line.empty() ? "" : ", ") + t;

  HeaderList received;
  HeaderList tail;
  received.reserve(4);
  tail.reserve(32);
  tail.emplace_back("Date", sample::Rfc5322Date(sent_local));
  tail.emplace_back("From", from.Mailbox());
  tail.emplace_back("To", to_line);
  if (!newsgroups.empty()) tail.emplace_back("Newsgroups", newsgroups);
  tail.emplace_back("Subject", subject);
  tail.emplace_back("Message-ID", sample::MessageId(rng, "mail." + local_domain));
  tail.emplace_back("MIME-Version", "1.0");
  tail.emplace_back("Content-Type", "text/plain; charset=ISO-8859-1; format=flowed");
  tail.emplace_back("X-Mailer", sample::RandomMailer(rng));
  tail.emplace_back("X-Originating-IP", "[" + sample::RandomIp(rng) + "]");

  sample::PairMessage m;
  const std::int64_t priority = rng.Between(1, 3);
  const std::int64_t tries = rng.Percent(85) ? 0 : rng.Between(1, 4);
  m.queue_line = "Q " + std::to_string(priority) + " smtp mail." + local_domain + " " + std::to_string(tries);
  m.date_line = sample::QueueDateLine(queued_local);
  m.headers.emplace_back("Return-Path", "<" + return_path + ">");

  // Trace lines first, then filler X- headers, until the file is near its
  // drawn size of about 1 KiB.
  const std::size_t target = static_cast<std::size_t>(rng.Between(900, 1150));
  std::size_t size = m.queue_line.size() + m.date_line.size() + 6 + HeaderBytes(m.headers) + HeaderBytes(tail);
  while (received.size() < 4 && size + 170 < target) {
    received.emplace_back("Received", sample::ReceivedValue(rng, "mail." + local_domain, queued_local));
    size += HeaderBytes({received.back()});
  }
  std::vector<std::string_view> filler = FillerHeaders();
  rng.Shuffle(filler);
  for (std::string_view line : filler) {
    if (size + 60 > target) break;
    const std::size_t colon = line.find(": ");
    tail.emplace_back(std::string(line.substr(0, colon)), std::string(line.substr(colon + 2)));
    size += line.size() + 2;
  }
  m.headers.insert(m.headers.end(), received.begin(), received.end());
  m.headers.insert(m.headers.end(), tail.begin(), tail.end());
  return sample::RenderHeaderFile(m);
}

bool ParseCount(std::string_view text, std::uint64_t& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "make_bench_queue: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  bool have_pairs = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const char* v = (i + 1 < argc) ? argv[i + 1] : nullptr;
    std::uint64_t n = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--hold-all") {
      o.hold_all = true;
    } else if (arg == "--pairs") {
      if (v == nullptr || !ParseCount(v, n) || n > 10000000) return Fail("--pairs needs a number");
      o.pairs = static_cast<std::size_t>(n);
      have_pairs = true;
      ++i;
    } else if (arg == "--rules-per-list") {
      if (v == nullptr || !ParseCount(v, n) || n < 3 || n > 1000000) return Fail("--rules-per-list needs a number >= 3");
      o.rules_per_list = static_cast<std::size_t>(n);
      ++i;
    } else if (arg == "--seed") {
      if (v == nullptr || !ParseCount(v, o.seed)) return Fail("--seed needs a number");
      ++i;
    } else if (arg == "--match-percent") {
      char* end = nullptr;
      o.match_percent = v ? std::strtod(v, &end) : -1;
      if (v == nullptr || *end != '\0' || !(o.match_percent >= 0 && o.match_percent <= 100)) {
        return Fail("--match-percent needs a number from 0 to 100");
      }
      ++i;
    } else if (!arg.empty() && arg[0] == '-') {
      return Fail("unknown option " + std::string(arg) + " (try --help)");
    } else if (o.out_dir.empty()) {
      o.out_dir = arg;
    } else {
      return Fail("only one OUTDIR may be given");
    }
  }
  if (!have_pairs || o.out_dir.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  try {
    const fs::path out(o.out_dir);
    const fs::path mailout = out / "Mailout";
    if (fs::exists(mailout) && !fs::is_empty(mailout)) return Fail(mailout.string() + " is not empty");
    fs::create_directories(mailout / "Wait");

    Rng rng(o.seed);
    Rng pattern_rng = rng.Fork();
    Rng message_rng = rng.Fork();

    // Patterns and rules.
    const std::size_t r = o.rules_per_list;
    std::vector<std::string> patterns;
    std::set<std::string> seen;
    while (patterns.size() < kListCount * r) {
      std::string token = PatternToken(pattern_rng);
      if (seen.insert(token).second) patterns.push_back(std::move(token));
    }
    std::vector<sample::FilterRule> rules;
    std::string pattern_list;
    for (std::size_t list = 0; list < kListCount; ++list) {
      for (std::size_t rule = 0; rule < r; ++rule) {
        const std::string& pattern = patterns[list * r + rule];
        rules.push_back({TagFor(list, rule), kLists[list].header_word, pattern});
        pattern_list += pattern + "\n";
      }
    }
    sample::WriteFilterIni(out / "Filter.ini", rules);
    sample::WriteFile(out / "patterns.txt", pattern_list);

    // Which messages match, and through which rule.
    const std::size_t matching =
        o.hold_all ? o.pairs : static_cast<std::size_t>(std::llround(static_cast<double>(o.pairs) * o.match_percent / 100.0));
    std::vector<std::optional<Match>> matches(o.pairs);
    std::size_t by_action[3] = {0, 0, 0};
    std::size_t k = 0;
    for (std::size_t index : message_rng.Choose(matching, o.pairs)) {
      const Action action = o.hold_all ? Action::kHold : static_cast<Action>(k++ % 3);
      const std::size_t list = static_cast<std::size_t>(message_rng.Below(kListCount));
      // Rules of this action are those with rule % 3 == action.
      const std::size_t first = static_cast<std::size_t>(action);
      const std::size_t choices = (r - first + 2) / 3;
      const std::size_t rule = first + 3 * static_cast<std::size_t>(message_rng.Below(choices));
      matches[index] = Match{list, rule};
      ++by_action[static_cast<int>(action)];
    }

    // 2026-12-06 12:00 UTC, shifted by the seed so runs differ in dates too.
    const std::int64_t now = 1796558400 - static_cast<std::int64_t>(message_rng.Below(86400 * 30));
    sample::NameSet names;
    std::uintmax_t bytes = 0;
    for (std::size_t i = 0; i < o.pairs; ++i) {
      std::string base;
      do {
        base = sample::RandomBaseName(message_rng);
      } while (!names.Insert(base));
      std::string signer;
      const std::string q0 = HeaderFile(message_rng, matches[i], patterns, r, now, signer);
      const std::size_t body_size = static_cast<std::size_t>(message_rng.Between(200, 1500));
      const std::string q1 = sample::RandomBody(message_rng, body_size, signer);
      const sample::PairNames file_names = sample::PairFileNames(base, false);
      sample::WriteFile(mailout / file_names.header_file, q0);
      sample::WriteFile(mailout / file_names.body_file, q1);
      bytes += q0.size() + q1.size();
    }

    std::printf(
        "make_bench_queue: %zu pairs (%.1f MiB), %zu rules; %zu messages match: %zu delete, %zu hold, %zu label; "
        "into %s\n",
        o.pairs, static_cast<double>(bytes) / (1024.0 * 1024.0), rules.size(), matching, by_action[0], by_action[1],
        by_action[2], o.out_dir.c_str());
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  return 0;
}
