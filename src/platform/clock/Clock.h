#pragma once

namespace platform {

// Seconds on a monotonic clock. Unlike a time of day it never jumps back at midnight or when
// the system clock is set, so waits measured with it always end.
double monotonicSeconds();

}  // namespace platform
