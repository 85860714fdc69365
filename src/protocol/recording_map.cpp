#include "protocol/recording_map.h"

namespace orvexa {

uint32_t RecordingMap::Lookup(uint32_t serial) const {
  auto it = entries_.find(serial);
  return it == entries_.end() ? 0 : it->second;
}

void RecordingMap::RemoveExperiment(uint32_t id) {
  std::erase_if(entries_, [id](const auto& entry) { return entry.second == id; });
}

}  // namespace orvexa
