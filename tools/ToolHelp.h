// What vantrel-convert tells about itself: the usage ("--help", "-h") and
// the output formats ("--list-formats").
#pragma once

#include <string>

class TGlobalObject;

// The forms, their options and each edit's range and neutral value.
std::string ConvertHelpText();

// One line a format: its code, its file name extension (from the format
// file when it has one, else the built-in presets) and its caption, under
// a heading line.
std::string FormatListText(const TGlobalObject& g);
