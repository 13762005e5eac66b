#pragma once
// A small reproducible generator (xorshift64*): the same random start value gives the same
// noise, drops and garbage on every platform, so a failing run can be repeated.
#include <cstdint>

class SimRandom {
  public:
    explicit SimRandom(uint64_t randomStart)
        : state_(randomStart != 0 ? randomStart : 0x9E3779B97F4A7C15ull) {}

    uint64_t Next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }
    // Uniform in [0, 1).
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    bool Chance(double probability) { return probability > 0.0 && Uniform() < probability; }

  private:
    uint64_t state_;
};
