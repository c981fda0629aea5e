#include "shared/Module_RTrimNull.h"

std::string RTrimNull(std::string_view text) {
  std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) return std::string(text.substr(0, nul));
  std::size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(text.substr(0, end + 1));
}
