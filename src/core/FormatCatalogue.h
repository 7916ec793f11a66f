// The fixed catalogue of output formats: three categories, twenty formats.
// A format's code is category * 100 + its position in the category; the
// code names the section "formatInfo" + code in both INI files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kFormatCategoryCount = 3;
inline constexpr int kFormatCaptionSlots = 51;

// The object behind one row of a format chooser.
struct TItemInfo {
    bool IsEntry = false;    // the row is a format
    bool IsCategory = false; // the row is a category heading
    bool Collapsed = false;  // for a category: its formats are hidden
    std::int32_t Code = 0;   // category number, or format code
};

// Captions by category and position; an empty caption ends a category.
using TFormatCaptions =
    std::array<std::array<std::string, kFormatCaptionSlots>, kFormatCaptionSlots>;

// Clears the table and fills in the catalogue.
void FillFormatCaptions(TFormatCaptions& captions);

// Caption of category 0, 1 or 2; empty for any other number.
std::string CategoryCaption(int category);

// Caption of a format code; empty when the code is not in the catalogue.
std::string FormatCaptionOf(int code);

// The twenty codes in catalogue order.
std::vector<int> FormatCodes();

// "formatInfo" + the code in decimal.
std::string FormatSectionName(int code);
