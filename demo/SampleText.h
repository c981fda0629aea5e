// Plausible mail content: people, hosts, subjects, newsgroups, bodies and the
// trace headers a message collects on its way. Ordinary content never
// contains the patterns the sample Filter.ini looks for, so which messages a
// rule hits is decided by the caller alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "demo/SampleWriter.h"

namespace sample {

struct Person {
  std::string display;  // may be empty
  std::string mailbox;
  std::string domain;

  // "mailbox@domain"
  std::string Address() const;
  // "Display Name <mailbox@domain>", or just the address when no display name.
  std::string Mailbox() const;
};

std::string RandomDomain(Rng& rng);
// A person at `domain`, or at a random domain when `domain` is empty.
Person RandomPerson(Rng& rng, std::string_view domain = {});
// An everyday subject, now and then with a reply prefix, 8-bit characters or
// encoded words.
std::string RandomSubject(Rng& rng);
// One to three everyday newsgroups, comma separated.
std::string RandomNewsgroups(Rng& rng);
std::string RandomMailer(Rng& rng);
std::string RandomNewsreader(Rng& rng);
std::string RandomOrganization(Rng& rng);
// Lower-case hexadecimal digits.
std::string HexToken(Rng& rng, std::size_t length);
// "<hex.hex@domain>"
std::string MessageId(Rng& rng, std::string_view domain);
// A Received trace line (without the "Received: " name), on one line.
std::string ReceivedValue(Rng& rng, std::string_view by_host, const LocalTime& when);
// Dotted-quad address from a documentation range.
std::string RandomIp(Rng& rng);
// Body text of roughly `approx_bytes` bytes, CR LF line ends, lines of at
// most 76 characters, ending with a line end.
std::string RandomBody(Rng& rng, std::size_t approx_bytes, std::string_view signer);
// A body size drawn so that most messages are short and a few run to KiBs.
std::size_t RandomBodySize(Rng& rng);

}  // namespace sample
