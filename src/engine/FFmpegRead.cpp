// The inputs' own reading threads: each input file is read ahead of the
// task's thread into a short queue of packets, so that the reading waits
// for the disk while the task's thread works on the packets read before.
// The packets of each file come in the order they were read.
#include "engine/FFmpegTranscoder.h"

#include <sched.h>

namespace {

// Packets a reading queue holds: the pictures and sounds of a few frames.
constexpr std::size_t kReadQueuePackets = 16;

} // namespace

// Reading and decoding ahead pay only where they can run beside the rest:
// on one core the handing over between the threads would cost time for
// nothing.
bool TTranscoder::SeveralCores() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof(cores), &cores) != 0) return true;
    return CPU_COUNT(&cores) > 1;
}

// The packet dump shows each packet's stream as the reading left it.
bool TTranscoder::ReadStagesAllowed() const {
    return FEngine.StagedEncoding && SeveralCores() && !FOptions.DoPktDump && !FOptions.DoHexDump;
}

void TTranscoder::StartReadStages() {
    if (!ReadStagesAllowed()) return;
    for (int i = 0; i < FEngine.InputFileCount(); ++i) {
        FReading.push_back(
            std::make_unique<TReadStage>(FEngine.InputContext(i), kReadQueuePackets));
        FReading.back()->Start();
    }
}

// The next packet of `fileIndex` into `packet`: 0, or the code that ended
// its reading (AVERROR(EAGAIN): no data yet, on the task's thread only).
int TTranscoder::NextPacket(int fileIndex, AVPacket* packet) {
    if (fileIndex < static_cast<int>(FReading.size())) return FReading[fileIndex]->Take(packet);
    FReadFault.Tick();
    return ff::avformat.av_read_frame(FEngine.InputContext(fileIndex), packet);
}

// The format contexts are the task's thread's again.
void TTranscoder::StopReadStages() {
    for (const std::unique_ptr<TReadStage>& reading : FReading)
        reading->Stop();
}
