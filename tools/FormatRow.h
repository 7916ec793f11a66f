// The steps vantrel-convert --format shares between printing a file's
// options and converting the file: the settings store with its built-in
// defaults, the answer to the builder's questions, and one file's row with
// the edits of the command line (its task is planned by the batch core).
#pragma once

#include "RowEdits.h"

#include "core/BatchPlan.h"
#include "core/GlobalUnit.h"
#include "core/MessageSeam.h"
#include "effects/EditSettings.h"

#include <iosfwd>
#include <string>
#include <vector>

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

// The row of a newly added `file` of the probed length, as the list makes
// it for the format, with the per-file `edits` of RowEdits.h (text boxes
// measured with `measure`). Throws what the edits throw.
TlvFilesRecord NewEditedRow(const TGlobalObject& g, int formatCode, const std::string& file,
                            int64_t durationUS, const std::vector<std::string>& edits,
                            const TTextMeasure& measure);
