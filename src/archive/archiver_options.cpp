#include "archive/archiver_options.h"

#include <charconv>

#include "platform/file_system.h"

namespace orvexa::archive {
namespace {

// The protocol's string items hold at most 253 bytes.
constexpr size_t kMaxCredential = 253;

bool SplitPair(const std::string& text, std::string* name, std::string* value) {
  size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) return false;
  *name = text.substr(0, eq);
  *value = text.substr(eq + 1);
  return true;
}

bool PositiveNumber(const std::string& text, long long max, long long* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc{} && end == text.data() + text.size() && *out >= 1 && *out <= max;
}

}  // namespace

const char* const kArchiverUsage =
    "usage: orvexa-archiver --server LAB=URL [--server LAB=URL ...] [options]\n"
    "  --server LAB=URL        follow the lab server at URL (host:port, tcp://host:port or\n"
    "                          ws://host:port) and file its records under LAB\n"
    "  --token-file LAB=PATH   the access token LAB's server asks for, read from PATH\n"
    "  --database CONNINFO     libpq connection string (default: the PG* environment)\n"
    "  --interval SECONDS      pause between reads of a caught-up lab (default 2)\n"
    "  --commit-rows N         records per transaction while catching up (default 50000)\n"
    "  --keep-raw-days N       days kept as rows; older days are packed per channel-hour\n"
    "                          by the hourly housekeeping (default 14)\n"
    "  --once                  catch every lab up once, then exit (0 when all succeeded)\n";

bool ParseArchiverOptions(const std::vector<std::string>& args, ArchiverOptions* options,
                          std::string* error) {
  std::vector<std::pair<std::string, std::string>> tokenFiles;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      options->help = true;
      return true;
    }
    if (a == "--once") {
      options->follow.once = true;
      continue;
    }
    if (a != "--server" && a != "--token-file" && a != "--database" && a != "--interval" &&
        a != "--commit-rows" && a != "--keep-raw-days") {
      *error = "unknown option \"" + a + "\"";
      return false;
    }
    if (i + 1 >= args.size()) {
      *error = a + " needs a value";
      return false;
    }
    const std::string& v = args[++i];
    std::string name, value;
    long long number = 0;
    if (a == "--server") {
      LabSettings lab;
      if (!SplitPair(v, &lab.lab, &lab.url)) {
        *error = "--server takes LAB=URL, not \"" + v + "\"";
        return false;
      }
      for (const auto& other : options->labs)
        if (other.lab == lab.lab) {
          *error = "lab \"" + lab.lab + "\" is named twice";
          return false;
        }
      if (!ParseServerAddress(lab.url, &lab.address, error)) return false;
      options->labs.push_back(std::move(lab));
    } else if (a == "--token-file") {
      if (!SplitPair(v, &name, &value)) {
        *error = "--token-file takes LAB=PATH, not \"" + v + "\"";
        return false;
      }
      tokenFiles.emplace_back(name, value);
    } else if (a == "--database") {
      options->follow.database = v;
    } else if (a == "--interval") {
      if (!PositiveNumber(v, 3600, &number)) {
        *error = "--interval takes 1 to 3600 seconds, not \"" + v + "\"";
        return false;
      }
      options->follow.interval = std::chrono::seconds(number);
    } else if (a == "--keep-raw-days") {
      if (!PositiveNumber(v, 100000, &number)) {
        *error = "--keep-raw-days takes 1 to 100000, not \"" + v + "\"";
        return false;
      }
      options->follow.keepRawDays = static_cast<int>(number);
    } else {
      if (!PositiveNumber(v, 10000000, &number)) {
        *error = "--commit-rows takes 1 to 10000000, not \"" + v + "\"";
        return false;
      }
      options->follow.commitRows = static_cast<size_t>(number);
    }
  }
  for (const auto& [lab, path] : tokenFiles) {
    LabSettings* target = nullptr;
    for (auto& l : options->labs)
      if (l.lab == lab) target = &l;
    if (!target) {
      *error = "--token-file names lab \"" + lab + "\", which no --server names";
      return false;
    }
    IoResult failure;
    std::optional<std::string> text = ReadWholeFile(path, &failure);
    if (!text) {
      *error = "cannot read the token file: " + failure.message;
      return false;
    }
    std::string token = *text;
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r' || token.back() == ' '))
      token.pop_back();
    if (token.size() > kMaxCredential) {
      *error = "the token in \"" + path + "\" is longer than 253 bytes";
      return false;
    }
    target->credential = token;
  }
  if (options->labs.empty()) {
    *error = "no --server given";
    return false;
  }
  return true;
}

}  // namespace orvexa::archive
