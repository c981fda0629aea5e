#include "shared/Module_SalvageTag.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/Text.h"

bool RewriteMessageFile(const std::string& path,
                        const std::function<std::optional<std::string>(const std::string&)>& change) {
  // One open file for every step: it is read, and the new version replaces
  // it only while its name still holds it unchanged. A move of the message
  // meanwhile, a newcomer under its name, a second name given to it or
  // bytes another program adds all leave it as they made it.
  std::unique_ptr<platform::FileHandle> file = platform::Host().OpenReadWrite(path);
  if (!file) return false;
  std::string content;
  if (!file->ReadAll(&content)) return false;
  std::optional<std::string> changed = change(content);
  if (!changed) return false;
  // The new version is written whole beside the old one first: a full disk
  // or a kill at any instant leaves the old file as it was.
  std::unique_ptr<platform::TempFile> version = file->NewVersion();
  return version && version->Write(*changed) && file->Replace(*version);
}

bool AddSalvageTag(const std::string& path) {
  bool tagged = false;
  bool done = RewriteMessageFile(path, [&tagged](const std::string& content) -> std::optional<std::string> {
    if (content.size() < 2) return std::nullopt;
    // Tagged already (a salvage cut short before the message moved): one
    // tag is enough, so that a second salvage gives the same file.
    if (content.ends_with(SalvageTagText)) {
      tagged = true;
      return std::nullopt;
    }
    return content.substr(0, content.size() - 2).append(SalvageTagText);
  });
  return done || tagged;
}

bool RemoveSalvageTags(const std::string& path) {
  return RewriteMessageFile(path, [](const std::string& content) -> std::optional<std::string> {
    std::string kept = WithoutSalvageTags(content);
    if (kept.size() == content.size()) return std::nullopt;
    return kept;
  });
}

std::string WithoutSalvageTags(std::string_view content) {
  // Lines as the header reader sees them: a line ends at CR LF or at a CR
  // alone; lines 1 and 2 are never header lines.
  std::string kept;
  kept.reserve(content.size());
  std::size_t start = 0;
  for (int line = 1; start < content.size(); ++line) {
    std::size_t cr = content.find('\r', start);
    std::size_t text_end = cr == std::string_view::npos ? content.size() : cr;
    std::size_t next = cr == std::string_view::npos ? content.size() : cr + 1;
    if (next < content.size() && cr != std::string_view::npos && content[next] == '\n') ++next;
    std::string_view text = content.substr(start, text_end - start);
    if (line >= 3 && platform::EqualsIgnoreCase(text, SalvageTagHeader)) {
      // After a line that ended in a bare CR, the LF of a CR LF tag line
      // stays: that CR then ends its line with it, and a following line
      // that begins with an LF cannot join the CR into a new line end.
      if (!kept.empty() && kept.back() == '\r' && next - text_end == 2) kept.push_back('\n');
    } else {
      kept.append(content.substr(start, next - start));
    }
    start = next;
  }
  return kept;
}
