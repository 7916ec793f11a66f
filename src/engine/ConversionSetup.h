// The start of a conversion: it builds the tables the transcoder runs on
// (input files and streams, output streams and files), maps the streams,
// sets and opens the codecs, builds the video filter graphs, copies tags
// and chapters and writes the output files' headers.
//
// The tables belong to the transcoder, which lends them to its set-up for
// its whole life; both run on the task's thread, the set-up before the
// transcoder starts any stage, so nothing here is shared with another
// thread. The steps it does itself are the stream tables, the mapping, the
// codec parameters and the opening of the codecs; it hands the colours to
// ColourSetup.h, the video filter graphs to VideoFilterGraph.h, the H.264
// limits to H264Limits.h, the two-pass logs to PassLogFile.h and the output
// files' tags, chapters and headers to OutputFileHeaders.h.
#pragma once

#include "engine/ColourSetup.h"
#include "engine/ConversionOptions.h"
#include "engine/OutputFileHeaders.h"
#include "engine/PacketWriter.h"
#include "engine/PictureWork.h"
#include "engine/TaskShare.h"
#include "engine/TranscoderStreams.h"

#include <cstdint>
#include <string>
#include <vector>

// The transcoder's tables that the set-up fills.
struct TConversionTables {
    std::vector<TInputFileRun>& InputFiles;
    std::vector<TInputStream>& InputStreams;
    std::vector<TOutputStream>& OutputStreams;
    std::vector<AVFormatContext*>& Outputs; // distinct output files, in order
    std::vector<bool>& NoPacket;            // by input file
    bool& Joined;
    int64_t& SourceDuration; // microseconds the inputs last together, 0: unknown
    bool& HeadersWritten;
    TPictureWork& PictureWork; // its streams are added as the tables grow
};

class TConversionSetup {
public:
    // Everything given outlives this.
    TConversionSetup(const TTaskShare& engine, const TConversionOptions& options,
                     TPacketWriter& writer, const TConversionTables& tables);
    TConversionSetup(const TConversionSetup&) = delete;
    TConversionSetup& operator=(const TConversionSetup&) = delete;

    // Builds the tables, opens the codecs and writes the headers; raises
    // FFmpegException (the transcoder closes what was opened).
    void Run();
    // The input stream an output stream of `mediaType` in output file
    // `file` reads when no map names one, -1 when none; joined inputs
    // offer only input `file`'s streams.
    int FindSource(int file, int mediaType) const;

private:
    void BuildInputTables();
    int64_t SourceDuration() const;
    void CheckOutputsAndMaps();
    void MapStreams();
    void SetStreamParameters();
    void SetCopyParameters(TOutputStream& ost, TInputStream& ist);
    void SetEncodeParameters(TOutputStream& ost, TInputStream& ist);
    void CheckSourceStream(const TOutputStreamSetup& setup, const TOutputStream& ost) const;
    std::string FilterFailureText(const TInputStream& ist) const;
    bool BuildFilters(const TInputStream& ist, TOutputStream& ost);
    void KeepOrDropRotation(TOutputStream& ost, const TInputStream& ist);
    void OpenEncoders(bool subtitles);
    void CopySubtitleHeader(TOutputStream& ost);
    void OpenDecoders();
    void SetStartTimes();
    std::vector<THeaderSource> HeaderSources() const;
    void LogStreamMapping();
    int IndexOf(const TInputStream& ist) const; // in FInputStreams

    static void Log(int level, const std::string& text);
    static const char* TypeName(int type); // a media type's name

    const TTaskShare& FEngine;
    const TConversionOptions& FOptions;
    TPacketWriter& FWriter;
    std::vector<TInputFileRun>& FInputFiles;
    std::vector<TInputStream>& FInputStreams;
    std::vector<TOutputStream>& FOutputStreams;
    std::vector<AVFormatContext*>& FOutputs;
    std::vector<bool>& FNoPacket;
    bool& FJoined;
    int64_t& FSourceDuration;
    bool& FHeadersWritten;
    TPictureWork& FPictureWork;
    TColourSetup FColour;
};
