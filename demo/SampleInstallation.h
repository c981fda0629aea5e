// A complete sample installation: two installation roots, each with every
// queue folder and its Wait, Errors and Local subfolders, filled with
// messages, plus a Filter.ini whose rules delete, hold and label some of the
// sample messages. The tree depends on the seed and the message count only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "demo/SampleWriter.h"

namespace sample {

inline constexpr std::array<std::string_view, 2> kRootNames = {"Kestrane", "Kestran2"};
inline constexpr std::array<std::string_view, 6> kQueueNames = {"~Filtered", "MailIn",  "Trash",
                                                                "Mailout",   "NNTP",    "~Bounces"};
inline constexpr std::array<std::string_view, 3> kSubfolderNames = {"Wait", "Errors", "Local"};

// Mailout and NNTP hold pair messages; the other queues one-file messages.
bool IsPairQueue(std::string_view queue);

struct InstallationOptions {
  std::uint64_t seed = 1;
  std::size_t messages_per_queue = 30;  // in each queue folder itself
};

struct InstallationSummary {
  std::size_t folders = 0;
  std::size_t messages = 0;  // a pair counts once
  std::size_t files = 0;
  std::size_t empty_files = 0;
  std::size_t salvaged = 0;
  std::size_t rules = 0;
  std::uintmax_t bytes = 0;
};

// How many messages go into a subfolder when the queue folder itself holds
// `queue_count`: Wait and Errors get a good share, Local a few.
std::size_t SubfolderMessageCount(std::string_view subfolder, std::size_t queue_count);

// The rules written to Filter.ini.
std::vector<FilterRule> SampleFilterRules();

// Writes the roots and Filter.ini into `out_dir` (created when missing).
// Existing files of the same names are overwritten; nothing is removed.
InstallationSummary WriteSampleInstallation(const std::filesystem::path& out_dir,
                                            const InstallationOptions& options);

}  // namespace sample
