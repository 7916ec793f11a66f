// Fuzzes the probe on an in-memory input: the bytes go into an anonymous
// memory file, which the probe opens by its /proc/self/fd path and
// describes (file, streams, the format text, the builder's view).
#include "FuzzSupport.h"

#include "probe/AVProbe.h"

#include <sys/mman.h>
#include <unistd.h>

namespace {

// An anonymous memory file holding the input; closed with the object.
class TMemoryFile {
public:
    TMemoryFile(const uint8_t* data, size_t size) : FFd(::memfd_create("fuzz-input", 0)) {
        if (FFd < 0) std::abort();
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(FFd, data + done, size - done);
            if (n <= 0) std::abort();
            done += static_cast<size_t>(n);
        }
    }
    ~TMemoryFile() { ::close(FFd); }
    TMemoryFile(const TMemoryFile&) = delete;
    TMemoryFile& operator=(const TMemoryFile&) = delete;

    std::string Path() const { return "/proc/self/fd/" + std::to_string(FFd); }

private:
    int FFd;
};

void Describe(TAVProbe& probe) {
    TFileStreamInfo file;
    probe.GetFileStreamInfo(file);
    for (int i = -1; i < probe.StreamCount(); ++i) {
        TAudioStreamInfo audio;
        TVideoStreamInfo video;
        probe.GetAudioStreamInfo(i, audio);
        probe.GetVideoStreamInfo(i, video);
        probe.IsAudioStream(i);
        probe.IsVideoStream(i);
    }
    probe.GetFormatName();
    probe.GetFormatInfoText();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::LoadMediaLibraries(ConverterLibraries);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TMemoryFile input(data, size);
    TAVProbe probe;
    if (probe.LoadFile(input.Path())) Describe(probe);
    probe.CloseFile();
    return 0;
}
