// The local clock of korbal: time stamps of the progress lines and the elapsed time.
#pragma once

#include <memory>

#include "records/format.h"
#include "records/io.h"

namespace korbal {

// One reading of the local wall clock.
struct ClockReading {
  int hour = 0, minute = 0, second = 0, hundredths = 0;
};

// Source of clock readings; the system clock in the programs, a scripted one in tests.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual ClockReading now() = 0;
};

// A reading from the clock's hour, minute, second and milliseconds; the hundredths
// are the milliseconds divided by 10 with the remainder dropped.
ClockReading reading_of(int hour, int minute, int second, int milliseconds);

// Local time of the machine, hundredths truncated from the milliseconds.
class SystemClock : public Clock {
 public:
  ClockReading now() override;
};

// SECNDS: seconds since local midnight (hundredths as the fraction) minus x, in single
// precision.
float SECNDS(Clock& clock, float x);

// A console progress line stamped with the clock: `fmt` takes hour, minute, second
// and hundredths, as in "(' Reduction completed       ',2(I2.2,':'),I2.2,'.',I2.2)".
void stamp(rec::Io& io, Clock& clock, const rec::Format& fmt);

// Elapsed time from t0 to t1 (seconds values). A run that passes midnight would
// give a negative difference; a day is added then.
double elapsed_seconds(double t0, double t1);

}  // namespace korbal
