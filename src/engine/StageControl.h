// How a unit of the conversion sees its task's pause and stop, without
// the rest of the task: the conversion hands each unit these two, a test
// its own script.
//
// Threads: both are called from any thread of the conversion; what they
// read is the task's atomic run state.
#pragma once

#include <functional>

struct TStageControl {
    // Returns once the task is not paused (at once when it is not).
    std::function<void()> WaitWhilePaused;
    // Whether the task was asked to stop.
    std::function<bool()> Stopped;
};
