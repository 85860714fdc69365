// The request protocol of one connection: the opening exchange (Hello: version 100,
// client kind, optional forwarded address from a local proxy, credential: with
// authentication a signed token checked here) and the
// endless request loop (read a code, restart the idle time-out, run the handler, send
// the reply unless it is batched). Runs on the connection's worker thread; every end of
// the connection arrives as a thrown integer.
#pragma once

#include "protocol/request_context.h"
#include "protocol/request_table.h"

namespace orvexa {

enum class HelloResult { kAdmitted, kWrongVersion, kNotAuthorised };

// kWrongVersion after answering 3 and kNotAuthorised after answering 4 and writing the
// refusal's audit line (the caller closes without the close path); throws on a
// malformed opening. Admitted: answered 0, marked opened in the connection tracker (no
// wait for the device lock before that), audit line written, entered in the table.
HelloResult Hello(RequestContext& context);

// Never returns normally.
[[noreturn]] void RunRequestLoop(RequestContext& context, const RequestTable& table);

}  // namespace orvexa
