#include "operator/kick_controller.h"

namespace orvexa {

KickController::KickController(std::atomic<bool>& kickRequested, KickRequest request,
                               ButtonState button)
    : kickRequested_(kickRequested), request_(std::move(request)), button_(std::move(button)) {}

void KickController::Press(const std::vector<uint32_t>& selectedIdsTopFirst) {
  if (!enabled_) return;
  enabled_ = false;
  if (button_) button_(false);
  if (request_) request_(selectedIdsTopFirst.empty() ? 0 : selectedIdsTopFirst.front());
  kickRequested_.store(true);
}

void KickController::PassFinished(bool windowClosing) {
  kickRequested_.store(false);
  if (windowClosing || enabled_) return;
  enabled_ = true;
  if (button_) button_(true);
}

}  // namespace orvexa
