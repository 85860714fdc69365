// The soak's fault injection (bench/soak). A FaultInjector runs on a thread of its own
// and, while the soak does not pause it, opens one misbehaving connection after the
// other, each of a random kind, and records whether the server showed the expected
// effect: abrupt disconnects mid-request and mid-reply, garbage before and after Hello,
// oversized and fragmented WebSocket frames, a frame larger than the receive buffer
// (served whole), slow readers that never drain, and connections that never send Hello.
// FillConnectionTable is the full-table check; main runs it while the injectors pause.
#pragma once

#include <random>
#include <string>

#include "soak_context.h"

namespace orvexa::soak {

class FaultInjector {
 public:
  FaultInjector(SoakContext& context, uint32_t seed);
  void Run();

 private:
  void MidRequest();
  void MidReply();
  void GarbageBeforeHello();
  void GarbageAfterHello();
  void OversizedFrame();
  void FragmentedFrame();
  void FrameAboveBuffer();
  void SlowReader();
  void NoHello();
  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  std::string RandomBytes(size_t n);

  SoakContext& c_;
  std::mt19937 rng_;
};

// With exactly `clients` connections served: admits MaxClientCount - clients further
// connections, checks that the next one is closed without a word and that a place
// freed is taken again. Records the outcome as the fault "full connection table".
void FillConnectionTable(SoakContext& context);

}  // namespace orvexa::soak
