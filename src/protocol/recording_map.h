// Which experiment each connection records: connection serial number -> experiment id,
// at most one entry per connection. Owned by the ExperimentStore so that an experiment
// that disappears (evicted, or its id taken over by another recording) never stays
// mapped to a connection that would later stop someone else's recording.
//
// No lock of its own: used only inside the ExperimentStore, with ExperimentLock held
// (requests on worker threads, the close path, the experiment-stopped callback from any
// thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace orvexa {

class RecordingMap {
 public:
  // The id the connection records, or 0 when none.
  uint32_t Lookup(uint32_t serial) const;
  void Set(uint32_t serial, uint32_t id) { entries_[serial] = id; }
  void Remove(uint32_t serial) { entries_.erase(serial); }
  // Removes every entry whose value is `id`.
  void RemoveExperiment(uint32_t id);
  size_t Size() const { return entries_.size(); }

 private:
  std::map<uint32_t, uint32_t> entries_;
};

}  // namespace orvexa
