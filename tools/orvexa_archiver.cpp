// orvexa-archiver: keeps every logged record of one or more lab servers in PostgreSQL.
// One LabFollower thread per lab; the main thread waits for SIGINT/SIGTERM (or, with
// --once, for the followers to finish) and then lets each follower end after its current
// transaction.
#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>
#include <vector>

#include "archive/archiver_options.h"
#include "archive/lab_follower.h"
#include "platform/termination_signals.h"

int main(int argc, char** argv) {
  using namespace orvexa;
  using namespace orvexa::archive;
  ArchiverOptions options;
  std::string error;
  if (!ParseArchiverOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    std::cerr << "orvexa-archiver: " << error << "\n" << kArchiverUsage;
    return 2;
  }
  if (options.help) {
    std::cout << kArchiverUsage;
    return 0;
  }
  if (IoResult blocked = BlockTerminationSignals(); !blocked.ok) {
    std::cerr << "orvexa-archiver: " << blocked.message << "\n";
    return 1;
  }
  TerminationSignalFd signals;
  if (!signals.ok()) {
    std::cerr << "orvexa-archiver: " << signals.error().message << "\n";
    return 1;
  }

  std::atomic<bool> stop{false};
  std::atomic<int> running{static_cast<int>(options.labs.size())};
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (const auto& lab : options.labs)
    threads.emplace_back([&, lab] {
      LabFollower follower(lab, options.follow, stop);
      if (!follower.Run()) ++failed;
      --running;
    });
  while (running.load() > 0) {
    if (signals.Read() != 0) stop = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (auto& t : threads) t.join();
  return options.follow.once && failed.load() > 0 ? 1 : 0;
}
