// make_bench_queue: writes a large Mailout queue of pairs and/or a large
// MailIn queue of one-file messages, a Filter.ini with thousands of rules and
// the same patterns as a plain list for a grep baseline.
//
// Every pattern is a distinct token of four consonant-vowel syllables and two
// digits ("kovaturi42"). Consonants that are hexadecimal digits are left out,
// and nothing else in the generated headers has eight such letters followed by
// two digits, so a pattern occurs only where it was put on purpose: exactly
// the chosen share of messages matches, each through one rule in the header
// field that rule looks at. The message bodies hold none either, so grep
// finds the same messages in whole files.

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
    "usage: make_bench_queue [--pairs N] [--single N] [--rules-per-list R] [--match-percent P] [--hold-all]\n"
    "                        [--seed S] OUTDIR\n"
    "\n"
    "Writes OUTDIR/Mailout (N pairs, .q0 files of about 1 KiB, and an empty\n"
    "Wait) with --pairs, OUTDIR/MailIn (N one-file messages, headers of about\n"
    "1 KiB) with --single, and OUTDIR/Filter.ini and OUTDIR/patterns.txt.\n"
    "\n"
    "  --pairs N            number of pairs\n"
    "  --single N           number of one-file messages (at least one of\n"
    "                       --pairs and --single is required)\n"
    "  --rules-per-list R   rules for each of From, Subject, To, Newsgroups\n"
    "                       (default 1000; at least 3)\n"
    "  --match-percent P    share of messages one rule matches (default 1),\n"
    "                       in each folder; a third of them delete, a third\n"
    "                       hold, a third label\n"
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
  std::size_t single = 0;
  bool have_pairs = false;
  bool have_single = false;
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

// Bytes the headers take in a message file.
std::size_t HeaderBytes(const HeaderList& headers) {
  std::size_t n = 0;
  for (const auto& [name, value] : headers) n += name.size() + 2 + value.size() + 2;
  return n;
}

constexpr std::string_view kLocalDomain = "kestrane.example";

// Sender, recipients, subject and newsgroups of one message.
struct Parties {
  sample::Person from;
  std::string return_path;  // without the angle brackets
  std::vector<std::string> to;
  std::string subject;
  std::string newsgroups;  // empty: no Newsgroups field
};

// A sender at `from_domain` writing to people at `to_domain`; an empty
// domain stands for a random one.
Parties DrawParties(Rng& rng, std::string_view from_domain, std::string_view to_domain) {
  Parties p;
  p.from = sample::RandomPerson(rng, from_domain);
  p.return_path = p.from.Address();
  p.to = {sample::RandomPerson(rng, to_domain).Mailbox()};
  if (rng.Percent(15)) p.to.push_back(sample::RandomPerson(rng, to_domain).Mailbox());
  p.subject = sample::RandomSubject(rng);
  p.newsgroups = rng.Percent(10) ? sample::RandomNewsgroups(rng) : std::string();
  return p;
}

// Puts `pattern` into the header field that rule list `list` looks at.
void PlacePattern(Rng& rng, std::size_t list, const std::string& pattern, std::string_view to_domain, Parties& p) {
  switch (list) {
    case 0:
      p.from.mailbox = pattern;
      p.return_path = "bounce-" + sample::HexToken(rng, 8) + "@" + p.from.domain;
      break;
    case 1:
      p.subject = rng.Percent(50) ? p.subject + " " + pattern : pattern + ": " + p.subject;
      break;
    case 2: {
      sample::Person recipient = sample::RandomPerson(rng, to_domain);
      recipient.mailbox = pattern;
      p.to[rng.Below(p.to.size())] = recipient.Mailbox();
      break;
    }
    default:
      p.newsgroups = rng.Percent(50) ? "alt." + pattern : "comp.os.linux.misc,alt." + pattern + ".discuss";
      break;
  }
}

// Date, the parties, Message-ID and what the sender's mail client adds.
HeaderList ContentHeaders(Rng& rng, const Parties& p, const sample::LocalTime& sent, const std::string& id_host) {
  std::string to_line;
  for (const std::string& t : p.to) {
    if (!to_line.empty()) to_line += ", ";
    to_line += t;
  }
  HeaderList h;
  h.reserve(32);
  h.emplace_back("Date", sample::Rfc5322Date(sent));
  h.emplace_back("From", p.from.Mailbox());
  h.emplace_back("To", to_line);
  if (!p.newsgroups.empty()) h.emplace_back("Newsgroups", p.newsgroups);
  h.emplace_back("Subject", p.subject);
  h.emplace_back("Message-ID", sample::MessageId(rng, id_host));
  h.emplace_back("MIME-Version", "1.0");
  h.emplace_back("Content-Type", "text/plain; charset=ISO-8859-1; format=flowed");
  h.emplace_back("X-Mailer", sample::RandomMailer(rng));
  h.emplace_back("X-Originating-IP", "[" + sample::RandomIp(rng) + "]");
  return h;
}

// Return-Path, up to four Received lines by `by_host`, `content`, then
// filler X- headers, until the file is near `target` bytes; `other_bytes`
// counts what the file holds besides the headers.
HeaderList SizedHeaders(Rng& rng, const std::string& return_path, HeaderList content, std::size_t other_bytes,
                        std::size_t target, const std::string& by_host, const sample::LocalTime& received_at) {
  HeaderList headers;
  headers.reserve(content.size() + 20);
  headers.emplace_back("Return-Path", "<" + return_path + ">");
  std::size_t size = other_bytes + HeaderBytes(headers) + HeaderBytes(content);
  while (headers.size() < 5 && size + 170 < target) {
    headers.emplace_back("Received", sample::ReceivedValue(rng, by_host, received_at));
    size += HeaderBytes({headers.back()});
  }
  std::vector<std::string_view> filler = FillerHeaders();
  rng.Shuffle(filler);
  for (std::string_view line : filler) {
    if (size + 60 > target) break;
    const std::size_t colon = line.find(": ");
    content.emplace_back(std::string(line.substr(0, colon)), std::string(line.substr(colon + 2)));
    size += line.size() + 2;
  }
  headers.insert(headers.end(), content.begin(), content.end());
  return headers;
}

// The .q0 text of an outgoing message; `pattern` (when not null) goes into
// the field of rule list `list`.
std::string HeaderFile(Rng& rng, std::size_t list, const std::string* pattern, std::int64_t now, std::string& signer) {
  const std::int64_t sent = now - static_cast<std::int64_t>(rng.Below(14 * 86400));
  const sample::LocalTime sent_local = sample::ToLocalTime(sent, 60);
  const sample::LocalTime queued_local = sample::ToLocalTime(sent + rng.Between(0, 90), 60);
  std::string mail_host = "mail.";
  mail_host += kLocalDomain;

  Parties p = DrawParties(rng, kLocalDomain, {});
  if (pattern != nullptr) PlacePattern(rng, list, *pattern, {}, p);
  signer = p.from.display.empty() ? p.from.mailbox : p.from.display;
  HeaderList content = ContentHeaders(rng, p, sent_local, mail_host);

  sample::PairMessage m;
  const std::int64_t priority = rng.Between(1, 3);
  const std::int64_t tries = rng.Percent(85) ? 0 : rng.Between(1, 4);
  m.queue_line = "Q " + std::to_string(priority) + " smtp " + mail_host + " " + std::to_string(tries);
  m.date_line = sample::QueueDateLine(queued_local);
  // Two lines before the headers and the empty line after them.
  const std::size_t other_bytes = m.queue_line.size() + m.date_line.size() + 6;
  const std::size_t target = static_cast<std::size_t>(rng.Between(900, 1150));
  m.headers = SizedHeaders(rng, p.return_path, std::move(content), other_bytes, target, mail_host, queued_local);
  return sample::RenderHeaderFile(m);
}

// Most bodies of incoming mail take a few hundred bytes, some a KiB or two,
// a few up to 6 KiB.
std::size_t OneFileBodySize(Rng& rng) {
  const std::uint64_t bucket = rng.Below(100);
  if (bucket < 60) return static_cast<std::size_t>(rng.Between(300, 1000));
  if (bucket < 90) return static_cast<std::size_t>(rng.Between(1000, 2500));
  return static_cast<std::size_t>(rng.Between(2500, 6000));
}

// A one-file message as it arrives in MailIn: a sender from anywhere writing
// to local people, headers of about 1 KiB, an empty line and the body.
std::string OneFileMessage(Rng& rng, std::size_t list, const std::string* pattern, std::int64_t now) {
  static constexpr int kSenderOffsets[] = {60, 120, 0, -300, -480, 330, 540};
  const std::int64_t sent = now - static_cast<std::int64_t>(rng.Below(14 * 86400));
  const sample::LocalTime sent_local = sample::ToLocalTime(sent, rng.Pick(kSenderOffsets));
  const sample::LocalTime arrived = sample::ToLocalTime(sent + rng.Between(5, 600), 60);
  std::string mail_host = "mail.";
  mail_host += kLocalDomain;

  Parties p = DrawParties(rng, {}, kLocalDomain);
  if (pattern != nullptr) PlacePattern(rng, list, *pattern, kLocalDomain, p);
  std::string id_host = "mail.";
  id_host += p.from.domain;
  HeaderList content = ContentHeaders(rng, p, sent_local, id_host);
  const std::size_t target = static_cast<std::size_t>(rng.Between(950, 1200));
  const HeaderList headers = SizedHeaders(rng, p.return_path, std::move(content), 2, target, mail_host, arrived);
  const std::string body =
      sample::RandomBody(rng, OneFileBodySize(rng), p.from.display.empty() ? p.from.mailbox : p.from.display);
  return sample::RenderOneFileMessage(headers, body);
}

// "m" and seven digits, ".cnm": how the remailer names what it receives.
std::string OneFileName(Rng& rng) {
  char name[16];
  std::snprintf(name, sizeof name, "m%07u.cnm", static_cast<unsigned>(rng.Below(10000000)));
  return name;
}

// Which of `count` messages match, and through which rule.
struct MatchPlan {
  std::vector<std::optional<Match>> matches;
  std::size_t matching = 0;
  std::size_t by_action[3] = {0, 0, 0};
};

MatchPlan PlanMatches(Rng& rng, std::size_t count, const Options& o) {
  MatchPlan plan;
  plan.matching =
      o.hold_all ? count : static_cast<std::size_t>(std::llround(static_cast<double>(count) * o.match_percent / 100.0));
  plan.matches.resize(count);
  const std::size_t r = o.rules_per_list;
  std::size_t k = 0;
  for (std::size_t index : rng.Choose(plan.matching, count)) {
    const Action action = o.hold_all ? Action::kHold : static_cast<Action>(k++ % 3);
    const std::size_t list = static_cast<std::size_t>(rng.Below(kListCount));
    // Rules of this action are those with rule % 3 == action.
    const std::size_t first = static_cast<std::size_t>(action);
    const std::size_t choices = (r - first + 2) / 3;
    const std::size_t rule = first + 3 * static_cast<std::size_t>(rng.Below(choices));
    plan.matches[index] = Match{list, rule};
    ++plan.by_action[static_cast<int>(action)];
  }
  return plan;
}

// Fails when `folder` holds anything, else makes it (and `also`, if given).
bool PrepareFolder(const fs::path& folder, const fs::path& also = {}) {
  if (fs::exists(folder) && !fs::is_empty(folder)) return false;
  fs::create_directories(also.empty() ? folder : also);
  return true;
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
      o.have_pairs = true;
      ++i;
    } else if (arg == "--single") {
      // Names draw from ten million numbers; past half of them finding a
      // free one gets slow.
      if (v == nullptr || !ParseCount(v, n) || n > 5000000) return Fail("--single needs a number up to 5000000");
      o.single = static_cast<std::size_t>(n);
      o.have_single = true;
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
  if (!(o.have_pairs || o.have_single) || o.out_dir.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  try {
    const fs::path out(o.out_dir);
    const fs::path mailout = out / "Mailout";
    const fs::path mailin = out / "MailIn";
    if (o.have_pairs && !PrepareFolder(mailout, mailout / "Wait")) return Fail(mailout.string() + " is not empty");
    if (o.have_single && !PrepareFolder(mailin)) return Fail(mailin.string() + " is not empty");

    // Forked in this order so that the pairs of a seed stay the same with or
    // without one-file messages.
    Rng rng(o.seed);
    Rng pattern_rng = rng.Fork();
    Rng message_rng = rng.Fork();
    Rng single_rng = rng.Fork();

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
        pattern_list += pattern;
        pattern_list += '\n';
      }
    }
    sample::WriteFilterIni(out / "Filter.ini", rules);
    sample::WriteFile(out / "patterns.txt", pattern_list);
    const auto pattern_of = [&](const std::optional<Match>& match) {
      return match ? &patterns[match->list * r + match->rule] : nullptr;
    };

    if (o.have_pairs) {
      const MatchPlan plan = PlanMatches(message_rng, o.pairs, o);
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
        const std::optional<Match>& match = plan.matches[i];
        const std::string q0 = HeaderFile(message_rng, match ? match->list : 0, pattern_of(match), now, signer);
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
          o.pairs, static_cast<double>(bytes) / (1024.0 * 1024.0), rules.size(), plan.matching, plan.by_action[0],
          plan.by_action[1], plan.by_action[2], o.out_dir.c_str());
    }

    if (o.have_single) {
      const MatchPlan plan = PlanMatches(single_rng, o.single, o);
      const std::int64_t now = 1796558400 - static_cast<std::int64_t>(single_rng.Below(86400 * 30));
      sample::NameSet names;
      std::uintmax_t bytes = 0;
      for (std::size_t i = 0; i < o.single; ++i) {
        std::string name;
        do {
          name = OneFileName(single_rng);
        } while (!names.Insert(name));
        const std::optional<Match>& match = plan.matches[i];
        const std::string text = OneFileMessage(single_rng, match ? match->list : 0, pattern_of(match), now);
        sample::WriteFile(mailin / name, text);
        bytes += text.size();
      }
      // Worded apart from the pairs' line, which scripts read by its
      // "N delete," part.
      std::printf("make_bench_queue: %zu one-file messages (%.1f MiB), %zu rules; %zu of them match a rule; into %s\n",
                  o.single, static_cast<double>(bytes) / (1024.0 * 1024.0), rules.size(), plan.matching,
                  mailin.string().c_str());
    }
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  return 0;
}
