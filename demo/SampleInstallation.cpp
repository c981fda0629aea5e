#include "demo/SampleInstallation.h"

#include <cstdio>
#include <string>
#include <utility>

#include "demo/SampleText.h"

namespace sample {

namespace fs = std::filesystem;

namespace {

// 2026-01-01 00:00:00 UTC.
constexpr std::int64_t kEpochBase = 1767225600;
constexpr std::int64_t kDay = 86400;

// What a message is made to look like, chosen so the sample rules have
// something to delete, hold and label.
enum class Flavor {
  kPlain,
  kSpamSubject,     // "SPAM-"   Subject: viagra           delete
  kPromoFrom,       // "junk-"   From: promo@              delete
  kNewsletterFrom,  // "bulkW"   From: newsletter@         hold
  kToSales,         // "info"    To: sales@                label
  kUsersList,       // "users"   Subject: [kestrane-users] label
  kBinaries,        // "ngW"     Newsgroups: alt.binaries  hold
  kTestGroup,       // "test-"   Newsgroups: misc.test     delete
  kCompLang,        // "lang"    Newsgroups: comp.lang     label
  kBounce,
};

enum class Role { kNormal, kEmpty, kSalvaged };

struct Root {
  std::string name;
  std::string domain;  // the installation's own mail domain
  std::string host;
  int utc_offset = 0;
  std::int64_t now = 0;  // the latest message time in this root
};

struct Slot {
  Role role = Role::kNormal;
  Flavor forced = Flavor::kPlain;
  bool has_forced = false;
};

struct Weighted {
  Flavor flavor;
  unsigned weight;
};

Flavor PickFlavor(Rng& rng, const std::vector<Weighted>& table) {
  unsigned total = 0;
  for (const Weighted& w : table) total += w.weight;
  std::uint64_t roll = rng.Below(total);
  for (const Weighted& w : table) {
    if (roll < w.weight) return w.flavor;
    roll -= w.weight;
  }
  return Flavor::kPlain;
}

std::vector<Weighted> FlavorTable(std::string_view queue) {
  if (queue == "Mailout") {
    return {{Flavor::kPlain, 76}, {Flavor::kSpamSubject, 4}, {Flavor::kPromoFrom, 3},
            {Flavor::kNewsletterFrom, 5}, {Flavor::kToSales, 6}, {Flavor::kUsersList, 6}};
  }
  if (queue == "NNTP") {
    return {{Flavor::kPlain, 72}, {Flavor::kBinaries, 10}, {Flavor::kTestGroup, 5},
            {Flavor::kCompLang, 10}, {Flavor::kSpamSubject, 3}};
  }
  if (queue == "~Bounces") return {{Flavor::kBounce, 1}};
  if (queue == "~Filtered") {
    return {{Flavor::kPlain, 40}, {Flavor::kSpamSubject, 20}, {Flavor::kPromoFrom, 15},
            {Flavor::kNewsletterFrom, 10}, {Flavor::kToSales, 10}, {Flavor::kUsersList, 5}};
  }
  return {{Flavor::kPlain, 80}, {Flavor::kSpamSubject, 4}, {Flavor::kPromoFrom, 3},
          {Flavor::kNewsletterFrom, 4}, {Flavor::kToSales, 5}, {Flavor::kUsersList, 4}};
}

// One message of each action in the queue folder itself, so even a small
// sample shows every kind of rule at work.
std::vector<Flavor> ForcedFlavors(std::string_view queue) {
  if (queue == "Mailout") return {Flavor::kSpamSubject, Flavor::kNewsletterFrom, Flavor::kToSales};
  if (queue == "NNTP") return {Flavor::kTestGroup, Flavor::kBinaries, Flavor::kCompLang};
  if (queue == "~Bounces") return {};
  return {Flavor::kSpamSubject, Flavor::kNewsletterFrom, Flavor::kToSales};
}

std::vector<Slot> PlanSlots(Rng& rng, std::string_view queue, std::size_t count, bool top_level) {
  std::vector<Slot> slots(count);
  std::size_t next = 0;
  if (top_level) {
    for (Flavor f : ForcedFlavors(queue)) {
      if (next == count) break;
      slots[next].forced = f;
      slots[next].has_forced = true;
      ++next;
    }
  }
  std::size_t empties = count * 3 / 100;
  if (top_level && count >= 10 && empties == 0) empties = 1;
  for (std::size_t i = 0; i < empties && next < count; ++i) slots[next++].role = Role::kEmpty;
  if (IsPairQueue(queue)) {
    std::size_t salvaged = count * 3 / 100;
    if (top_level && salvaged < 2) salvaged = 2;
    for (std::size_t i = 0; i < salvaged && next < count; ++i) slots[next++].role = Role::kSalvaged;
  }
  rng.Shuffle(slots);
  return slots;
}

std::string UniquePairBase(Rng& rng, NameSet& names, bool capitals) {
  for (;;) {
    std::string base = RandomBaseName(rng);
    if (names.Insert(PairFileNames(base, capitals).header_file)) {
      names.Insert(PairFileNames(base, capitals).body_file);
      return base;
    }
  }
}

std::string OneFileName(Rng& rng) {
  char number[16];
  std::snprintf(number, sizeof number, "%07u", static_cast<unsigned>(rng.Below(10000000)));
  const std::uint64_t style = rng.Below(100);
  std::string name;
  if (style < 55) {
    name = "m" + std::string(number) + ".cnm";
  } else if (style < 70) {
    name = RandomBaseName(rng) + ".txt";
  } else if (style < 82) {
    name = RandomBaseName(rng);
  } else if (style < 87) {
    name = "msg" + std::string(number + 3);
  } else {
    name = (rng.Percent(70) ? "M" + std::string(number) + ".CNM" : RandomBaseName(rng) + ".TXT");
    for (char& c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return name;
}

std::string UniqueOneFileName(Rng& rng, NameSet& names) {
  for (;;) {
    std::string name = OneFileName(rng);
    if (names.Insert(name)) return name;
  }
}

std::string SpamSubject(Rng& rng) {
  static constexpr std::array<std::string_view, 4> kSpam = {
      "Cheap viagra online", "viagra - lowest prices guaranteed", "Re: your viagra order",
      "Discreet viagra delivery"};
  return std::string(rng.Pick(kSpam));
}

std::string BinariesGroup(Rng& rng) {
  static constexpr std::array<std::string_view, 4> kGroups = {
      "alt.binaries.pictures.misc", "alt.binaries.sounds.mp3", "alt.binaries.multimedia",
      "alt.binaries.pictures.misc,alt.binaries.multimedia"};
  return std::string(rng.Pick(kGroups));
}

std::string CompLangGroup(Rng& rng) {
  static constexpr std::array<std::string_view, 4> kGroups = {"comp.lang.c", "comp.lang.python",
                                                              "comp.lang.c++,comp.lang.c", "comp.lang.misc"};
  return std::string(rng.Pick(kGroups));
}

// Sender, recipients and subject, adjusted to the flavour.
struct Parties {
  Person from;
  std::vector<std::string> to;
  std::string subject;
  std::string newsgroups;  // empty: no Newsgroups header
};

Parties MakeParties(Rng& rng, Flavor flavor, bool outgoing, const Root& root) {
  Parties p;
  const std::string local_domain = root.domain;
  p.from = outgoing ? RandomPerson(rng, local_domain) : RandomPerson(rng);
  const std::size_t recipients = rng.Percent(85) ? 1 : 2;
  for (std::size_t i = 0; i < recipients; ++i) {
    p.to.push_back((outgoing ? RandomPerson(rng) : RandomPerson(rng, local_domain)).Mailbox());
  }
  p.subject = RandomSubject(rng);
  switch (flavor) {
    case Flavor::kSpamSubject:
      p.subject = SpamSubject(rng);
      break;
    case Flavor::kPromoFrom:
      p.from = Person{"Weekly Offers", "promo", outgoing ? local_domain : RandomDomain(rng)};
      p.subject = "This week only: 40% off";
      break;
    case Flavor::kNewsletterFrom:
      p.from = Person{outgoing ? "Kestrane Newsletter" : "Club Newsletter", "newsletter",
                      outgoing ? local_domain : RandomDomain(rng)};
      p.subject = "Newsletter " + std::to_string(rng.Between(1, 52)) + "/2026";
      break;
    case Flavor::kToSales:
      p.to[0] = Person{"Sales", "sales", outgoing ? RandomDomain(rng) : local_domain}.Mailbox();
      break;
    case Flavor::kUsersList:
      p.subject = "[kestrane-users] " + p.subject;
      p.to[0] = "kestrane-users@lists." + local_domain;
      break;
    case Flavor::kBinaries:
      p.newsgroups = BinariesGroup(rng);
      break;
    case Flavor::kTestGroup:
      p.newsgroups = "misc.test";
      p.subject = rng.Percent(50) ? "test" : "Test, please ignore";
      break;
    case Flavor::kCompLang:
      p.newsgroups = CompLangGroup(rng);
      break;
    case Flavor::kPlain:
    case Flavor::kBounce:
      break;
  }
  return p;
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) {
    if (!out.empty()) out += ", ";
    out += item;
  }
  return out;
}

PairMessage MakePair(Rng& rng, std::string_view queue, Flavor flavor, const Root& root) {
  const bool news = queue == "NNTP";
  const std::int64_t sent = root.now - static_cast<std::int64_t>(rng.Below(30 * kDay));
  const LocalTime sent_local = ToLocalTime(sent, root.utc_offset);
  const LocalTime queued_local = ToLocalTime(sent + rng.Between(0, 90), root.utc_offset);
  Parties p = MakeParties(rng, flavor, true, root);
  if (news && p.newsgroups.empty()) p.newsgroups = RandomNewsgroups(rng);

  PairMessage m;
  if (news) {
    m.queue_line = "Q 1 nntp news." + root.domain + " " + std::to_string(rng.Below(3));
  } else {
    // Separate statements keep the order of the draws fixed.
    const std::int64_t priority = rng.Between(1, 3);
    const std::string relay = rng.Percent(70) ? "mail." + root.domain : "relay." + RandomDomain(rng);
    const std::int64_t tries = rng.Percent(80) ? 0 : rng.Between(1, 5);
    m.queue_line = "Q " + std::to_string(priority) + " smtp " + relay + " " + std::to_string(tries);
  }
  m.date_line = QueueDateLine(queued_local);

  HeaderList& h = m.headers;
  h.emplace_back("Return-Path", "<" + p.from.Address() + ">");
  h.emplace_back("From", p.from.Mailbox());
  if (rng.Percent(15)) h.emplace_back("Reply-To", RandomPerson(rng, root.domain).Address());
  if (news) {
    h.emplace_back("Newsgroups", p.newsgroups);
    if (rng.Percent(5) || flavor == Flavor::kToSales) h.emplace_back("To", Join(p.to));
    if (rng.Percent(25)) h.emplace_back("References", MessageId(rng, RandomDomain(rng)));
    h.emplace_back("Subject", p.subject);
    h.emplace_back("Date", Rfc5322Date(sent_local));
    h.emplace_back("Message-ID", MessageId(rng, root.host));
    h.emplace_back("Organization", RandomOrganization(rng));
    h.emplace_back("X-Newsreader", RandomNewsreader(rng));
  } else {
    h.emplace_back("To", Join(p.to));
    if (rng.Percent(20)) h.emplace_back("Cc", RandomPerson(rng).Mailbox());
    if (rng.Percent(3)) h.emplace_back("Bcc", RandomPerson(rng, root.domain).Address());
    h.emplace_back("Subject", p.subject);
    h.emplace_back("Date", Rfc5322Date(sent_local));
    h.emplace_back("Message-ID", MessageId(rng, root.host));
    if (rng.Percent(50)) {
      h.emplace_back("MIME-Version", "1.0");
      h.emplace_back("Content-Type", rng.Percent(60) ? "text/plain; charset=ISO-8859-1" : "text/plain; charset=us-ascii");
    }
    if (rng.Percent(70)) h.emplace_back("X-Mailer", RandomMailer(rng));
  }
  m.body = RandomBody(rng, RandomBodySize(rng), p.from.display.empty() ? p.from.mailbox : p.from.display);
  return m;
}

std::string BounceBody(Rng& rng, const Root& root, const Person& original_from, const std::string& recipient,
                       const std::string& subject, const std::string& date) {
  static constexpr std::array<std::string_view, 4> kReasons = {
      "550 5.1.1 <%s>: Recipient address rejected: User unknown in local recipient table",
      "552 5.2.2 <%s>: Mailbox full",
      "554 5.7.1 <%s>: Relay access denied",
      "450 4.4.1 <%s>: Host not found, giving up after 5 days"};
  char reason[256];
  std::snprintf(reason, sizeof reason, rng.Pick(kReasons).data(), recipient.c_str());
  std::string out;
  out += "This is the mail system at host mail." + root.domain + ".\r\n\r\n";
  out += "I'm sorry to have to inform you that your message could not\r\n";
  out += "be delivered to one or more recipients. It's attached below.\r\n\r\n";
  out += "                   The mail system\r\n\r\n";
  out += "<" + recipient + ">: host mx1." + recipient.substr(recipient.find('@') + 1) + " said:\r\n";
  out += "    " + std::string(reason) + "\r\n\r\n";
  out += "--- Original message headers ---\r\n\r\n";
  out += "From: " + original_from.Mailbox() + "\r\n";
  out += "To: <" + recipient + ">\r\n";
  out += "Subject: " + subject + "\r\n";
  out += "Date: " + date + "\r\n\r\n";
  return out;
}

void MakeOneFile(Rng& rng, std::string_view queue, Flavor flavor, const Root& root, HeaderList& h,
                 std::string& body) {
  const std::int64_t sent = root.now - static_cast<std::int64_t>(rng.Below(30 * kDay));
  const bool old_date = rng.Percent(30);
  static constexpr std::array<int, 7> kOffsets = {60, 120, 0, -300, -480, 330, 540};
  const int sender_offset = rng.Pick(kOffsets);
  const std::string date = old_date ? ObsoleteDate(sent, rng) : Rfc5322Date(ToLocalTime(sent, sender_offset));
  const LocalTime arrived = ToLocalTime(sent + rng.Between(5, 600), root.utc_offset);

  if (flavor == Flavor::kBounce) {
    const Person original = RandomPerson(rng, root.domain);
    const std::string recipient = RandomPerson(rng).Address();
    const std::string original_subject = RandomSubject(rng);
    static constexpr std::array<std::string_view, 3> kSubjects = {
        "Undelivered Mail Returned to Sender", "Delivery Status Notification (Failure)",
        "Returned mail: see transcript for details"};
    h.emplace_back("Return-Path", "<>");
    h.emplace_back("Received", ReceivedValue(rng, "mail." + root.domain, arrived));
    h.emplace_back("Date", Rfc5322Date(arrived));
    h.emplace_back("From", "Mail Delivery System <MAILER-DAEMON@mail." + root.domain + ">");
    h.emplace_back("To", original.Mailbox());
    h.emplace_back("Subject", std::string(rng.Pick(kSubjects)));
    h.emplace_back("Message-ID", MessageId(rng, "mail." + root.domain));
    h.emplace_back("Auto-Submitted", "auto-replied");
    body = BounceBody(rng, root, original, recipient, original_subject, date);
    return;
  }

  Parties p = MakeParties(rng, flavor, false, root);
  if (p.newsgroups.empty() && rng.Percent(5)) p.newsgroups = RandomNewsgroups(rng);
  h.emplace_back("Return-Path", "<" + p.from.Address() + ">");
  for (int i = 0, n = static_cast<int>(rng.Between(0, 2)); i < n; ++i) {
    h.emplace_back("Received", ReceivedValue(rng, "mail." + root.domain, arrived));
  }
  h.emplace_back("Date", date);
  h.emplace_back("From", p.from.Mailbox());
  h.emplace_back("To", Join(p.to));
  if (rng.Percent(15)) h.emplace_back("Cc", RandomPerson(rng).Mailbox());
  if (!p.newsgroups.empty()) h.emplace_back("Newsgroups", p.newsgroups);
  h.emplace_back("Subject", p.subject);
  h.emplace_back("Message-ID", MessageId(rng, p.from.domain));
  if (rng.Percent(50)) {
    h.emplace_back("MIME-Version", "1.0");
    h.emplace_back("Content-Type", "text/plain; charset=ISO-8859-1");
  }
  if (rng.Percent(60)) h.emplace_back("X-Mailer", RandomMailer(rng));
  if (queue == "~Filtered" && rng.Percent(40)) h.emplace_back("X-Spam-Level", std::string(static_cast<std::size_t>(rng.Between(1, 9)), '*'));
  body = RandomBody(rng, RandomBodySize(rng), p.from.display.empty() ? p.from.mailbox : p.from.display);
}

void FillFolder(const fs::path& folder, std::string_view queue, std::size_t count, bool top_level, Rng& rng,
                const Root& root, InstallationSummary& summary) {
  fs::create_directories(folder);
  ++summary.folders;
  const std::vector<Weighted> table = FlavorTable(queue);
  const std::vector<Slot> slots = PlanSlots(rng, queue, count, top_level);
  NameSet names;
  for (const Slot& slot : slots) {
    const Flavor flavor = slot.has_forced ? slot.forced : PickFlavor(rng, table);
    ++summary.messages;
    if (IsPairQueue(queue)) {
      const bool capitals = rng.Percent(3);
      const std::string base = UniquePairBase(rng, names, capitals);
      const PairMessage message = MakePair(rng, queue, flavor, root);
      const PairContent content = slot.role == Role::kEmpty      ? PairContent::kEmptyHeaderFile
                                  : slot.role == Role::kSalvaged ? PairContent::kSalvaged
                                                                 : PairContent::kNormal;
      summary.bytes += WritePair(folder, base, capitals, message, content);
      summary.files += 2;
      if (slot.role == Role::kEmpty) ++summary.empty_files;
      if (slot.role == Role::kSalvaged) ++summary.salvaged;
    } else {
      const std::string name = UniqueOneFileName(rng, names);
      HeaderList headers;
      std::string body;
      MakeOneFile(rng, queue, flavor, root, headers, body);
      const std::string text = slot.role == Role::kEmpty ? std::string() : RenderOneFileMessage(headers, body);
      WriteFile(folder / name, text);
      summary.bytes += text.size();
      ++summary.files;
      if (slot.role == Role::kEmpty) ++summary.empty_files;
    }
  }
}

}  // namespace

bool IsPairQueue(std::string_view queue) { return queue == "Mailout" || queue == "NNTP"; }

std::size_t SubfolderMessageCount(std::string_view subfolder, std::size_t queue_count) {
  if (subfolder == "Wait") return queue_count / 4;
  if (subfolder == "Errors") return queue_count / 8;
  return queue_count / 16;
}

std::vector<FilterRule> SampleFilterRules() {
  return {
      {"SPAM-", "Subject: ", "viagra"},
      {"junk-", "From: ", "promo@"},
      {"test-", "Newsgroups: ", "misc.test"},
      {"bulkW", "From: ", "newsletter@"},
      {"ngW", "Newsgroups: ", "alt.binaries"},
      {"info", "To: ", "sales@"},
      {"users", "Subject: ", "[kestrane-users]"},
      {"lang", "Newsgroups: ", "comp.lang"},
      {"note", "X-Note: ", "keep"},
  };
}

InstallationSummary WriteSampleInstallation(const fs::path& out_dir, const InstallationOptions& options) {
  InstallationSummary summary;
  fs::create_directories(out_dir);
  static constexpr std::array<int, 7> kRootOffsets = {60, 120, 0, -300, -480, 330, 540};
  for (std::string_view root_name : kRootNames) {
    Rng root_rng(options.seed ^ HashText(root_name));
    Root root;
    root.name = root_name;
    std::string lower(root_name);
    for (char& c : lower) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    root.domain = lower + ".example";
    root.host = "mail." + root.domain;
    root.utc_offset = root_rng.Pick(kRootOffsets);
    root.now = kEpochBase + static_cast<std::int64_t>(root_rng.Below(330 * kDay));

    for (std::string_view queue : kQueueNames) {
      const fs::path queue_folder = out_dir / root_name / "Mail" / queue;
      // Each folder draws from its own stream so that its contents depend on
      // the seed and its place in the tree only.
      const std::string where = std::string(root_name) + "/" + std::string(queue);
      const std::uint64_t queue_seed = root_rng.Next() ^ HashText(where);
      Rng queue_rng(queue_seed);
      FillFolder(queue_folder, queue, options.messages_per_queue, true, queue_rng, root, summary);
      for (std::string_view sub : kSubfolderNames) {
        Rng sub_rng(queue_seed ^ HashText(where + "/" + std::string(sub)));
        FillFolder(queue_folder / sub, queue, SubfolderMessageCount(sub, options.messages_per_queue), false,
                   sub_rng, root, summary);
      }
    }
  }
  const std::vector<FilterRule> rules = SampleFilterRules();
  WriteFilterIni(out_dir / "Filter.ini", rules);
  summary.rules = rules.size();
  return summary;
}

}  // namespace sample
