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

# The environment of a test that may meet what libraries without frame
# pointers (Qt, the media libraries' dependencies) allocate: in the address
# checker build the leak checker then takes full stacks, so that
# tests/lsan.supp can tell those libraries' lifetime allocations from ours.
set(VANTREL_TEST_ENV "QT_QPA_PLATFORM=offscreen;SDL_AUDIODRIVER=dummy")
set(VANTREL_FULL_STACKS_ENV "${VANTREL_TEST_ENV}")
if(CMAKE_BUILD_TYPE STREQUAL "Asan")
    list(APPEND VANTREL_FULL_STACKS_ENV "ASAN_OPTIONS=fast_unwind_on_malloc=0")
endif()

# vantrel_gtest(NAME sources... LIBS libs... [FULL_STACKS]): one GoogleTest
# executable, its cases registered with CTest.
function(vantrel_gtest name)
    cmake_parse_arguments(ARG "FULL_STACKS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    vantrel_warnings(${name})
    vantrel_includes(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    set(environment "${VANTREL_TEST_ENV}")
    if(ARG_FULL_STACKS)
        set(environment "${VANTREL_FULL_STACKS_ENV}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "${environment}")
endfunction()
