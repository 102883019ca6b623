#include "recovery/speedtest.h"

#include <cmath>

namespace {
constexpr int64_t kSecond = 1000000000;
constexpr int64_t kMinPassNs = 1000000;
constexpr int kReadsPerPass = 3;
// A clock that does not move would keep a medium without end in the loop.
constexpr int kMaxIdlePasses = 100000;

int64_t hundredths(double v) { return std::llround(v * 100.0); }
} // namespace

double MeasureReadSpeed(const SpeedTestIo &io)
{
    double current = 1.0, average = 0.0;
    int64_t last = io.readBlock();
    const int64_t start = io.clockNs();
    int idle = 0;
    // Passes too short for the clock are timed together with the next ones.
    int64_t pendingBytes = 0, pendingNs = 0;
    auto count = [&](bool last) {
        if (pendingBytes <= 0 || pendingNs <= 0 || (pendingNs < kMinPassNs && !last))
            return false;
        current = double(pendingBytes) / 1048576.0 / (double(pendingNs) / double(kSecond));
        if (current > average)
            average = (2.0 * average + current) / 3.0;
        pendingBytes = pendingNs = 0;
        return true;
    };
    for (;;) {
        const int64_t elapsed = io.clockNs() - start;
        const bool none = last <= 0;
        if ((elapsed >= 5 * kSecond || none)
            && (hundredths(current) == hundredths(average) || elapsed >= 15 * kSecond || none))
            break;
        const int64_t passStart = io.clockNs();
        int64_t bytes = 0;
        for (int i = 0; i < kReadsPerPass; ++i) {
            last = io.readBlock();
            if (last <= 0)
                break;
            bytes += last;
        }
        pendingBytes += bytes;
        pendingNs += io.clockNs() - passStart;
        if (count(last <= 0))
            idle = 0;
        else if (++idle > kMaxIdlePasses)
            break;
        if (io.afterPass)
            io.afterPass();
    }
    return average;
}
