#pragma once

namespace platform {

// Handles the window events that are pending, then blocks for at most maxSeconds until more
// arrive (handling those too). Waiting inside the event dispatcher instead of polling keeps a
// long wait from spinning a core.
void handleEventsFor(double maxSeconds);

// How many handleEventsFor() calls are currently active on the stack (nested waits).
int eventWaitDepth();

}  // namespace platform
