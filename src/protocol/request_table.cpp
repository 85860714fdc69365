#include "protocol/request_table.h"

namespace orvexa {

const RequestTable& RequestTable::Standard() {
  static const RequestTable table = [] {
    RequestTable t;
    RegisterChannelRequests(t);
    RegisterHistoryRequests(t);
    RegisterFastSampleRequests(t);
    RegisterExperimentRequests(t);
    RegisterBurstRequest(t);
    return t;
  }();
  return table;
}

}  // namespace orvexa
