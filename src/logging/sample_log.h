// The bounded in-memory queue of numbered samples: the fast-sample buffer of every
// channel (ring mode: a full queue drops its oldest sample) and the log of every
// experiment slot (not ring: a full queue refuses new samples). Each stored sample gets
// the next 32-bit sequence number, so a client reading in windows knows what it has seen.
//
// No lock of its own: its owner's lock covers every append and read (a channel's
// fastSamplesLock for its fast-sample buffer; ExperimentLock for an experiment slot's).
// Samples live in a std::deque, which keeps them in blocks: appending and dropping at
// either end move no other sample and keep references to the other samples valid.
#pragma once

#include <cstdint>
#include <deque>

namespace orvexa {

class SampleLog {
 public:
  struct Sample {
    uint32_t sequence;
    uint32_t time;
    float value;
  };

  static constexpr uint32_t kDefaultCapacity = 10000;

  explicit SampleLog(uint32_t capacity = kDefaultCapacity, bool ring = true)
      : capacity_(capacity), ring_(ring) {}

  // Not ring and full: nothing is stored and no sequence number is used up. Otherwise
  // stores (NextSequence(), time, value) and then drops the oldest samples while more
  // than the capacity are held (this is where a lowered capacity takes effect).
  void Append(uint32_t time, float value);
  // No samples, next sequence 0. Capacity and mode stay.
  void Reset();
  // Takes effect at the next Append.
  void SetCapacity(uint32_t capacity) { capacity_ = capacity; }
  void SetRing(bool ring) { ring_ = ring; }

  uint32_t Capacity() const { return capacity_; }
  bool IsRing() const { return ring_; }
  uint32_t Count() const { return static_cast<uint32_t>(samples_.size()); }
  bool Empty() const { return samples_.empty(); }
  uint32_t NextSequence() const { return nextSequence_; }
  // Sequence of the oldest held sample (NextSequence() - Count(), modulo 2^32).
  uint32_t OldestSequence() const { return nextSequence_ - Count(); }

  // Position 0 is the oldest held sample; the caller keeps position < Count().
  const Sample& FromOldest(uint32_t position) const { return samples_[position]; }
  // Position 0 is the newest held sample; the caller keeps position < Count().
  const Sample& FromNewest(uint32_t position) const {
    return samples_[samples_.size() - 1 - position];
  }

  // Oldest-first iteration for the readers that select by sequence number.
  using const_iterator = std::deque<Sample>::const_iterator;
  const_iterator begin() const { return samples_.begin(); }
  const_iterator end() const { return samples_.end(); }

 private:
  std::deque<Sample> samples_;
  uint32_t nextSequence_ = 0;
  uint32_t capacity_;
  bool ring_;
};

}  // namespace orvexa
