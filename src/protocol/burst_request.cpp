// RunBurst (17): the first plug-in that supports the named burst records it
// synchronously (at real-time priority where the system permits) and the samples are
// stored as a finished experiment whose eight columns are the burst slots 1001..1008.
// A name no plug-in supports, or a failed recording, ends the connection without a
// reply. Any admitted client may run a burst. Worker threads; the whole burst runs
// under ServerLock (taken by the experiment service: a burst keeps the devices to
// itself), and its finished experiment is published to the store in one step under
// ExperimentLock, so readers of other experiments never wait for a burst. The audit
// line comes after it.
#include <string>

#include "config/kept_spellings.h"
#include "protocol/experiment_service.h"
#include "protocol/request_table.h"
#include "protocol/wire_reader.h"
#include "protocol/wire_writer.h"
#include "sessions/audit_log.h"
#include "transport/connection_closed.h"

namespace orvexa {
namespace {

void RunBurst(RequestContext& c) {
  const std::string name = ReadString(c.in);
  const uint32_t duration = ReadU32(c.in);
  uint32_t id = 0;
  if (c.env.experiments != nullptr)
    id = c.env.experiments->RunBurstExperiment(name.c_str(), duration, c.clientAddress);
  if (id == 0) ThrowProtocolError(0);
  if (c.env.audit != nullptr && c.env.audit->IsOpen()) {
    c.env.audit->Write("User %u %s %s with duration %u. Result is stored as %u\n", c.serial,
                       kStartedBurstWords, name.c_str(), duration, id);
  }
  WriteU32(c.out, id);
}

}  // namespace

void RegisterBurstRequest(RequestTable& table) {
  table.Register(RequestCode::kRunBurst, RunBurst);
}

}  // namespace orvexa
