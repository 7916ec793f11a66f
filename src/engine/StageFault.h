// A test's way to make one stage of a running conversion fail in the middle:
// the environment variable VANTREL_STAGE_FAULT names the stage and, after a
// colon, how many items the stage works on before it fails ("decode:5";
// without a count the first item fails). Read once, when the stage is made;
// unset in every real conversion, where Tick does nothing.
#pragma once

#include <cstdint>
#include <string>

class TStageFault {
public:
    // `stage`: "read", "decode", "picture" or "encode".
    explicit TStageFault(const std::string& stage);

    // Counts one item; raises FFmpegException with FaultText(stage) at the
    // chosen one. Called by the one thread that works on the stage's items.
    void Tick();

    // The message of the failure injected into `stage`.
    static std::string FaultText(const std::string& stage);

private:
    std::string FStage;
    int64_t FAt = 0; // the item that fails, 1-based; 0: never
    int64_t FSeen = 0;
};
