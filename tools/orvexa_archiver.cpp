// orvexa-archiver: keeps every logged record of one or more lab servers in PostgreSQL.
// One LabFollower thread per lab; the main thread runs the hourly packing of old days
// and waits for SIGINT/SIGTERM (or, with --once, for the followers to finish) and then
// lets each follower end after its current transaction.
#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>
#include <vector>

#include "archive/archive_store.h"
#include "archive/archiver_options.h"
#include "archive/lab_follower.h"
#include "platform/termination_signals.h"

namespace {

// Packs the days older than the raw days kept; a failure is reported and waits for the
// next hour.
bool PackOldDays(const orvexa::archive::FollowSettings& settings) {
  try {
    orvexa::archive::ArchiveStore store(settings.database);
    auto now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    int days = store.PackOldDays(now.count(), settings.keepRawDays);
    if (days > 0) std::cerr << "orvexa-archiver: packed " << days << " day(s) per channel-hour\n";
    return true;
  } catch (const std::exception& e) {
    std::cerr << "orvexa-archiver: packing old days failed: " << e.what() << "\n";
    return false;
  }
}

}  // namespace

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
  // Housekeeping: at the start and every hour (with --once: after the catching up).
  auto nextPacking = std::chrono::steady_clock::now();
  while (running.load() > 0) {
    if (signals.Read() != 0) stop = true;
    if (!options.follow.once && std::chrono::steady_clock::now() >= nextPacking) {
      PackOldDays(options.follow);
      nextPacking = std::chrono::steady_clock::now() + std::chrono::hours(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (auto& t : threads) t.join();
  if (options.follow.once && failed.load() == 0 && !PackOldDays(options.follow)) ++failed;
  return options.follow.once && failed.load() > 0 ? 1 : 0;
}
