#include "app/server_command_line.h"

#include <cctype>
#include <climits>

#include "config/kept_spellings.h"

namespace orvexa {

int32_t OptionNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) break;  // saturates below
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

void ServerCommandLine::Parse(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (!argument.empty() && (argument[0] == '/' || argument[0] == '-')) {
      pending = kNone;  // an option drops a value still waiting for its argument
      const std::string name = argument.substr(1);
      if (name == "config") {
        defaultConfiguration = true;
      } else if (name == "port") {
        pending = kPort;
      } else if (name == "preset") {
        pending = kPreset;
      } else if (name == "conexp") {
        pending = kConexp;
      } else if (name == "maxusage") {
        pending = kMaxusage;
      } else if (name == "limitcontrol") {
        limitcontrol = true;
      } else if (name == "disablelisting") {
        disablelisting = true;
      } else if (name == "disable") {
        enable = false;
      } else if (name == "enable") {
        enable = true;
      } else if (name == "maxclient") {
        pending = kMaxclient;
      } else if (name == "headless") {
        headless = true;
      } else if (name == "listen") {
        pending = kListen;
      } else {
        help = true;
      }
      continue;
    }
    switch (pending) {
      case kNone:
        help = true;
        break;
      case kPort:
        port = OptionNumber(argument);
        break;
      case kPreset:
        preset = argument;
        presetGiven = true;
        break;
      case kConexp:
        conexp = OptionNumber(argument);
        break;
      case kMaxusage:
        maxusage = OptionNumber(argument);
        break;
      case kMaxclient:
        maxclient = OptionNumber(argument);
        break;
      case kListen:
        listen = argument;
        break;
    }
    pending = kNone;
  }
}

void ServerCommandLine::Parse(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  Parse(arguments);
}

const std::vector<std::string>& ServerCommandLine::HelpLines() {
  static const std::vector<std::string> lines = {
      "/config...Default configuration",
      "/port num..Use port",
      "/preset name..Configuration preset selection",
      kConnectionExpirationHelpLine,
      "/maxusage value ... maximal usage time limit",
      "/limitcontrol ... disable simultaneous access",
      "/disablelisting ... disable device listing",
      "/disable ... disable server",
      "/enable ... enable server",
      "/maxclient num .... max client count",
  };
  return lines;
}

}  // namespace orvexa
