#include "archive/postgres_cluster.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>

namespace orvexa::test {
namespace {

const std::string kBin = "/usr/lib/postgresql/15/bin/";

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

}  // namespace

PostgresCluster::PostgresCluster(const std::string& folder)
    : folder_(folder), data_(folder + "/pg") {
  // nobody must be able to pass through the test's own (private) folder to reach it.
  Run("chmod o+x \"$(dirname '" + folder_ + "')\" && chown nobody '" + folder_ + "'");
  Run("runuser -u nobody -- " + kBin + "initdb --no-sync -A trust -D '" + data_ + "' > '" +
      folder_ + "/initdb.log' 2>&1");
  Start();
}

PostgresCluster::~PostgresCluster() {
  if (server_) {
    server_->Signal(SIGQUIT);
    server_->WaitForExit();
  }
}

std::string PostgresCluster::Connection() const {
  return "host=" + data_ + " user=nobody dbname=postgres";
}

void PostgresCluster::StopImmediately() {
  server_->Signal(SIGQUIT);
  ASSERT_TRUE(server_->WaitForExit().has_value());
  server_.reset();
}

void PostgresCluster::Start() {
  // setpriv executes postgres in its own place, so its pid is the postmaster's.
  server_ = std::make_unique<ServerProcess>(
      folder_,
      std::vector<std::string>{"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--",
                               kBin + "postgres", "-D", data_, "-k", data_, "-c",
                               "listen_addresses=", "-c", "fsync=off"},
      std::vector<std::string>{}, "/usr/bin/setpriv");
  ASSERT_TRUE(server_->WaitForStderr("ready to accept connections")) << server_->Stderr();
}

}  // namespace orvexa::test
