# Shared build settings of the project's own targets.

find_package(PkgConfig REQUIRED)

# The media libraries are loaded at run time: only their headers are used at
# build time, nothing links them.
pkg_check_modules(FFMPEG_HEADERS REQUIRED
    libavcodec libavformat libavfilter libavutil libswscale libswresample libavdevice)
pkg_check_modules(SDL2_HEADERS REQUIRED sdl2)

add_library(vantrel_media_headers INTERFACE)
target_include_directories(vantrel_media_headers SYSTEM INTERFACE
    ${FFMPEG_HEADERS_INCLUDE_DIRS} ${SDL2_HEADERS_INCLUDE_DIRS})

# Version numbers of the program, compiled in.
add_library(vantrel_version INTERFACE)
target_compile_definitions(vantrel_version INTERFACE
    VANTREL_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    VANTREL_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    VANTREL_VERSION_PATCH=${PROJECT_VERSION_PATCH}
    VANTREL_VERSION_TWEAK=${PROJECT_VERSION_TWEAK})

# Warnings are errors on our own code.
function(vantrel_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        # The fuzz build: the code's GCC-only pragmas are no errors there.
        target_compile_options(${target} PRIVATE -Wno-unknown-pragmas -Wno-unknown-warning-option)
    endif()
endfunction()

# Every include starts at src/: #include "media/FFmpegLoader.h".
function(vantrel_includes target)
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

find_package(GTest REQUIRED)
include(GoogleTest)

# vantrel_gtest(NAME sources... LIBS libs...): one GoogleTest executable, its
# cases registered with CTest.
function(vantrel_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    vantrel_warnings(${name})
    vantrel_includes(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;SDL_AUDIODRIVER=dummy")
endfunction()
