#include "PrintOptions.h"
#include "FormatRow.h"

#include "probe/AVProbe.h"

#include <iostream>
#include <ostream>
#include <sstream>

namespace {

class TLines {
public:
    void Text(const char* name, const std::string& value) {
        if (!value.empty()) FText << name << '=' << value << '\n';
    }
    void Number(const char* name, int64_t value) {
        if (value >= 0) FText << name << '=' << value << '\n';
    }
    void Flag(const char* name, bool value) {
        if (value) FText << name << "=1\n";
    }
    // Extra option text: its non-empty lines as they are.
    void Lines(const std::string& text) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) FText << line << '\n';
        }
    }
    std::string Str() const { return FText.str(); }

private:
    std::ostringstream FText;
};

// "pal-dvd", "ntsc-vcd", or the bare type when the norm is automatic.
std::string TargetText(const TOutputOptions& out) {
    static const char* const types[] = {"vcd", "svcd", "dvd"};
    if (out.TargetType < 1 || out.TargetType > 3) return {};
    const char* norm = out.TargetNorm == 1 ? "pal-" : (out.TargetNorm == 2 ? "ntsc-" : "");
    return norm + std::string(types[out.TargetType - 1]);
}

} // namespace

std::string InputOptionLines(const TInputOptions& in) {
    TLines lines;
    lines.Text("f", in.ForceFormat);
    if (in.StartTime != TInputOptions().StartTime) lines.Number("ss", in.StartTime);
    lines.Number("programid", in.ProgramID);
    lines.Lines(in.ExtOptions);
    return lines.Str();
}

std::string OutputOptionLines(const TOutputOptions& out) {
    TLines lines;
    lines.Text("f", out.ForceFormat);
    lines.Text("target", TargetText(out));
    lines.Text("vcodec", out.VideoCodec);
    lines.Text("vpre", out.VideoPreset);
    lines.Number("vb", out.VideoBitrate);
    lines.Text("r", out.FrameRate);
    lines.Text("s", out.FrameSize);
    lines.Text("aspect", out.FrameAspectRatio);
    lines.Number("croptop", out.CropTop);
    lines.Number("cropbottom", out.CropBottom);
    lines.Number("cropleft", out.CropLeft);
    lines.Number("cropright", out.CropRight);
    lines.Text("vfilters", out.VideoFilters);
    lines.Flag("vn", out.DisableVideo);
    lines.Flag("sn", out.DisableSubtitle);
    lines.Text("acodec", out.AudioCodec);
    lines.Flag("an", out.DisableAudio);
    lines.Number("vol", out.AudioVolume);
    lines.Number("ac", out.AudioChannels);
    lines.Number("ar", out.AudioSampleRate);
    lines.Number("ab", out.AudioBitrate);
    lines.Lines(out.ExtOptions);
    return lines.Str();
}

int PrintConversionOptions(int formatCode, const std::string& file, std::ostream& out,
                           std::ostream& err, const std::vector<std::string>& edits) {
    const TScopedMessageHandler answer(AnswerNoOn(err));
    try {
        TGlobalObject g;
        InitSettingsStore(g);
        TAVProbe probe;
        if (!probe.LoadFile(file)) {
            err << probe.LastErrMsg() << '\n';
            return 1;
        }
        const TFormatRow row = BuildFormatRow(g, formatCode, probe, file, edits, {}, false);
        out << "[input]\n"
            << InputOptionLines(row.In) << "[output]\n"
            << OutputOptionLines(row.Out);
        return 0;
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return 1;
    }
}

int PrintConversionOptionsCommand(const std::string& formatCode, const std::string& file,
                                  const std::vector<std::string>& edits) {
    int code = 0;
    try {
        code = ParseFormatCode(formatCode);
    } catch (const std::invalid_argument& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return PrintConversionOptions(code, file, std::cout, std::cerr, edits);
}
