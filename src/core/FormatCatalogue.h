// The fixed catalogue of output formats: the twenty formats of the first
// three categories and the modern formats of the fourth.
// A format's code is category * 100 + its position in the category; the
// code names the section "formatInfo" + code in both INI files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kFormatCategoryCount = 4;
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

// Caption of category 0 to 3; empty for any other number.
std::string CategoryCaption(int category);

// Caption of a format code; empty when the code is not in the catalogue.
std::string FormatCaptionOf(int code);

// Every code in catalogue order: the twenty, then the modern formats.
std::vector<int> FormatCodes();

// "formatInfo" + the code in decimal.
std::string FormatSectionName(int code);

// The category of the modern formats (codes 300 and up).
inline constexpr int kModernCategory = 3;
inline constexpr int kModernHevc = 300;
inline constexpr int kModernAv1 = 301;
inline constexpr int kModernVp9 = 302;
inline constexpr int kModernCopy = 303;
inline constexpr int kModernFlac = 304;
inline constexpr int kModernOpus = 305;
inline constexpr int kModernAlac = 306;

// Whether the code is one of the modern formats.
bool IsModernFormat(int code);
