// The stand-in picture and silence files.
#include "core/StandInMedia.h"

#include "core/GlobalUnit.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <stdlib.h>

namespace {

namespace fs = std::filesystem;

// The stand-in pictures and sounds live in a folder of this process,
// removed when it ends.
class TStandInFolder {
public:
    ~TStandInFolder() {
        std::error_code ec;
        if (!FFolder.empty()) fs::remove_all(FFolder, ec);
    }
    // The file of that name, written by `write` on first use.
    std::string File(const std::string& name, const std::function<void(std::ostream&)>& write) {
        std::lock_guard<std::mutex> lock(FLock);
        std::error_code ec;
        if (FFolder.empty()) FFolder = NewPrivateFolder();
        const fs::path file = FFolder / name;
        if (fs::exists(file, ec)) return file.string();
        std::ofstream stream(file, std::ios::binary);
        write(stream);
        if (!stream.flush()) {
            stream.close();
            fs::remove(file, ec);
            throw std::runtime_error("Cannot write " + file.string());
        }
        return file.string();
    }

private:
    // A new folder that only this user can enter, so that no one can put
    // files or links under the names used here before they are written.
    static fs::path NewPrivateFolder() {
        std::string pattern =
            TGlobalObject::GetSpecialFolder(TSpecialFolder::Temp) + "vantrel-standin-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("Cannot create a folder for the stand-in media in " + pattern);
        return pattern;
    }

    std::mutex FLock;
    fs::path FFolder;
};

TStandInFolder& StandIns() {
    static TStandInFolder folder;
    return folder;
}

constexpr int32_t kSilenceRate = 48000;
constexpr int32_t kSilenceSeconds = 10; // one piece of the silence file

void PutLittleEndian(std::ostream& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Ten seconds of 16-bit stereo zeros in a WAV file.
std::string SilencePieceFile() {
    return StandIns().File("silence.wav", [](std::ostream& wav) {
        const uint32_t bytes = kSilenceRate * 4u * kSilenceSeconds;
        wav << "RIFF";
        PutLittleEndian(wav, 36 + bytes, 4);
        wav << "WAVEfmt ";
        PutLittleEndian(wav, 16, 4);
        PutLittleEndian(wav, 1, 2); // integer samples
        PutLittleEndian(wav, 2, 2); // channels
        PutLittleEndian(wav, kSilenceRate, 4);
        PutLittleEndian(wav, kSilenceRate * 4u, 4);
        PutLittleEndian(wav, 4, 2);
        PutLittleEndian(wav, 16, 2);
        wav << "data";
        PutLittleEndian(wav, bytes, 4);
        const std::string zeros(bytes, '\0');
        wav.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    });
}

// A list that plays the piece `pieces` times in a row (beside it, so that
// its plain name is all the list needs).
std::string SilenceListFile(int64_t pieces) {
    SilencePieceFile();
    return StandIns().File("silence-" + std::to_string(pieces) + ".ffconcat",
                           [pieces](std::ostream& list) {
                               list << "ffconcat version 1.0\n";
                               for (int64_t i = 0; i < pieces && list; ++i)
                                   list << "file silence.wav\n";
                           });
}

} // namespace

std::string BlackPictureFile(int32_t w, int32_t h) {
    return StandIns().File("black-" + std::to_string(w) + "x" + std::to_string(h) + ".ppm",
                           [w, h](std::ostream& picture) {
                               picture << "P6\n" << w << " " << h << "\n255\n";
                               const std::string row(static_cast<std::size_t>(w) * 3, '\0');
                               for (int32_t y = 0; y < h && picture; ++y)
                                   picture.write(row.data(),
                                                 static_cast<std::streamsize>(row.size()));
                           });
}

std::string SilenceFileFor(int64_t durationUS) {
    const int64_t piece = int64_t{kSilenceSeconds} * 1000000;
    return SilenceListFile((durationUS + kSilenceMarginUS) / piece + 1);
}
