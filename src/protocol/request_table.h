// The table of request codes: one handler per code (0..255), looked up by the request
// loop; a code without a handler ends the connection. Each request family registers its
// handlers in its own Register...Requests function, called once from StandardTable()
// (request_table.cpp); a family that must clean up when a connection ends (a running
// recording) adds a close hook, run at the start of the close path without ServerLock: a
// hook takes only leaf locks (ExperimentLock), so no ending connection waits for a burst.
// Built once, then read by every worker without a lock.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "protocol/request_context.h"
#include "protocol_api/request_catalog.h"

namespace orvexa {

using RequestHandler = void (*)(RequestContext& context);
using CloseHook = void (*)(RequestContext& context);

class RequestTable {
 public:
  void Register(RequestCode code, RequestHandler handler) {
    handlers_[static_cast<uint8_t>(code)] = handler;
  }
  RequestHandler Find(uint8_t code) const { return handlers_[code]; }
  void AddCloseHook(CloseHook hook) { closeHooks_.push_back(hook); }
  const std::vector<CloseHook>& CloseHooks() const { return closeHooks_; }

  // Every request family of the server.
  static const RequestTable& Standard();

 private:
  std::array<RequestHandler, 256> handlers_{};
  std::vector<CloseHook> closeHooks_;
};

// Request families (each in its own file).
void RegisterChannelRequests(RequestTable& table);     // 2-7, 10, 11, 19, 20
void RegisterHistoryRequests(RequestTable& table);     // 8
void RegisterFastSampleRequests(RequestTable& table);  // 12
void RegisterExperimentRequests(RequestTable& table);  // 13-16, 18, close hook
void RegisterBurstRequest(RequestTable& table);        // 17

}  // namespace orvexa
