// A task's output files: opening each (the format, the default streams with
// a cover picture where the container takes one, the metadata, the byte
// stream and the muxer's settings), joined outputs, creating streams with
// their encoders, and closing the files when the task ends.
#pragma once

#include "engine/FFmpegOutputFile.h"
#include "engine/TaskFiles.h"
#include "engine/TaskOptions.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the output set-up reads and writes of its task.
struct TOutputSetupLinks {
    // The option state: each output and stream takes the options given for
    // it, and clears them for the next.
    TTaskOptions& Options;
    const std::vector<TInputFileSlot>& Inputs;
    std::string& ErrorText;     // why the last open failed
    int64_t& TotalDuration;     // a joined output's length is the sum of its inputs'
    const bool& StrictOptions;  // a muxer option the muxer refuses fails
    const bool& NewOutputsOnly; // a target must not exist when it is opened
};

// Threads: the files and streams are opened and created by the caller's
// thread while the task is idle; the conversion takes them over on the
// thread that runs the task (writing and closing them), and the caller does
// not touch them meanwhile.
class TOutputSetup {
public:
    explicit TOutputSetup(TOutputSetupLinks links);
    ~TOutputSetup();
    TOutputSetup(const TOutputSetup&) = delete;
    TOutputSetup& operator=(const TOutputSetup&) = delete;

    // Opens `fileName` with its default streams; returns the number of
    // output slots, or -1 with ErrorText set and nothing of it left. A
    // joined output fills one slot per input.
    int Open(const std::string& fileName, bool join);
    // Forgets the files from slot `files` on, with their streams (an output
    // whose set-up failed half-way).
    void DropFiles(int files);
    void NewVideoStream(int outputFile);
    void NewAudioStream(int outputFile);
    void NewSubtitleStream(int outputFile);

    // Throws FFmpegException, naming both, when `outputName` is the same
    // file as one of the inputs (device and inode, else the resolved path),
    // or `inputName` the same file as one of the outputs.
    void CheckNotAnInput(const std::string& outputName) const;
    void CheckNotAnOutput(const std::string& inputName) const;
    // One of the outputs is written to a temporary file that replaces `file`.
    bool ReplacesFile(const TFileIdentity& file) const;

    // Closes the files; with `keep`, each puts its result in place. The
    // first failure's text, empty when every file was finished.
    std::string CloseFiles(bool keep);
    // Forgets the streams and the files (an empty file is removed).
    void Clear();

    int FileCount() const { return static_cast<int>(FFiles.size()); }
    AVFormatContext* Context(int index) const;
    const std::vector<std::shared_ptr<TOutputFile>>& Files() const { return FFiles; }
    std::vector<TOutputStreamSetup>& Streams() { return FStreams; }
    const std::vector<TOutputStreamSetup>& Streams() const { return FStreams; }
    const bool& Joined() const { return FJoined; }

private:
    const AVOutputFormat* GuessFormat(const std::string& fileName);
    bool OpenSteps(const std::string& fileName, bool join);
    void DropFrom(std::size_t files, std::size_t streams);
    void AddDefaultStreams(AVFormatContext* context, int outputFile, bool join);
    bool CanEncodeSubtitles(const AVFormatContext* input, int codecId) const;
    void AddCoverStream(int outputFile);
    void AddCopiedStreams(int outputFile);
    void MoveMetadata(AVFormatContext* context);
    void OpenIo(TOutputFile& file, const std::string& fileName);
    void ApplyMuxerSettings(AVFormatContext* context);
    void Join();
    TOutputStreamSetup& NewStream(int outputFile, int mediaType);
    void ChooseEncoder(TOutputStreamSetup& setup, AVFormatContext* context, bool hasName,
                       const std::string& name);

    TOutputSetupLinks FLinks;
    TOptionState& FOptions;                           // the links' option state
    std::vector<std::shared_ptr<TOutputFile>> FFiles; // joined slots share one file
    std::vector<TOutputStreamSetup> FStreams;
    bool FJoined = false;
};
