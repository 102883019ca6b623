// The read-speed test's measurement, without a window or a device: reads of
// 1 MiB, three a pass, until the value settles.
#pragma once

#include <cstdint>
#include <functional>

struct SpeedTestIo {
    // One read of the next 1 MiB; the bytes read, 0 at the end or on failure.
    std::function<int64_t()> readBlock;
    // A monotonic clock in nanoseconds.
    std::function<int64_t()> clockNs;
    // Called after every pass (the window processes pending input).
    std::function<void()> afterPass;
};

// The MB/s the medium gives: after one read to start, passes of three reads;
// a pass's value counts when it read something; the
// average rises to (2 x average + value) / 3 whenever a value exceeds it.
// Passes too short to time (under 1 ms) are timed together with the next.
// Stops when (5 seconds have passed or a read gave nothing) and (the value and
// the average agree to hundredths, 15 seconds have passed, or a read gave
// nothing). 0 when nothing was measured.
double MeasureReadSpeed(const SpeedTestIo &io);
