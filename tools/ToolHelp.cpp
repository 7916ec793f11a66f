#include "ToolHelp.h"

#include "core/DefaultFormats.h"
#include "core/FormatCatalogue.h"
#include "core/GlobalUnit.h"
#include "effects/AdjustmentRanges.h"
#include "media/MyUtils.h"

#include <cctype>

namespace {

const char kUsage[] =
    "Usage: vantrel-convert --info FILE\n"
    "       vantrel-convert --format CODE [--output-dir DIR] [--jobs N] [--json]\n"
    "                              [--loudness LUFS] [--target-size MB]\n"
    "                              [edits] FILE...\n"
    "       vantrel-convert --format CODE --print-options FILE [edits]\n"
    "       vantrel-convert [input options] -i INPUT ... [output options] OUTPUT\n"
    "       vantrel-convert --list-formats\n"
    "       vantrel-convert --help\n"
    "\n"
    "  --info FILE           describe a media file\n"
    "  --format CODE         convert each FILE as the window's batch does, with the\n"
    "                        output format CODE (see --list-formats) and the settings\n"
    "                        of vantrel.ini; outputs are named NAME_(new).EXT\n"
    "  --output-dir DIR      write into DIR for this run (the stored output folder\n"
    "                        otherwise)\n"
    "  --jobs N              convert N files at a time\n"
    "  --loudness LUFS       measure each file's loudness first and bring it to LUFS\n"
    "                        (-23, -16, -14, ...; true peak at most -1 dBTP)\n"
    "  --target-size MB      encode each video file in two passes to fit MB\n"
    "                        (1,000,000 bytes), never larger, at most 10 % below\n"
    "  --json                progress and results as JSON lines on standard output\n"
    "  --print-options FILE  print the engine options a new row of FILE gets\n"
    "  --list-formats        list the format codes with their extensions and captions\n"
    "  -i INPUT ... OUTPUT   the classic form: the engine's options as -name value;\n"
    "                        -y replaces an existing output, -join before an output\n"
    "                        joins the inputs; Ctrl-C stops and finishes the file\n"
    "\n"
    "Edits of the format form, applied to every FILE as the edit dialogs set them:\n";

const char kLayoutEdits[] =
    "  --crop TOP,LEFT,BOTTOM,RIGHT\n"
    "      source pixels removed at each side, even (an odd value is taken one\n"
    "      lower); 0,0,0,0 crops nothing.\n"
    "  --trim START,LENGTH\n"
    "      whole seconds from the start; LENGTH 0 converts to the end; 0,0\n"
    "      converts everything.\n"
    "  --text \"TEXT@X,Y[,ALPHA[,START,END]]\"\n"
    "      a text layer with its top left corner at X,Y; ALPHA 0 (invisible) to\n"
    "      255 (opaque), 125 when left out; shown from second START to second END\n"
    "      (the whole file when left out). Repeatable, drawn in the order given.\n"
    "  --image \"FILE@X,Y[,ALPHA[,START,END]]\"\n"
    "      an image layer (PNG, JPEG or BMP), likewise; a PNG's own transparency\n"
    "      is kept under ALPHA.\n";

// "  --brightness N" and its range and neutral value, for each adjustment.
std::string AdjustmentLines() {
    std::string lines;
    for (const TAdjustmentRange& range : AdjustmentRanges()) {
        std::string name = range.Name;
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string option = "--" + name + " N";
        const std::string hint = AdjustmentHint(range.Name);
        // The hint without its leading "Name: ".
        const std::string text = hint.substr(hint.find(": ") + 2);
        lines += "  " + option + "\n      " + text + "\n";
    }
    return lines;
}

} // namespace

std::string ConvertHelpText() {
    return kUsage + AdjustmentLines() + kLayoutEdits;
}

std::string FormatListText(const TGlobalObject& g) {
    std::string text = "Code  Ext   Caption\n";
    for (int code : FormatCodes())
        text += FormatText("%-5d %-5s %s\n", code, FormatFileExt(g, code).c_str(),
                           FormatCaptionOf(code).c_str());
    return text;
}
