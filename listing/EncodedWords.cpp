#include "listing/EncodedWords.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/Text.h"
#include "listing/CellText.h"

namespace {

// One encoded word: "=?" charset "?" encoding "?" encoded-text "?=".
struct Word {
  std::size_t begin = 0, end = 0;  // the word's place in the text, end past "?="
  std::string charset;             // lower case, without a language suffix
  std::string bytes;               // the encoded text, decoded from B or Q
};

// Characters of a charset name: RFC 2047's token characters, and "." for
// names such as "ANSI_X3.4-1968". A "*" starts a language suffix.
bool IsCharsetChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-^_`{|}~.").find(c) != std::string_view::npos;
}

// Printable ASCII but "?": what an encoded text may hold.
bool IsEncodedTextChar(char c) { return c > ' ' && c < 0x7F && c != '?'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::optional<std::string> DecodeQ(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '_') {
      out += ' ';
    } else if (c == '=') {
      if (i + 2 >= text.size()) return std::nullopt;  // cut short
      int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

// Base64 with or without its "=" padding; padding only at the end.
std::optional<std::string> DecodeB(std::string_view text) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  out.reserve(text.size() * 3 / 4);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int value = Base64Value(c);
    if (value < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>(bits >> 8);
      out += static_cast<char>(bits);
      bits = 0;
      count = 0;
    }
  }
  if (count == 2) out += static_cast<char>(bits >> 4);
  if (count == 3) {
    out += static_cast<char>(bits >> 10);
    out += static_cast<char>(bits >> 2);
  }
  return out;
}

// The encoded word that starts at `begin` (at "=?"), if one does.
std::optional<Word> ParseWord(std::string_view text, std::size_t begin) {
  std::size_t i = begin + 2;
  std::size_t charset_begin = i;
  while (i < text.size() && IsCharsetChar(text[i])) ++i;
  std::string_view charset = text.substr(charset_begin, i - charset_begin);
  if (charset.empty() || i + 2 >= text.size() || text[i] != '?' || text[i + 2] != '?') return std::nullopt;
  char encoding = text[i + 1];
  std::size_t text_begin = i + 3;
  i = text_begin;
  while (i < text.size() && IsEncodedTextChar(text[i])) ++i;
  if (i + 1 >= text.size() || text[i] != '?' || text[i + 1] != '=') return std::nullopt;
  std::string_view encoded = text.substr(text_begin, i - text_begin);

  std::optional<std::string> bytes;
  if (encoding == 'Q' || encoding == 'q') bytes = DecodeQ(encoded);
  if (encoding == 'B' || encoding == 'b') bytes = DecodeB(encoded);
  if (!bytes) return std::nullopt;
  charset = charset.substr(0, charset.find('*'));  // RFC 2231's language suffix
  if (charset.empty()) return std::nullopt;
  return Word{begin, i + 2, platform::AsciiLower(charset), std::move(*bytes)};
}

// Decoders by charset name. A decoder of ICU's is costly to make and is
// kept; Qt's own (UTF-8, UTF-16, UTF-32, Latin-1) are made afresh each time.
// An ICU decoder keeps reporting an error once it has seen one, so after an
// error it is dropped and the next text gets a new one.
class DecoderCache {
 public:
  // `bytes` in `charset`, or nothing when the charset is unknown or the
  // bytes are not valid in it.
  std::optional<QString> Decode(const std::string& charset, const std::string& bytes) {
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    std::optional<QStringConverter::Encoding> own = QStringConverter::encodingForName(charset.c_str());
    if (own && *own != QStringConverter::System) {
      QStringDecoder decoder(*own, QStringConverter::Flag::Stateless);
      QString text = decoder.decode(view);
      if (decoder.hasError()) return std::nullopt;
      return text;
    }
    if (own) return std::nullopt;  // the locale's charset is not a charset a sender can name
    auto found = decoders_.find(charset);
    if (found == decoders_.end()) {
      if (decoders_.size() >= kMaxKept) decoders_.clear();  // a flood of made-up names stays small
      auto decoder = std::make_unique<QStringDecoder>(charset.c_str(), QStringConverter::Flag::Stateless);
      if (!decoder->isValid()) decoder.reset();  // kept as unknown
      found = decoders_.emplace(charset, std::move(decoder)).first;
    }
    QStringDecoder* decoder = found->second.get();
    if (decoder == nullptr) return std::nullopt;
    decoder->resetState();
    QString text = decoder->decode(view);
    if (decoder->hasError()) {
      decoders_.erase(found);
      return std::nullopt;
    }
    return text;
  }

 private:
  static constexpr std::size_t kMaxKept = 64;
  std::unordered_map<std::string, std::unique_ptr<QStringDecoder>> decoders_;
};

// What a word decodes to may not carry line breaks or other controls into
// a grid cell or a terminal.
void ReplaceControls(QString& text) {
  for (QChar& c : text) {
    char16_t u = c.unicode();
    if (u == '\t' || u == '\r' || u == '\n') {
      c = QChar(u' ');
    } else if (u < 0x20 || u == 0x7F) {
      c = QChar(QChar::ReplacementCharacter);
    }
  }
}

// No fewer than the bytes `text` takes in UTF-8 (a surrogate pair takes four,
// counted as six: a lone surrogate would be written as three).
std::size_t Utf8SizeBound(const QString& text) {
  std::size_t size = 0;
  for (QChar c : text) {
    char16_t u = c.unicode();
    size += u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
  }
  return size;
}

bool IsLinearWhiteSpace(std::string_view gap) {
  return gap.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

std::string DecodeEncodedWords(std::string_view text) {
  if (text.find("=?") == std::string_view::npos) return std::string(text);

  std::vector<Word> words;
  for (std::size_t at = text.find("=?"); at != std::string_view::npos; at = text.find("=?", at)) {
    if (std::optional<Word> word = ParseWord(text, at)) {
      at = word->end;
      words.push_back(std::move(*word));
    } else {
      ++at;
    }
  }
  if (words.empty()) return std::string(text);

  thread_local DecoderCache decoders;
  const CellCharset around = CellCharsetOf(text);
  QString out;
  bool decoded_any = false;
  std::size_t copied = 0;       // the raw text up to here is in `out`
  bool last_decoded = false;    // the word that ended at `copied` was decoded
  for (std::size_t w = 0; w < words.size();) {
    // A run: this word and the following ones of the same charset that
    // follow it with only blanks between.
    std::size_t last = w;
    std::string bytes = words[w].bytes;
    while (last + 1 < words.size() && words[last + 1].charset == words[w].charset &&
           IsLinearWhiteSpace(text.substr(words[last].end, words[last + 1].begin - words[last].end))) {
      ++last;
      bytes += words[last].bytes;
    }
    const std::size_t begin = words[w].begin, end = words[last].end;
    std::optional<QString> run = decoders.Decode(words[w].charset, bytes);
    if (run) {
      ReplaceControls(*run);
      if (Utf8SizeBound(*run) > kDecodedBytesPerRawByte * (end - begin)) run.reset();
    }
    std::string_view gap = text.substr(copied, begin - copied);
    // Blanks between two decoded words go; anything else stays.
    if (!(run && last_decoded && IsLinearWhiteSpace(gap))) out += DecodeCellBytes(gap, around);
    if (run) {
      out += *run;
      decoded_any = true;
    } else {
      out += DecodeCellBytes(text.substr(begin, end - begin), around);
    }
    copied = end;
    last_decoded = run.has_value();
    w = last + 1;
  }
  if (!decoded_any) return std::string(text);
  out += DecodeCellBytes(text.substr(copied), around);
  return out.toStdString();
}
