// KickController: the KICK button's rules, free of any toolkit. A press disables the
// button, raises the server's kick-requested flag and hands the user table the id of
// the upper selected row of the client list (0 when no row is selected); the next
// housekeeping pass removes that one user (the rows are rebuilt without selection, so
// one press removes at most one user), clears the flag and, unless the window is
// closing, has the button enabled again.
//
// Press and PassFinished run on the main thread: the housekeeping thread posts the end
// of its pass there. The flag is an atomic shared with the housekeeping thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace orvexa {

class KickController {
 public:
  // Remembers `id` (0: nobody) for the next maintenance pass.
  using KickRequest = std::function<void(uint32_t id)>;
  // Shows the button enabled or disabled.
  using ButtonState = std::function<void(bool enabled)>;

  KickController(std::atomic<bool>& kickRequested, KickRequest request, ButtonState button);

  // KICK pressed while the rows with these ids were selected, listed from the top.
  // Ignored while the button is disabled.
  void Press(const std::vector<uint32_t>& selectedIdsTopFirst);
  // A maintenance pass has ended: the flag is cleared and, unless the window closes,
  // the button is enabled again.
  void PassFinished(bool windowClosing);

  bool ButtonEnabled() const { return enabled_; }

 private:
  std::atomic<bool>& kickRequested_;
  KickRequest request_;
  ButtonState button_;
  bool enabled_ = true;
};

}  // namespace orvexa
