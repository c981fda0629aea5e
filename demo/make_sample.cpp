// make_sample: writes a sample installation (two roots with all queue
// folders, and Filter.ini) for trying out and demonstrating the queue tools.

#include <charconv>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "demo/SampleInstallation.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: make_sample [--seed N] [--size small|medium|large] [--messages N] [--force] OUTDIR\n"
    "\n"
    "Writes OUTDIR/Kestrane and OUTDIR/Kestran2 (every queue folder under Mail/,\n"
    "each with Wait, Errors and Local) and OUTDIR/Filter.ini.\n"
    "\n"
    "  --seed N       seed for the generator (default 1); same seed, same tree\n"
    "  --size S       messages per queue folder: small 30 (default), medium 300,\n"
    "                 large 5000\n"
    "  --messages N   messages per queue folder, overrides --size\n"
    "  --force        write into a non-empty OUTDIR; the two roots and Filter.ini\n"
    "                 are removed first, anything else there is left alone\n"
    "  --help         this text\n";

bool ParseNumber(std::string_view text, std::uint64_t& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "make_sample: %s\n", message.c_str());
  return 2;
}

// What the command line asks for.
struct Arguments {
  sample::InstallationOptions options;
  bool force = false;
  std::string out_dir;
};

// Reads `--size`'s word into a count of messages; false for an unknown word.
bool ParseSize(const char* word, std::size_t& count) {
  const std::string_view size = word ? word : "";
  if (size == "small") {
    count = 30;
  } else if (size == "medium") {
    count = 300;
  } else if (size == "large") {
    count = 5000;
  } else {
    return false;
  }
  return true;
}

// Reads the command line into `args`; an exit status when the program is to
// end at once (after --help, or on a fault, which it reports).
std::optional<int> ParseArguments(int argc, char** argv, Arguments& args) {
  std::optional<std::size_t> messages;  // wins over --size in any order
  std::size_t size_count = 30;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--force") {
      args.force = true;
    } else if (arg == "--seed") {
      const char* v = value();
      if (v == nullptr || !ParseNumber(v, args.options.seed)) return Fail("--seed needs a number");
    } else if (arg == "--size") {
      if (!ParseSize(value(), size_count)) return Fail("--size must be small, medium or large");
    } else if (arg == "--messages") {
      const char* v = value();
      std::uint64_t n = 0;
      if (v == nullptr || !ParseNumber(v, n) || n > 1000000) return Fail("--messages needs a number up to 1000000");
      messages = static_cast<std::size_t>(n);
    } else if (!arg.empty() && arg[0] == '-') {
      return Fail("unknown option " + std::string(arg) + " (try --help)");
    } else if (args.out_dir.empty()) {
      args.out_dir = arg;
    } else {
      return Fail("only one OUTDIR may be given");
    }
  }
  if (args.out_dir.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  args.options.messages_per_queue = messages.value_or(size_count);
  return std::nullopt;
}

// Writes the installation into args.out_dir, clearing what an earlier one
// left there when --force allows it; the exit status.
int WriteInstallation(const Arguments& args) {
  try {
    const fs::path out(args.out_dir);
    std::error_code ec;
    if (fs::exists(out, ec)) {
      if (!fs::is_directory(out)) return Fail(args.out_dir + " exists and is not a folder");
      if (!fs::is_empty(out)) {
        if (!args.force) return Fail(args.out_dir + " is not empty; use --force to write into it anyway");
        for (std::string_view root : sample::kRootNames) fs::remove_all(out / root);
        fs::remove(out / "Filter.ini");
      }
    }
    const sample::InstallationSummary s = sample::WriteSampleInstallation(out, args.options);
    std::printf(
        "make_sample: wrote %zu messages in %zu folders (%zu files, %zu empty, %zu salvaged, %.1f MiB) "
        "and Filter.ini (%zu rules) into %s, seed %llu\n",
        s.messages, s.folders, s.files, s.empty_files, s.salvaged, static_cast<double>(s.bytes) / (1024.0 * 1024.0),
        s.rules, args.out_dir.c_str(), static_cast<unsigned long long>(args.options.seed));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The queue date line is written in the user's date format, as the
  // remailer does.
  std::setlocale(LC_TIME, "");
  Arguments args;
  if (std::optional<int> status = ParseArguments(argc, argv, args)) return *status;
  return WriteInstallation(args);
}
