// The classic command-line form of vantrel-convert.
#include "ConvertCommand.h"
#include "BatchRun.h"

#include "engine/FFmpegOptionTable.h"
#include "engine/FFmpegOutputTarget.h"
#include "engine/FFmpegVCL.h"
#include "media/Bitmap24.h"
#include "media/FFUtils.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/UnicodeProtocol.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {

constexpr char kStandardOutput[] = "pipe:";

} // namespace

bool OptionTakesNoValue(const std::string& name) {
    return IsFlagOption(name);
}

TConvertCommand ParseConvertCommand(const std::vector<std::string>& args) {
    TConvertCommand command;
    TOptionPairs pending;
    bool join = false;
    auto addOption = [&pending](const std::string& name, const std::string& value) {
        pending.emplace_back(name, value);
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') {
            command.Outputs.push_back({arg == "-" ? kStandardOutput : arg, pending, join});
            pending.clear();
            join = false;
            continue;
        }
        const std::string name = arg.substr(1);
        if (name == "join") {
            join = true;
            continue;
        }
        if (OptionTakesNoValue(name)) {
            if (name == "y") command.Overwrite = true;
            addOption(name, "");
            continue;
        }
        if (i + 1 >= args.size()) {
            command.Error = "Missing argument for option '" + name + "'";
            return command;
        }
        const std::string& value = args[++i];
        if (name == "i") {
            if (!command.Outputs.empty()) {
                command.Error = "Input file '" + value + "' given after an output file";
                return command;
            }
            command.Inputs.push_back({value, pending, false});
            pending.clear();
        } else {
            addOption(name, value);
        }
    }
    if (command.Inputs.empty())
        command.Error = "At least one input file must be specified";
    else if (command.Outputs.empty())
        command.Error = "At least one output file must be specified";
    return command;
}

namespace {

std::string StreamText(const TOutputStreamSetup& s) {
    std::string text = MediaTypeName(s.MediaType) + ": ";
    text += s.StreamCopy ? "copy" : (s.Encoder ? s.Encoder->name : "none");
    const AVCodecContext* c = s.EncoderContext.get();
    if (c && s.MediaType == AVMEDIA_TYPE_VIDEO) {
        const char* fmt = ff::avutil.av_get_pix_fmt_name(c->pix_fmt);
        text += FormatText(", %s, %dx%d, %d/%d fps", fmt ? fmt : "none", c->width, c->height,
                           c->framerate.num, c->framerate.den);
    } else if (c && s.MediaType == AVMEDIA_TYPE_AUDIO) {
        const char* fmt = ff::avutil.av_get_sample_fmt_name(c->sample_fmt);
        text += FormatText(", %d Hz, %d channels, %s", c->sample_rate, c->ch_layout.nb_channels,
                           fmt ? fmt : "none");
    }
    if (c && c->bit_rate > 0) text += FormatText(", %lld b/s", static_cast<long long>(c->bit_rate));
    return text;
}

// On standard output, unless a file is written there.
void PrintOutputs(TFFmpeg& task, std::FILE* out) {
    const auto& streams = task.OutputStreams();
    for (int f = 0; f < task.OutputFileCount(); ++f) {
        if (f > 0 && task.OutputContext(f) == task.OutputContext(f - 1))
            continue; // joined slots share the file
        AVFormatContext* context = task.OutputContext(f);
        std::fprintf(out, "Output #%d, %s, to '%s':\n", f, context->oformat->name, context->url);
        int index = 0;
        for (const TOutputStreamSetup& s : streams)
            if (s.FileIndex == f)
                std::fprintf(out, "  Stream #%d.%d: %s\n", f, index++, StreamText(s).c_str());
    }
    std::fflush(out);
}

bool WritesStandardOutput(const TConvertCommand& command) {
    for (const TConvertCommand::TFile& output : command.Outputs) {
        const std::string& name = output.FileName;
        if (name == kStandardOutput || name == "pipe:1" || name == "/dev/stdout") return true;
    }
    return false;
}

// An existing regular file is replaced only when "-y" was given (devices
// and named pipes are written, never replaced). The same file as an input
// is refused in either case, naming both.
void CheckOutputName(const TConvertCommand& command, TFFmpeg& task, const std::string& name) {
    task.CheckNotAnInput(name);
    if (command.Overwrite) return;
    const std::string path = LocalPathOf(ToLibraryName(name));
    std::error_code ec;
    if (!path.empty() && std::filesystem::is_regular_file(path, ec))
        throw std::runtime_error("File '" + name + "' already exists. Use -y to overwrite.");
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
}

int Stopped(const TStopSignals& signals) {
    std::fprintf(stderr, "%s\n", signals.StoppedText().c_str());
    return signals.StoppedStatus();
}

// The hidden "--invert-hook" flag: every output gets the frame hook, and
// the hook inverts every pixel (a measure of the hook path's cost).
constexpr char kInvertHookFlag[] = "--invert-hook";

} // namespace

int RunConvertCommand(const std::vector<std::string>& givenArgs) {
    std::vector<std::string> args;
    bool invertHook = false;
    for (const std::string& arg : givenArgs) {
        if (arg == kInvertHookFlag)
            invertHook = true;
        else
            args.push_back(arg);
    }
    const TConvertCommand command = ParseConvertCommand(args);
    if (!command.Error.empty()) return Fail(command.Error);
    // Made first, gone last: the converter's files are removed under it.
    TStopSignals signals;
    TFFmpegVCL CCAVC;
    CCAVC.StrictOptions = true;
    TConsole console;
    // Warnings and library errors go to stderr; the component's own failure
    // texts are printed once, by Fail or as the task's result.
    const TLogToConsole log(console, {&CCAVC});
    if (!CCAVC.LoadAVLib(ExecutableFolder() + "/LibAV")) return Fail(CCAVC.LastErrMsg);
    // A set-up that a stop signal cut short says so instead of the error
    // it caused ("Immediate exit requested").
    auto failSetUp = [&signals, &CCAVC] {
        return signals.Caught() ? Stopped(signals) : Fail(CCAVC.LastErrMsg);
    };
    int task = -1;
    for (const TConvertCommand::TFile& input : command.Inputs) {
        TInputOptions options;
        options.ExtOptionPairs = input.Options;
        if (task < 0)
            task = CCAVC.AddTask(input.FileName, &options);
        else if (!CCAVC.AddInput(task, input.FileName, &options))
            return failSetUp();
        if (task < 0) return failSetUp();
    }
    for (const TConvertCommand::TFile& output : command.Outputs) {
        TOutputOptions options;
        options.ExtOptionPairs = output.Options;
        options.Join = output.Join;
        options.CustomHook = invertHook;
        CheckOutputName(command, *CCAVC.Task(task), output.FileName);
        if (!CCAVC.SetOutputFile(task, output.FileName, &options)) return failSetUp();
    }
    if (!signals.StartConverting()) return Stopped(signals);
    PrintOutputs(*CCAVC.Task(task), WritesStandardOutput(command) ? stderr : stdout);
    if (invertHook)
        CCAVC.OnCustomHook = [](TCustomFFmpegVCL*, THookInfo* info) { InvertFrame(info); };
    TBatchRun run(CCAVC, console, signals);
    const std::vector<TTerminateInfo> results = run.Run(1);
    return static_cast<std::size_t>(task) < results.size() && results[task].Finished &&
                   results[task].EndedEarly.empty()
               ? 0
               : 1;
}
