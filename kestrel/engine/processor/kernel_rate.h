// The rate a processor test stores: work done per second of summed iteration time.
#pragma once

// A time of zero (or less) gives no rate rather than a division by zero.
inline double RatePerSecond(double count, double seconds) {
    return seconds > 0.0 ? count / seconds : 0.0;
}
