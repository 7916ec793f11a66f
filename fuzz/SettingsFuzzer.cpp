// Fuzzes the settings store and what reads it: the fuzzed bytes become the
// settings file and the format file (split at the first NUL byte), the
// store reads and rewrites them, the option builder turns one format of
// them into task options, and the start-up repair restores them. Files live in a private folder of
// the run, left behind when it ends. The builder may refuse a setting with std::invalid_argument or
// std::out_of_range; nothing else is expected.
#include "FuzzSupport.h"

#include "core/DefaultFormats.h"
#include "core/FormatCatalogue.h"
#include "core/IniFile.h"
#include "core/MessageSeam.h"
#include "core/OptionBuilder.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string g_Folder;

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Reads every key of the "settings" section, then writes one back.
void ExerciseStore(TIniFile& ini, const std::string& text) {
    for (const std::string& key : ini.ReadSectionKeys("settings"))
        ini.ReadInteger("settings", key, 0);
    const std::string firstLine = text.substr(0, text.find('\n'));
    ini.WriteString("settings", firstLine, firstLine);
    ini.ValueExists("settings", firstLine);
}

void BuildOptions(const TGlobalObject& g, int code) {
    TlvFilesRecord row;
    row.ZoomMode = FormatZoomMode(g, code);
    TProbedSource source;
    source.VideoStreamIndex = 0;
    source.VideoStreamCount = 1;
    source.AudioStreamIndex = 1;
    source.VideoWidth = 640;
    source.VideoHeight = 480;
    source.VideoBitRate = 1000000;
    source.AudioSampleRate = 44100;
    source.AudioBitRate = 128000;
    TOutputOptions out;
    out.Reset();
    TInputOptions in;
    in.Reset();
    try {
        BuildConversionOptions(g, row, code, out, source, in);
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // In memory where the machine has it: every rewrite of the store syncs.
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "vantrel-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    g_Folder = pattern;
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(g_Folder, ec);
    });
    SetMessageHandler([](const std::string&, const std::string&, TMsgIcon, TMsgButtons) {
        return TMsgResult::No;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::vector<int> codes = FormatCodes();
    const int code = codes[data[0] % codes.size()];
    const std::string text = fuzzsupport::TextOf(data + 1, size - 1);
    const std::size_t nul = text.find('\0');
    const std::string settingsText = text.substr(0, nul);
    const std::string formatText = nul == std::string::npos ? std::string() : text.substr(nul + 1);

    TGlobalObject g;
    g.SetSettingsFile(g_Folder + "/vantrel.ini");
    g.SetFormatFile(g_Folder + "/vantrelformat.ini");
    WriteFile(g.SettingsFile(), settingsText);
    WriteFile(g.FormatFile(), formatText);

    TIniFile settings = g.Settings();
    ExerciseStore(settings, settingsText);
    BuildOptions(g, code);
    EnsureDefaultFormatFiles(g);
    FormatFileExt(g, code);
    return 0;
}
