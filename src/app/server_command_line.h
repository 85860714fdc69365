// ServerCommandLine: the command-line record and its parser. Options start with "/" or
// "-" and are matched case-sensitively without that character; an option that takes a
// value takes the next plain argument. An unknown option, or a plain argument that no
// option waits for, sets the help flag (the caller then shows the help lines and ends).
//
// The record is parsed twice at start-up (before and after reading orvexa.cfg, so that
// options override the file); on the main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvexa {

struct ServerCommandLine {
  enum PendingOption { kNone = 0, kPort, kPreset, kConexp, kMaxusage, kMaxclient, kListen };

  bool help = false;
  int32_t port = 8899;
  int32_t conexp = 60;
  int32_t maxusage = 0;  // 0 changes nothing; otherwise the usage limit in seconds
  int32_t maxclient = 50;
  bool limitcontrol = true;
  bool disablelisting = true;
  bool enable = true;
  PendingOption pending = kNone;

  // Set by /config: do not read orvexa.cfg (the default-configuration flag).
  bool defaultConfiguration = false;
  // Set by /preset name; empty when not given.
  std::string preset;
  bool presetGiven = false;
  // Set by /headless: no window even when a display is available.
  bool headless = false;
  // Set by /listen address: the address the listening socket binds (overrides the
  // ListenAddress setting); empty when not given.
  std::string listen;

  // Applies `arguments` (without the program name) to the record.
  void Parse(const std::vector<std::string>& arguments);
  void Parse(int argc, char** argv);  // argv[0] is the program name

  // The ten help lines, in the order of the help window.
  static const std::vector<std::string>& HelpLines();
};

// Decimal conversion of an option value: leading white space and a sign allowed,
// conversion stops at the first other character, no digits give 0; values beyond 32 bits
// saturate instead of wrapping.
int32_t OptionNumber(const std::string& text);

}  // namespace orvexa
