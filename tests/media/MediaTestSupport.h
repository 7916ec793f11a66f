// Loading the system's libraries once for the media tests.
#pragma once

#include "media/FFmpegLoader.h"

#include <gtest/gtest.h>

// Loads the converter's libraries from the system (no LibAV folder).
inline ::testing::AssertionResult LoadSystemLibraries() {
    FFmpegLoader().SetLibraryFolder("");
    if (FFmpegLoader().LoadLibraries(ConverterLibraries)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << FFmpegLoader().GetLastError();
}
