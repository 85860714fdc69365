// A private PostgreSQL cluster for one test: initdb in a folder of the test's own, the
// server on a Unix socket in that folder only (no TCP), run as "nobody" because initdb
// and postgres refuse root. It can be stopped the hard way (SIGQUIT, as "pg_ctl stop -m
// immediate") and started again on the same data. Used by the archive tests and
// benchmark from their main thread.
#pragma once

#include <memory>
#include <string>

#include "support/server_process.h"

namespace orvexa::test {

class PostgresCluster {
 public:
  // Creates the cluster under `folder` (handed to nobody; its parent is opened for
  // passing through) and starts it.
  explicit PostgresCluster(const std::string& folder);
  ~PostgresCluster();

  // The libpq connection string of the cluster's "postgres" database.
  std::string Connection() const;
  // Stops without a shutdown checkpoint (crash recovery at the next start).
  void StopImmediately();
  void Start();

 private:
  std::string folder_;
  std::string data_;
  std::unique_ptr<ServerProcess> server_;
};

}  // namespace orvexa::test
