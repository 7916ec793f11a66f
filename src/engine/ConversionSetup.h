// The start of a conversion: it builds the tables the transcoder runs on
// (input files and streams, output streams and files), maps the streams,
// sets and opens the codecs, builds the video filter graphs, copies tags
// and chapters and writes the output files' headers.
//
// The tables belong to the transcoder, which lends them to its set-up for
// its whole life; both run on the task's thread, the set-up before the
// transcoder starts any stage, so nothing here is shared with another
// thread. The work is split by step: FFmpegPrepare.cpp (stream tables,
// mapping, codec parameters), FFmpegCodecs.cpp (opening the codecs),
// FFmpegFileHeaders.cpp (tags, chapters, headers), FFmpegVideoFilters.cpp
// and FFmpegColour.cpp (the video filter graph, HDR colours), FFmpegH264.cpp
// (the H.264 limits).
#pragma once

#include "engine/ConversionOptions.h"
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
    // FFmpegPrepare.cpp
    void BuildInputTables();
    int64_t SourceDuration() const;
    void CheckOutputsAndMaps();
    void MapStreams();
    void SetStreamParameters();
    void SetCopyParameters(TOutputStream& ost, TInputStream& ist);
    void SetEncodeParameters(TOutputStream& ost, TInputStream& ist);
    void SetupPassLog(TOutputStream& ost, int index);
    void CheckPassTwoRate(const TOutputStream& ost, const std::string& stats) const;
    void KeepOrDropRotation(TOutputStream& ost, const TInputStream& ist);
    // FFmpegCodecs.cpp
    void OpenEncoders(bool subtitles);
    void CopySubtitleHeader(TOutputStream& ost);
    void OpenDecoders();
    void SetStartTimes();
    // FFmpegFileHeaders.cpp
    void CopyMetadataMaps();
    void CarrySourceTags();
    void CopyChapters();
    void WriteHeaders();
    void LogStreamMapping();
    // FFmpegVideoFilters.cpp, FFmpegColour.cpp, FFmpegH264.cpp
    int ConfigureFilters(TInputStream& ist, TOutputStream& ost);
    int ConfigureFiltersSteps(TInputStream& ist, TOutputStream& ost, AVFilterContext*& last);
    void PrepareToneMap(TInputStream& ist, TOutputStream& ost);
    void KeepSourceDepth(const TInputStream& ist, TOutputStream& ost);
    bool KeepsHdr(const TOutputStream& ost) const;
    void KeepHdrColours(const TInputStream& ist, TOutputStream& ost);
    void PassHdrMetadata(const TInputStream& ist, TOutputStream& ost);
    bool HookOn() const;
    void ToneMapAheadOfHook(TInputStream& ist);
    void FitH264Limits(TOutputStream& ost);
    static int LinkFilterChain(AVFilterGraph* graph, const std::string& text,
                               AVFilterContext*& last);

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
};
