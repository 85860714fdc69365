// board-sim: plays the Pinvane board on a pseudo-terminal.
//
//   board-sim [--mode follow|ramp] [--period MS] [--step N] [--link PATH] [--quiet]
//
// Prints the slave side's path (for "port_path") as its first line, then one line per
// change of an output it receives. --link also creates the symbolic link PATH to the
// slave side (replacing an older link), so orvexa.cfg can name a path that stays the same
// from run to run. SIGINT or SIGTERM ends it.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "board_sim/board_simulator.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
  stopRequested = 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: board-sim [--mode follow|ramp] [--period MS] [--step N] [--link PATH] "
               "[--quiet]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using orvexa::pinvane::BoardSimulator;
  BoardSimulator::Options options;
  std::string link;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--mode" && hasValue) {
      std::string mode = argv[++i];
      if (mode == "follow") {
        options.mode = BoardSimulator::Mode::Follow;
      } else if (mode == "ramp") {
        options.mode = BoardSimulator::Mode::Ramp;
      } else {
        return Usage();
      }
    } else if (arg == "--period" && hasValue) {
      options.periodMs = std::atoi(argv[++i]);
      if (options.periodMs < 1 || options.periodMs > 60000) return Usage();
    } else if (arg == "--step" && hasValue) {
      options.rampStep = std::atoi(argv[++i]);
      if (options.rampStep < 0 || options.rampStep > 0xFFFE) return Usage();
    } else if (arg == "--link" && hasValue) {
      link = argv[++i];
    } else if (arg == "--quiet") {
      options.verbose = false;
    } else {
      return Usage();
    }
  }

  struct sigaction action {};
  action.sa_handler = OnSignal;  // no SA_RESTART: poll returns and the loop sees the flag
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  BoardSimulator board(options);
  std::string error;
  if (!board.Open(&error)) {
    std::fprintf(stderr, "board-sim: %s\n", error.c_str());
    return 1;
  }
  if (!link.empty()) {
    // Replace an older link, but never a file that is something else.
    struct stat existing;
    if (lstat(link.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode)) unlink(link.c_str());
    if (symlink(board.SlavePath().c_str(), link.c_str()) != 0) {
      std::fprintf(stderr, "board-sim: symlink %s: %s\n", link.c_str(), std::strerror(errno));
      return 1;
    }
  }
  std::printf("%s\n", board.SlavePath().c_str());
  std::fflush(stdout);
  board.Run(&stopRequested);
  // Remove the link only while it still points at this run's terminal.
  char target[4096];
  ssize_t length = link.empty() ? -1 : readlink(link.c_str(), target, sizeof target - 1);
  if (length > 0) {
    target[length] = '\0';
    if (board.SlavePath() == target) unlink(link.c_str());
  }
  return 0;
}
