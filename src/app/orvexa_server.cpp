#include "app/orvexa_server.h"

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

}  // namespace orvexa
