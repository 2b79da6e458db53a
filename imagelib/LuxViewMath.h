// Rounding helpers of the image view's two source files (geometry and interaction).
#pragma once

#include <climits>
#include <cmath>
#include <cstdint>

namespace luxview {

// Round (ties to even) and Trunc into 32 bits, saturating instead of overflowing.
inline int RoundInt(double v) {
    if (!(v == v)) return 0;
    v = std::nearbyint(v);
    if (v >= double(INT_MAX)) return INT_MAX;
    if (v <= double(INT_MIN)) return INT_MIN;
    return int(v);
}
inline int TruncInt(double v) {
    if (!(v == v)) return 0;
    v = std::trunc(v);
    if (v >= double(INT_MAX)) return INT_MAX;
    if (v <= double(INT_MIN)) return INT_MIN;
    return int(v);
}
inline int ClampInt(int64_t v) { return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v); }

}  // namespace luxview
