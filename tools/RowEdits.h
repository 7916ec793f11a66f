// Per-file edits of "--format CODE --print-options FILE": the crop, trim,
// picture adjustments and watermark layers of the file's row, filled in as
// the edit dialogs would.
#pragma once

#include "effects/EditSettings.h"

#include <functional>
#include <string>
#include <vector>

// Measures a text box in a font: the width and height of the rendered text.
using TTextMeasure = std::function<void(const std::string& text, const TWmFont& font,
                                        int32_t& width, int32_t& height)>;

// Applies the edit arguments, each a name followed by its value:
//   --brightness N, --contrast N, --saturation N, --exposure N,
//   --crop TOP,LEFT,BOTTOM,RIGHT, --trim START,LENGTH (whole seconds),
//   --text "TEXT@X,Y[,ALPHA[,START,END]]", --image "FILE@X,Y[,ALPHA[,START,END]]"
// (layers repeatable, drawn in the order given). Text boxes are measured with
// `measure` when one is given, else they stay 0 x 0 and draw nothing. Throws
// std::invalid_argument naming the bad argument.
void ApplyRowEdits(const std::vector<std::string>& args, TlvFilesRecord& row,
                   const TTextMeasure& measure = {});

// The editor's defaults for a new text layer: size 26, blue text, green
// background not used, opacity 125, shown from 0 to the row's last second.
TWmRec NewTextLayer(const TlvFilesRecord& row, const std::string& text);
TWmRec NewImageLayer(const TlvFilesRecord& row, const std::string& file);
