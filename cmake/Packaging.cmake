# `make package`: a Debian package of the programs, the frame-hook header,
# the example module and the desktop files.
#
# The media libraries and SDL are loaded at run time, so nothing links them
# and no tool would find them: the package names them itself, by the
# library generation the program was built against (libavcodec59 for the
# headers of libavcodec 59, ...). Qt and libjpeg are linked.

function(vantrel_major out pkg_version)
    string(REGEX MATCH "^[0-9]+" major "${pkg_version}")
    set(${out} ${major} PARENT_SCOPE)
endfunction()

vantrel_major(codec_major "${FFMPEG_HEADERS_libavcodec_VERSION}")
vantrel_major(format_major "${FFMPEG_HEADERS_libavformat_VERSION}")
vantrel_major(filter_major "${FFMPEG_HEADERS_libavfilter_VERSION}")
vantrel_major(util_major "${FFMPEG_HEADERS_libavutil_VERSION}")
vantrel_major(scale_major "${FFMPEG_HEADERS_libswscale_VERSION}")
vantrel_major(resample_major "${FFMPEG_HEADERS_libswresample_VERSION}")

find_package(Qt6 REQUIRED COMPONENTS Core)
set(qt_version "${Qt6Core_VERSION_MAJOR}.${Qt6Core_VERSION_MINOR}")
set(VANTREL_DEBIAN_DEPENDS
    "libavcodec${codec_major}"
    "libavformat${format_major}"
    "libavfilter${filter_major}"
    "libavutil${util_major}"
    "libswscale${scale_major}"
    "libswresample${resample_major}"
    "libsdl2-2.0-0"
    "libqt6core6 (>= ${qt_version})"
    "libqt6gui6 (>= ${qt_version})"
    "libqt6widgets6 (>= ${qt_version})"
    "libqt6network6 (>= ${qt_version})"
    "libqt6svg6 (>= ${qt_version})"
    "libjpeg62-turbo"
    "libass9"
    "libgcc-s1"
    "libc6"
    "libstdc++6")
list(JOIN VANTREL_DEBIAN_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "vantrel")
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_VERSION
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch converter for video and audio files")
set(CPACK_PACKAGE_DESCRIPTION
    "Vantrel collects video and audio files in a list and converts them, one after\n"
    "another, into one of twenty output formats. Each file can be cropped, trimmed,\n"
    "have its colours adjusted and carry text and picture watermarks; a built-in\n"
    "player previews it. The package also holds vantrel-convert, the same converter\n"
    "on the command line, and vantrel-play.")
list(JOIN CPACK_PACKAGE_DESCRIPTION "" CPACK_PACKAGE_DESCRIPTION)
set(CPACK_PACKAGE_CONTACT "Vantrel <support@vantrel.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vantrel.org/")
set(CPACK_DEBIAN_COMPRESSION_TYPE "gzip")

include(CPack)
