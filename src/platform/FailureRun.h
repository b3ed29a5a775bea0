#pragma once

namespace platform {

// "Tell the user once per run of failures": while something keeps failing only the first
// failure is told, and the next success ends the run, so a later failure is news again.
class FailureRun {
public:
    // Counts a failure; true when it is the first of its run and so is to be told.
    bool firstOfRun() {
        const bool first = !failing_;
        failing_ = true;
        return first;
    }
    void endRun() { failing_ = false; }

private:
    bool failing_ = false;
};

}  // namespace platform
