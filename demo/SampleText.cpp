#include "demo/SampleText.h"

#include <array>
#include <vector>

namespace sample {

namespace {

constexpr std::array<std::string_view, 24> kFirstNames = {
    "Anna",  "Bernd",  "Carla", "David", "Elena",  "Frank", "Greta",  "Hugo",
    "Ingrid", "Jonas", "Karin", "Lars",  "Maria",  "Nils",  "Olga",   "Peter",
    "Rita",  "Stefan", "Tina",  "Ulrich", "Vera",  "Walter", "Yvonne", "Zoran"};

constexpr std::array<std::string_view, 20> kLastNames = {
    "Achterberg", "Brandt", "Castell", "Dorn",   "Ekstrom", "Falk",    "Gruber",
    "Hartmann",   "Iversen", "Jansen", "Keller", "Lindqvist", "Moser", "Nowak",
    "Olsen",      "Pauli",   "Richter", "Sommer", "Thorsen", "Vogt"};

// Display names with 8-bit characters: some Latin-1, some UTF-8, some in
// encoded words (one of them quoted, as some mailers send it).
constexpr std::array<std::string_view, 7> kAccentedNames = {
    "J\xFCrgen M\xFCller",
    "Ren\xE9 Lef\xE8vre",
    "Bj\xC3\xB6rn \xC3\x85str\xC3\xB6m",
    "Fran\xC3\xA7oise Ch\xC3\xA2telet",
    "=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?=",
    "\"=?ISO-8859-1?Q?Ren=E9_Lef=E8vre?=\"",
    "=?utf-8?b?QmrDtnJuIMOFc3Ryw7Zt?="};

constexpr std::array<std::string_view, 16> kDomains = {
    "example.net",     "example.org",        "example.com",     "mail.example.de",
    "post.example.at", "uni-kestral.example", "fjordnet.example", "hillside.example",
    "brightwater.example", "north-relay.example", "citynet.example", "oakfield.example",
    "riverbank.example", "lakemail.example", "old-mill.example",  "tinker.example"};

constexpr std::array<std::string_view, 28> kSubjects = {
    "Meeting on Thursday",
    "Minutes of the last club evening",
    "Your order 48213",
    "Invoice for November",
    "Holiday photos",
    "Question about the backup schedule",
    "Printer on the second floor",
    "Draft of the annual report",
    "Re: lunch?",
    "Train times for Saturday",
    "Updated phone list",
    "Bug in the import script",
    "Call for papers: regional workshop",
    "Keys for the storage room",
    "Modem keeps dropping the line",
    "Software update tonight",
    "Birthday card for Maria",
    "Parking permits",
    "Reminder: library books due",
    "Offsite backup tapes",
    "New mailing address",
    "Recipe you asked for",
    "Quarterly figures",
    "Volunteers for the summer fair",
    "Server room temperature alarm",
    "Thanks for yesterday",
    "Cancelled: Friday review",
    "Scanned documents attached"};

// Subjects with 8-bit bytes, and encoded words as mail clients send them:
// both encodings, several charsets, adjacent words.
constexpr std::array<std::string_view, 13> kAccentedSubjects = {
    "Gr\xFC\xDF" "e aus K\xF6ln",
    "R\xE9union du comit\xE9 lundi",
    "Preis: 20 \xA3 pro Person",
    "M\xC3\xB8" "de i morgen",
    "Caf\xC3\xA9 nach der Sitzung?",
    "=?ISO-8859-1?Q?=DCbersicht_f=FCr_Dezember?=",
    "=?UTF-8?B?w5xiZXJzaWNodCBmw7xyIERlemVtYmVy?=",
    "=?utf-8?q?R=C3=A9union_du_comit=C3=A9_lundi?=",
    "=?ISO-8859-2?Q?Spotkanie_w_=A3odzi?=",
    "=?KOI8-R?B?8NLJ18XU?= from the branch office",
    "Re: =?windows-1252?Q?=93Quarterly_figures=94?=",
    "=?UTF-8?Q?Caf=C3=A9_?= =?UTF-8?Q?nach_der_Sitzung?=",
    "=?ISO-8859-15?Q?Preis:_20_=A4_pro_Person?="};

constexpr std::array<std::string_view, 12> kNewsgroups = {
    "comp.mail.misc",        "comp.os.linux.misc", "rec.arts.books",     "rec.photo.digital",
    "sci.astro",             "news.software.readers", "de.comp.misc",   "uk.rec.cycling",
    "misc.consumers",        "rec.gardens",        "comp.os.msdos.misc", "alt.folklore.computers"};

constexpr std::array<std::string_view, 8> kMailers = {
    "Kestrane Mail 2.4",     "Heronpost 4.64",  "Quill/1.5.21",     "Larkspur 2.0.0.24",
    "Ostrava Mail 6.00.2900", "Tern 7.1.0.9",   "Fieldfare 3.7.0",  "Magpie/1.13.7"};

constexpr std::array<std::string_view, 5> kNewsreaders = {"nr/2.4.5", "Siskin/1.0.3", "Kite 5.04.25",
                                                          "Rook Agent 6.00/32.1186", "Snipe v5.13"};

constexpr std::array<std::string_view, 6> kOrganizations = {
    "Kestrane Community Network", "Hillside Amateur Radio Club", "Oakfield Public Library",
    "Private site",               "Riverbank Rowing Club",       "Brightwater Schools"};

constexpr std::array<std::string_view, 30> kSentences = {
    "Thanks for sending the notes so quickly.",
    "I have attached the latest version of the list.",
    "Could you have a look before Friday?",
    "The meeting moves to the small room on the ground floor.",
    "We still need two more people for the Saturday shift.",
    "Please bring the key back to the front desk when you are done.",
    "The figures for October look better than expected.",
    "I could not reach you by phone, so here it is by mail.",
    "The printer jammed again, the service company is informed.",
    "Let me know if the times suit you.",
    "The backup ran through without errors last night.",
    "Tickets are on sale from Monday at the usual place.",
    "I think the second option is the cheaper one in the long run.",
    "Sorry for the late reply, I was away for a week.",
    "The dial-up line was busy most of the afternoon.",
    "Attendance was good, about forty people came.",
    "Do not forget to sign the list at the entrance.",
    "The new timetable is valid from the first of the month.",
    "She asked whether the report could be ready by Wednesday.",
    "There is coffee in the kitchen, the machine works again.",
    "I have forwarded your question to the people who know.",
    "The old server will be switched off at the end of the year.",
    "We agreed to meet again in three weeks.",
    "The parcel arrived yesterday, thank you very much.",
    "Minutes are in the shared folder as usual.",
    "If nobody objects we go ahead as planned.",
    "The photos from the trip are on the club page now.",
    "Remember to change your password before the holidays.",
    "Only members can book the hall on weekends.",
    "I will be in the office on Tuesday and Thursday."};

constexpr std::array<std::string_view, 4> kGreetings = {"Hi", "Hello", "Dear", "Morning"};
constexpr std::array<std::string_view, 4> kClosings = {"Regards,", "Best wishes,", "Cheers,", "Thanks,"};

void AppendWrapped(std::string& out, std::string_view paragraph, std::string_view prefix) {
  constexpr std::size_t kWidth = 72;
  std::string line(prefix);
  std::size_t start = 0;
  while (start < paragraph.size()) {
    std::size_t end = paragraph.find(' ', start);
    if (end == std::string_view::npos) end = paragraph.size();
    const std::string_view word = paragraph.substr(start, end - start);
    if (line.size() > prefix.size() && line.size() + 1 + word.size() > kWidth) {
      out += line;
      out += kCrLf;
      line = prefix;
    }
    if (line.size() > prefix.size()) line += ' ';
    line += word;
    start = end + 1;
  }
  if (line.size() > prefix.size()) {
    out += line;
    out += kCrLf;
  }
}

}  // namespace

std::string Person::Address() const { return mailbox + "@" + domain; }

std::string Person::Mailbox() const { return display.empty() ? Address() : display + " <" + Address() + ">"; }

std::string RandomDomain(Rng& rng) { return std::string(rng.Pick(kDomains)); }

Person RandomPerson(Rng& rng, std::string_view domain) {
  Person p;
  std::string first(rng.Pick(kFirstNames));
  std::string last(rng.Pick(kLastNames));
  p.domain = domain.empty() ? RandomDomain(rng) : std::string(domain);
  auto lower = [](std::string s) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
  };
  switch (rng.Below(4)) {
    case 0:
      p.mailbox = lower(first) + "." + lower(last);
      break;
    case 1:
      p.mailbox = lower(first.substr(0, 1) + last);
      break;
    case 2:
      p.mailbox = lower(first) + std::to_string(rng.Between(1, 99));
      break;
    default:
      p.mailbox = lower(last);
      break;
  }
  const std::uint64_t style = rng.Below(100);
  if (style < 60) {
    p.display = first + " " + last;
  } else if (style < 66) {
    p.display = rng.Pick(kAccentedNames);
  } else if (style < 72) {
    p.display = "\"" + last + ", " + first + "\"";
  }
  return p;
}

std::string RandomSubject(Rng& rng) {
  std::string subject(rng.Percent(20) ? rng.Pick(kAccentedSubjects) : rng.Pick(kSubjects));
  const std::uint64_t prefix = rng.Below(100);
  if (prefix < 20) {
    subject = "Re: " + subject;
  } else if (prefix < 25) {
    subject = "Fwd: " + subject;
  } else if (prefix < 27) {
    subject = "AW: " + subject;
  }
  return subject;
}

std::string RandomNewsgroups(Rng& rng) {
  const std::size_t count = static_cast<std::size_t>(rng.Percent(80) ? 1 : rng.Between(2, 3));
  std::string out;
  for (std::size_t index : rng.Choose(count, kNewsgroups.size())) {
    if (!out.empty()) out += ',';
    out += kNewsgroups[index];
  }
  return out;
}

std::string RandomMailer(Rng& rng) { return std::string(rng.Pick(kMailers)); }
std::string RandomNewsreader(Rng& rng) { return std::string(rng.Pick(kNewsreaders)); }
std::string RandomOrganization(Rng& rng) { return std::string(rng.Pick(kOrganizations)); }

std::string HexToken(Rng& rng, std::size_t length) { return rng.Token(length, "0123456789abcdef"); }

std::string MessageId(Rng& rng, std::string_view domain) {
  std::string id = "<";
  id += HexToken(rng, 12);
  id += '.';
  id += HexToken(rng, 6);
  id += '@';
  id += domain;
  id += '>';
  return id;
}

std::string RandomIp(Rng& rng) {
  static constexpr std::array<std::string_view, 3> kNets = {"192.0.2.", "198.51.100.", "203.0.113."};
  std::string ip(rng.Pick(kNets));
  ip += std::to_string(rng.Between(1, 254));
  return ip;
}

std::string ReceivedValue(Rng& rng, std::string_view by_host, const LocalTime& when) {
  static constexpr std::array<std::string_view, 4> kProtocols = {"SMTP", "ESMTP", "ESMTPS", "LMTP"};
  static constexpr std::array<std::string_view, 5> kHostPrefixes = {"mx", "relay", "smtp", "mail", "out"};
  std::string domain = RandomDomain(rng);
  // "mail.example.de" is already a host name; do not stack another prefix on it.
  if (domain.find('.') != domain.rfind('.')) {
    domain = domain.substr(domain.find('.') + 1);
  }
  // One draw per statement: the operands of + are evaluated in no fixed
  // order, and the output must not depend on the compiler.
  std::string from_host(rng.Pick(kHostPrefixes));
  from_host += std::to_string(rng.Between(1, 9)) + "." + domain;
  const std::string ip = RandomIp(rng);
  const std::string_view protocol = rng.Pick(kProtocols);
  const std::string id = HexToken(rng, 10);
  return "from " + from_host + " (" + from_host + " [" + ip + "]) by " + std::string(by_host) + " with " +
         std::string(protocol) + " id " + id + "; " + Rfc5322Date(when);
}

std::size_t RandomBodySize(Rng& rng) {
  const std::uint64_t bucket = rng.Below(100);
  if (bucket < 55) return static_cast<std::size_t>(rng.Between(60, 500));
  if (bucket < 90) return static_cast<std::size_t>(rng.Between(500, 2000));
  return static_cast<std::size_t>(rng.Between(2000, 6000));
}

std::string RandomBody(Rng& rng, std::size_t approx_bytes, std::string_view signer) {
  std::string out;
  if (rng.Percent(70)) {
    out += rng.Pick(kGreetings);
    out += ' ';
    out += rng.Pick(kFirstNames);
    out += ',';
    out += kCrLf;
    out += kCrLf;
  }
  if (rng.Percent(20)) {
    out += "On an earlier day someone wrote:";
    out += kCrLf;
    std::string quoted;
    for (int i = 0, n = static_cast<int>(rng.Between(1, 3)); i < n; ++i) {
      quoted += std::string(rng.Pick(kSentences)) + " ";
    }
    AppendWrapped(out, quoted, "> ");
    out += kCrLf;
  }
  while (out.size() < approx_bytes) {
    std::string paragraph;
    for (int i = 0, n = static_cast<int>(rng.Between(1, 5)); i < n; ++i) {
      if (!paragraph.empty()) paragraph += ' ';
      paragraph += rng.Pick(kSentences);
    }
    AppendWrapped(out, paragraph, "");
    out += kCrLf;
  }
  out += rng.Pick(kClosings);
  out += kCrLf;
  out += signer;
  out += kCrLf;
  if (rng.Percent(25)) {
    out += "-- ";
    out += kCrLf;
    out += RandomOrganization(rng);
    out += kCrLf;
  }
  return out;
}

}  // namespace sample
