#include "korbal/clock.h"

#include <chrono>
#include <ctime>

namespace korbal {

ClockReading reading_of(int hour, int minute, int second, int milliseconds) {
  return {hour, minute, second, milliseconds / 10};
}

ClockReading SystemClock::now() {
  using namespace std::chrono;
  const auto t = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(t);
  const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&secs, &local);
  return reading_of(local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms));
}

void stamp(rec::Io& io, Clock& clock, const rec::Format& fmt) {
  const ClockReading r = clock.now();
  io.write(rec::kConsole, fmt, {r.hour, r.minute, r.second, r.hundredths});
}

namespace {

// Seconds since midnight of one reading, each part exact in single precision and the
// sum carried out in double precision.
double seconds_exact(const ClockReading& r) {
  return static_cast<double>(static_cast<float>(r.hundredths)) / 100.0 +
         static_cast<double>(static_cast<float>(r.minute)) * 60.0 +
         static_cast<double>(static_cast<float>(r.hour)) * 3600.0 +
         static_cast<double>(static_cast<float>(r.second));
}

}  // namespace

float SECNDS(Clock& clock, float x) {
  // x is taken off the sum before the one rounding to single precision.
  const ClockReading r = clock.now();
  return static_cast<float>(seconds_exact(r) - static_cast<double>(x));
}

double elapsed_seconds(double t0, double t1) {
  double e = t1 - t0;
  if (e < 0.0) e += 86400.0;
  return e;
}

}  // namespace korbal
