// The steps vantrel-convert --format shares between printing a file's
// options and converting the file: the settings store with its built-in
// defaults, the answer to the builder's questions, and one file's row with
// its task options, built in the order of the window's batch start.
#pragma once

#include "RowEdits.h"

#include "app/core/GlobalUnit.h"
#include "app/core/MessageSeam.h"
#include "editing/core/EditSettings.h"
#include "engine/FFmpegRecords.h"

#include <cstdint>
#include <iosfwd>
#include <set>
#include <string>
#include <vector>

class TAVProbe;

// A format code as given on the command line: an integer naming one of the
// catalogue's formats. Throws std::invalid_argument "Unknown format code: "
// + the text for anything else.
int ParseFormatCode(const std::string& text);

// Fills the global object as the main window does at creation and writes
// (or repairs) the format file and the settings' format sections that are
// missing. Throws std::runtime_error naming the file when either file
// cannot be used.
void InitSettingsStore(TGlobalObject& g);

// The builder's handler of messages: texts go to `err`; the question about
// an unusable frame size is answered No (and the answer said on `err`).
TMessageHandler AnswerNoOn(std::ostream& err);

// One file's row at batch start and the options of its task.
struct TFormatRow {
    TlvFilesRecord Record;
    TInputOptions In;
    TOutputOptions Out;
    bool HasPicture = false; // a black picture input follows the source
    bool HasAudio = false;   // the source has an audio stream
    bool HasVideo = false;   // the source has a video stream
    int64_t Duration = -1;   // the source's length, microseconds; -1 unknown
    TInputOptions Picture;
};

// The row of a newly added `file` (open in `probe`) with the per-file
// `edits` of RowEdits.h (text boxes measured with `measure`), and its task
// options for the format: trim start, the output file name when
// `nameOutput` (MakeDestinationName with "." + the format's "FileExt"),
// the zoom mode read again, crop, recording length, BuildConversionOptions
// and the frame hook switch. Names in `taken` (other rows' outputs) are not
// given again. Throws what the edits and the builder throw.
TFormatRow BuildFormatRow(const TGlobalObject& g, int formatCode, TAVProbe& probe,
                          const std::string& file, const std::vector<std::string>& edits,
                          const TTextMeasure& measure, bool nameOutput,
                          const std::set<std::string>& taken = {});
