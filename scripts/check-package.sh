#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks it as a desktop install needs it:
# the menu entry and the AppStream metadata pass their validators, in the sources and in
# the package; lintian finds no error or warning (info and pedantic tags are shown) and the
# package holds no overrides to hide behind; the file list and the declared dependencies
# are the expected ones, and every library the programs load comes from a declared
# package; the manual pages render without warnings; each icon has its size. The icon at
# 48 and 256 px is kept as pictures in BUILD/package-check/.
# Usage: scripts/check-package.sh [BUILD]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
check="$build/package-check"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
for tool in cpack dpkg-deb lintian desktop-file-validate appstreamcli rsvg-convert identify man; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (run scripts/install-deps.sh)"; exit 1; }
done

cmake --build "$build" -j"$(nproc)" --target quavella quavella-cli quavella_packaging_files
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$build/quavella_${version}_amd64.deb"
rm -f "$deb"
(cd "$build" && cpack -G DEB >/dev/null)
[[ -f "$deb" ]] || { echo "FAIL: cpack made no $deb"; exit 1; }
echo "package: $deb"
rm -rf "$check"
mkdir -p "$check"
root="$check/root"
dpkg-deb -x "$deb" "$root"

# The file list, exactly: a stray file (a header, a library, a build path) is a fault too.
app=org.example.quavella
expected=(
  /usr/bin/quavella
  /usr/bin/quavella-cli
  "/usr/share/applications/$app.desktop"
  "/usr/share/metainfo/$app.metainfo.xml"
  "/usr/share/icons/hicolor/scalable/apps/$app.svg"
  /usr/share/man/man1/quavella.1.gz
  /usr/share/man/man1/quavella-cli.1.gz
  /usr/share/doc/quavella/copyright
  /usr/share/doc/quavella/changelog.gz
)
sizes=(16 22 24 32 48 64 128 256 512)
for size in "${sizes[@]}"; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/$app.png")
done
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort >"$check/files.txt"
printf '%s\n' "${expected[@]}" | sort >"$check/expected-files.txt"
diff -u "$check/expected-files.txt" "$check/files.txt" || fail "the file list differs (- expected, + packaged)"
dpkg-deb -c "$deb" | awk '$2 != "root/root" { print }' | grep . && fail "files not owned by root"
dpkg-deb -c "$deb" | awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" { print }' | grep . &&
  fail "directories without mode 755"

# The control fields and the declared dependencies.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == quavella ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
[[ $(field Architecture) == amd64 ]] || fail "Architecture: $(field Architecture)"
[[ $(field Section) == sound ]] || fail "Section: $(field Section)"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
[[ -n $(field Description | sed -n 2p) ]] || fail "no extended description"
depends=$(field Depends)
echo "Depends: $depends"
# One alternative group per line, blanks and version constraints dropped.
groups=$(tr ',' '\n' <<<"$depends" | sed -e 's/([^)]*)//g' -e 's/ //g')
declares() { grep -qx -- "$1" <<<"$groups" || fail "Depends lacks '$1'"; }
for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 qt6-qpa-plugins \
  libfluidsynth3 fonts-wqy-microhei libsqlite3-0 libpugixml1v5 libsndfile1 libc6 libstdc++6; do
  declares "$package"
done
declares "fluid-soundfont-gm|timgm6mb-soundfont|musescore-general-soundfont-small|sf3-soundfont-gm"
# Every dependency can be had from the archive this machine installs from, so that
# `apt-get install ./quavella_*.deb` resolves on a fresh system of the same release.
while read -r group; do
  found=
  for alternative in ${group//|/ }; do
    candidate=$(apt-cache policy "$alternative" 2>/dev/null | awk '/Candidate:/ { print $2 }')
    [[ -n $candidate && $candidate != "(none)" ]] && { found=$alternative; break; }
  done
  [[ -n $found ]] || fail "no package of '$group' is available from apt"
done <<<"$groups"
# Independent of dpkg-shlibdeps: the package of every library the programs need directly.
for program in "$root"/usr/bin/*; do
  for soname in $(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }'); do
    owner=$(dpkg -S "*/$soname" 2>/dev/null | grep -m1 ":amd64: " | cut -d: -f1 || true)
    [[ -n $owner ]] || { fail "$(basename "$program") needs $soname, which no package holds"; continue; }
    grep -qxF "$owner" <<<"${groups//|/$'\n'}" ||
      fail "$(basename "$program") needs $soname from $owner, which Depends does not name"
  done
done

# Validators, on the sources and on the packaged files.
desktop-file-validate packaging/$app.desktop "$root/usr/share/applications/$app.desktop" ||
  fail "desktop-file-validate"
grep -qx 'Exec=quavella --from-menu' "$root/usr/share/applications/$app.desktop" ||
  fail "the menu entry does not start quavella --from-menu"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$app.metainfo.xml" ||
  fail "appstreamcli validate"
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree"
# Lintian warns about running as root; its verdict is all this wants.
lintian --fail-on error,warning --display-info --pedantic "$deb" 2> >(grep -v 'root privileges' >&2) ||
  fail "lintian"

# The packaged programs run, and their manual pages render cleanly.
grep -q '^layout: 5 -1' <<<"$("$root/usr/bin/quavella-cli" analyze samples/chunxiao.txt)" ||
  fail "the packaged quavella-cli does not analyse"
[[ $("$root/usr/bin/quavella" --version) == "quavella $version" ]] || fail "quavella --version"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "$(basename "$page"): $warnings"
done
# Every option a program's usage lists has its paragraph in the program's manual page.
for program in quavella quavella-cli; do
  manual=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/usr/share/man/man1/$program.1.gz" 2>/dev/null)
  for option in $("$root/usr/bin/$program" --help | grep -oE -- '(^|[ [])--?[a-z][a-z-]*' | tr -d ' [' | sort -u); do
    grep -qE -- "^ +(-[-a-z]+, )*$option( |,|$)" <<<"$manual" || fail "$program.1 has no paragraph for $option"
  done
done

# Each PNG has the size of its folder; the 48 and 256 px icons are kept to be looked at.
for size in "${sizes[@]}"; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/$app.png"
  [[ $(identify -format '%wx%h' "$png") == "${size}x${size}" ]] || fail "$png is not ${size}x${size}"
done
for size in 48 256; do
  cp "$root/usr/share/icons/hicolor/${size}x${size}/apps/$app.png" "$check/icon-$size.png"
done
# Both sizes at their own scale on a light and a dark panel, as a menu would show them.
convert -size 360x300 xc:'#f2f2f2' \
  "$check/icon-256.png" -geometry +16+22 -composite \
  "$check/icon-48.png" -geometry +290+22 -composite \
  \( -size 360x300 xc:'#2b2b2b' \
  "$check/icon-256.png" -geometry +16+22 -composite \
  "$check/icon-48.png" -geometry +290+22 -composite \) +append "$check/icons.png"
spread=$(convert "$check/icon-48.png" -format '%[fx:standard_deviation]' info:)
awk -v s="$spread" 'BEGIN { exit !(s > 0.05) }' || fail "the 48 px icon looks blank"
echo "icons: $check/icon-48.png $check/icon-256.png $check/icons.png"

# cmake --install into a scratch prefix installs the same menu entry and metadata.
cmake --install "$build" --prefix "$check/prefix" >/dev/null
desktop-file-validate "$check/prefix/share/applications/$app.desktop" || fail "installed desktop file"
[[ -x "$check/prefix/bin/quavella" && -x "$check/prefix/bin/quavella-cli" ]] ||
  fail "cmake --install did not install both programs"

if ((failures)); then
  echo "package check: $failures failure(s)"
  exit 1
fi
echo "package check OK"
