// The small linear congruential generator the sound tools draw their noise
// from: state = state x 214013 + 2531011 (mod 2^32), value = bits 16..30 of
// the new state (0..32767). From state 1 it gives 41, 18467, 6334, 26500,
// 19169, ... A tool restarts it where it needs equal inputs to give equal
// samples.
#pragma once

#include <cstdint>

namespace zandrel {

class Rand15 {
 public:
  static constexpr int kMax = 32767;

  explicit Rand15(uint32_t state = 1) : state_(state) {}
  void Seed(uint32_t state) { state_ = state; }
  uint32_t State() const { return state_; }
  // The next value, 0..32767.
  int Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFFu);
  }

 private:
  uint32_t state_;
};

}  // namespace zandrel
