// A test's way to make one stage of a running conversion fail in the middle:
// the environment variable VANTREL_STAGE_FAULT names the stage and, after a
// colon, how many items the stage works on before it fails ("decode:5";
// without a count the first item fails). Read once, when the stage is made;
// unset in every real conversion, where Tick does nothing.
//
// Instead of the failure, a test may hold the stage at that item (SetHold):
// the stage's thread then calls the hold and goes on when it returns, so
// that a stop or a pause reaches the stage in the middle of its work.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class TStageFault {
public:
    // Called on the stage's thread, with the stage's name, at the chosen item.
    using THold = std::function<void(const std::string& stage)>;

    // `stage`: "read", "decode", "picture", "encode" or "write".
    explicit TStageFault(const std::string& stage);

    // Counts one item; at the chosen one, calls the hold when there is one,
    // else raises FFmpegException with FaultText(stage). Called by one thread
    // at a time (the one that works on the stage's items, or whoever holds
    // the stage's lock).
    void Tick();

    // The message of the failure injected into `stage`.
    static std::string FaultText(const std::string& stage);

    // Sets the hold of every stage (empty: the chosen item fails again).
    // Process-wide, under a lock of its own; a test sets it before the
    // conversion starts and clears it once it has ended.
    static void SetHold(THold hold);

private:
    std::string FStage;
    int64_t FAt = 0; // the item that fails, 1-based; 0: never
    int64_t FSeen = 0;
};
