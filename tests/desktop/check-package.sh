#!/usr/bin/env bash
# Builds the Debian package from a built tree, unpacks it into a scratch
# root and checks its files and its dependencies.
#   check-package.sh BUILD_DIR [desktop-file-validate]
set -euo pipefail
build=$(cd "$1" && pwd)
validate=${2:-desktop-file-validate}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The tests run on a built tree: naming a generator without a "preinstall"
# target keeps cpack from running the build again (as `make package` does).
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" -D CPACK_CMAKE_GENERATOR=Ninja \
    >"$scratch/cpack.log" 2>&1 || {
    cat "$scratch/cpack.log" >&2
    exit 1
}
debs=("$scratch"/out/*.deb)
[[ -f "${debs[0]}" ]] || { echo "no package was made" >&2; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

dpkg -x "$deb" "$scratch/root"
root="$scratch/root"
for file in \
    usr/bin/vantrel usr/bin/vantrel-convert usr/bin/vantrel-play \
    usr/include/vantrel/media/FrameHookModule.h \
    usr/lib/vantrel/hooks/invert_hook.so \
    usr/share/applications/vantrel.desktop \
    usr/share/metainfo/org.vantrel.Vantrel.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/vantrel.svg \
    usr/share/man/man1/vantrel.1.gz \
    usr/share/man/man1/vantrel-convert.1.gz \
    usr/share/man/man1/vantrel-play.1.gz; do
    [[ -f "$root/$file" ]] || fail "missing /$file"
done
for program in vantrel vantrel-convert vantrel-play; do
    [[ -x "$root/usr/bin/$program" ]] || fail "/usr/bin/$program is not executable"
done
for size in 16 22 24 32 48 64 128 256 512; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/vantrel.png"
    if [[ ! -f "$png" ]]; then
        fail "missing the ${size}x${size} icon"
        continue
    fi
    # The PNG header holds the width and height as big-endian numbers.
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')
    [[ "$dims" == "${size}x${size}" ]] || fail "the ${size}x${size} icon is $dims"
done
# The unpacked (stripped) program runs.
version=$("$root/usr/bin/vantrel" --version 2>&1) || fail "the packaged vantrel does not run: $version"
[[ "$version" == Vantrel\ * ]] || fail "vantrel --version says: $version"
gzip -t "$root"/usr/share/man/man1/*.gz || fail "a manual page is no gzip file"
"$validate" "$root/usr/share/applications/vantrel.desktop" || fail "the installed entry is invalid"
grep -qx 'Exec=vantrel %F' "$root/usr/share/applications/vantrel.desktop" ||
    fail "the entry does not open files with vantrel"

# Nothing outside /usr, nothing of the build tree.
strays=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[[ -z "$strays" ]] || fail "files outside /usr: $strays"
if grep -rqs --binary-files=text "$build" "$root/usr/share"; then fail "the build folder is named in /usr/share"; fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in libavcodec libavformat libavfilter libavutil libswscale libswresample \
    libsdl2-2.0-0 libqt6widgets6 libqt6network6 libqt6svg6 libjpeg62-turbo; do
    [[ ",$depends" == *", $package"* || ",$depends" == *",$package"* ]] || fail "Depends lacks $package"
done
# Each library the programs load at run time comes with a package named.
for lib in libavcodec.so libavformat.so libavfilter.so libavutil.so libswscale.so libswresample.so; do
    soname=$(basename "$(ls /usr/lib/*/"$lib".[0-9]* 2>/dev/null | head -1)")
    major=${soname#"$lib".}
    major=${major%%.*}
    base=${lib%.so}
    [[ -z "$major" || "$depends" == *"$base$major"* ]] || fail "Depends lacks $base$major"
done
# Each library the packaged programs link comes with its package named.
cache=$(ldconfig -p)
names=" $(sed 's/ *([^)]*)//g; s/,/ /g' <<<"$depends") "
for program in "$root"/usr/bin/*; do
    for needed in $(objdump -p "$program" | awk '/NEEDED/{print $2}'); do
        path=$(awk -v lib="$needed" '$1 == lib && !found {print $NF; found = 1}' <<<"$cache")
        [[ -n "$path" ]] || continue
        owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(readlink -f "$path")" 2>/dev/null ||
            dpkg -S "/usr$path" 2>/dev/null || dpkg -S "${path#/usr}" 2>/dev/null || true)
        package=${owner%%:*}
        [[ -n "$package" ]] || continue
        [[ "$names" == *" $package "* ]] ||
            fail "$(basename "$program") links $needed but Depends lacks $package"
    done
done
[[ "$(dpkg-deb -f "$deb" Package)" == vantrel ]] || fail "the package is not named vantrel"

[[ $failures -eq 0 ]] || exit 1
echo "package holds $(cd "$root" && find . -type f | wc -l) files"
