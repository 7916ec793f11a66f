#include "engine/InputReading.h"

#include "media/AVFormatEntries.h"

#include <sched.h>

namespace {

// Packets a reading queue holds: the pictures and sounds of a few frames.
constexpr std::size_t kReadQueuePackets = 16;

} // namespace

// Reading and decoding ahead pay only where they can run beside the rest:
// on one core the handing over between the threads would cost time for
// nothing.
bool TInputReading::SeveralCores() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof(cores), &cores) != 0) return true;
    return CPU_COUNT(&cores) > 1;
}

bool TInputReading::AheadAllowed(bool staged, bool dumps) {
    return staged && SeveralCores() && !dumps;
}

void TInputReading::Start(std::vector<AVFormatContext*> inputs, bool ahead) {
    FInputs = std::move(inputs);
    if (!ahead) return;
    for (AVFormatContext* input : FInputs) {
        FAhead.push_back(std::make_unique<TReadStage>(input, kReadQueuePackets));
        FAhead.back()->Start();
    }
}

int TInputReading::Next(int file, AVPacket* packet) {
    if (file < static_cast<int>(FAhead.size())) return FAhead[file]->Take(packet);
    FFault.Tick();
    return ff::avformat.av_read_frame(FInputs[file], packet);
}

void TInputReading::Stop() {
    for (const std::unique_ptr<TReadStage>& reading : FAhead)
        reading->Stop();
}
