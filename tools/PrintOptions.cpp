#include "PrintOptions.h"
#include "RowEdits.h"

#include "app/core/DefaultFormats.h"
#include "app/core/FormatCatalogue.h"
#include "app/core/GlobalUnit.h"
#include "app/core/IniFile.h"
#include "app/core/MessageSeam.h"
#include "app/core/OptionBuilder.h"
#include "app/core/ProbedSource.h"
#include "editing/core/EditSettings.h"
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

TMsgResult AnswerNo(const std::string& text, TMsgButtons buttons, std::ostream& err) {
    if (buttons != TMsgButtons::YesNo) {
        err << text << '\n';
        return TMsgResult::Ok;
    }
    err << text << " No\n";
    return TMsgResult::No;
}

// The options of a new row of the file at batch start.
void BuildRowOptions(const TGlobalObject& g, int code, TAVProbe& probe, const std::string& file,
                     const std::vector<std::string>& edits, TInputOptions& in,
                     TOutputOptions& out) {
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    TlvFilesRecord row = NewFilesRecord(file, "", info.Duration, FormatZoomMode(g, code));
    ApplyRowEdits(edits, row);
    in.FileName = file;
    in.ForceFormat = probe.GetFormatName();
    HandOverRowEdits(row, in, out);
    BuildConversionOptions(g, row, code, out, ProbedSourceOf(probe), in);
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
    const TScopedMessageHandler answer(
        [&err](const std::string&, const std::string& text, TMsgIcon, TMsgButtons buttons) {
            return AnswerNo(text, buttons, err);
        });
    try {
        TGlobalObject g;
        InitGlobalObject(g);
        EnsureDefaultFormatFiles(g);
        TAVProbe probe;
        if (!probe.LoadFile(file)) {
            err << probe.LastErrMsg() << '\n';
            return 1;
        }
        TInputOptions in;
        TOutputOptions options;
        BuildRowOptions(g, formatCode, probe, file, edits, in, options);
        out << "[input]\n" << InputOptionLines(in) << "[output]\n" << OutputOptionLines(options);
        return 0;
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return 1;
    }
}

int PrintConversionOptionsCommand(const std::string& formatCode, const std::string& file,
                                  const std::vector<std::string>& edits) {
    int code = 0;
    if (!ParseIniInteger(formatCode, code) || FormatCaptionOf(code).empty()) {
        std::cerr << "Unknown format code: " << formatCode << '\n';
        return 1;
    }
    return PrintConversionOptions(code, file, std::cout, std::cerr, edits);
}
