#include "shared/Module_SalvageTag.h"

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/Text.h"

bool AddSalvageTag(const std::string& path) {
  // One open file for every step, so that a move of the message meanwhile
  // cannot split the tag between two files.
  std::unique_ptr<platform::FileHandle> file = platform::Host().OpenReadWrite(path);
  if (!file) return false;
  std::optional<std::uint64_t> length = file->Size();
  if (!length || *length < 2) return false;
  // The 17 bytes that grow the file go first: if they cannot be written (disk
  // full), the file is cut back to its old length and stays as it was. The
  // two bytes written over the old ending need no new space.
  if (file->WriteAt(*length, SalvageTagText.substr(2)) &&
      file->WriteAt(*length - 2, SalvageTagText.substr(0, 2))) {
    return true;
  }
  file->Truncate(*length);
  return false;
}

std::string WithoutSalvageTags(std::string_view content, std::size_t* first_removed) {
  // Lines as the header reader sees them: a line ends at CR LF or at a CR
  // alone; lines 1 and 2 are never header lines.
  std::string kept;
  kept.reserve(content.size());
  std::size_t start = 0;
  bool removed = false;
  for (int line = 1; start < content.size(); ++line) {
    std::size_t cr = content.find('\r', start);
    std::size_t text_end = cr == std::string_view::npos ? content.size() : cr;
    std::size_t next = cr == std::string_view::npos ? content.size() : cr + 1;
    if (next < content.size() && cr != std::string_view::npos && content[next] == '\n') ++next;
    std::string_view text = content.substr(start, text_end - start);
    if (line >= 3 && platform::EqualsIgnoreCase(text, SalvageTagHeader)) {
      if (!removed && first_removed != nullptr) *first_removed = start;
      removed = true;
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
