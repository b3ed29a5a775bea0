#pragma once

#include <cmath>

namespace platform {

// The nearest whole number, a half going to the even neighbour, as the program has always
// rounded what the user types. Worked out from the fraction rather than by adding a half, which
// would round 0.49999999999999994 up and lose odd values beyond 2^52. NaN and the infinities
// come back as they are.
inline double roundHalfToEven(double v) {
    const double below = std::floor(v);
    const double fraction = v - below;
    if (fraction > 0.5)
        return below + 1;
    if (fraction < 0.5)
        return below;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

}  // namespace platform
