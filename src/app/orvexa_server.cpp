#include "app/orvexa_server.h"

#include "base/server_lock.h"

namespace orvexa {
namespace {

std::atomic<OrvexaServer*> current{nullptr};

}  // namespace

OrvexaServer::OrvexaServer() {
  OrvexaServer* expected = nullptr;
  current.compare_exchange_strong(expected, this);
}

OrvexaServer::~OrvexaServer() {
  OrvexaServer* expected = this;
  current.compare_exchange_strong(expected, nullptr);
}

OrvexaServer* OrvexaServer::Current() {
  return current.load();
}

bool OrvexaServer::SaveConfiguration() {
  std::lock_guard<std::recursive_mutex> guard(ServerLock());
  return config.Save();
}

}  // namespace orvexa
