#!/usr/bin/env bash
# Builds the Debian package in build-package/ (a Release build without tests), installs it with
# apt-get (through sudo when not root) and checks what got installed: the files the package
# holds, what it depends on, that line-tarvel-cli runs from /usr/bin without Qt's GUI libraries,
# and that the desktop entry and the manual page are sound.
set -euo pipefail
cd "$(dirname "$0")/.."

run_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
fail() {
  echo "package-test: $*" >&2
  exit 1
}

# The installed line-tarvel-cli scans the simulated line (at 9600 baud without retries, about
# 40 s): it must end with status 0 and find exactly the controllers that answer there.
check_installed_scan() {
  local output status=0
  output=$(timeout 120 /usr/bin/line-tarvel-cli scan --simulate --retry 0 --baud 9600 2>&1) ||
    status=$?
  printf '%s\n' "$output"
  [ "$status" -eq 0 ] || fail "line-tarvel-cli scan --simulate ended with status $status"
  grep -q '4 controllers found: A B D E' <<<"$output" ||
    fail "line-tarvel-cli scan --simulate did not find exactly A, B, D and E"
}

scripts/setup.sh
# -O2 as Debian builds its packages; CMake's -O3 makes g++ 12 warn falsely (-Wrestrict) in
# std::string's operator+, and warnings are errors here.
scripts/build.sh build-package -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  -DBUILD_TESTING=OFF
rm -f build-package/line-tarvel_*.deb
(cd build-package && cpack -G DEB)
debs=(build-package/line-tarvel_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "expected one package, found: ${debs[*]}"
fi
deb=${debs[0]}

echo "== $deb ($(du -h "$deb" | cut -f1))"
dpkg-deb -c "$deb"

# Exactly these files, nothing else: no libraries, no tests, no benchmarks, no simulator.
expected=$(printf '%s\n' \
  ./usr/bin/line-tarvel \
  ./usr/bin/line-tarvel-cli \
  ./usr/share/applications/line-tarvel.desktop \
  ./usr/share/doc/line-tarvel/copyright \
  ./usr/share/icons/hicolor/scalable/apps/line-tarvel.svg \
  ./usr/share/man/man1/line-tarvel-cli.1.gz)
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "the package does not hold exactly the expected files (- missing, + unexpected)"
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libQt6Core.so.6 libQt6SerialPort.so.6; do
  package=$(dpkg -S "$library" | head -n1 | cut -d: -f1)
  grep -Eq "(^|, )$package( |,|\$)" <<<"$depends" ||
    fail "the package does not depend on $package (which holds $library)"
done

run_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --reinstall "./$deb"

version=$(sed -n 's/.*kVersion = "\(.*\)";.*/\1/p' src/core/Version.h)
printed=$(/usr/bin/line-tarvel-cli --version)
[ "$printed" = "line-tarvel-cli $version" ] ||
  fail "/usr/bin/line-tarvel-cli --version printed \"$printed\", not \"line-tarvel-cli $version\""
printed=$(/usr/bin/line-tarvel --version)
[ "$printed" = "Line Tarvel $version" ] ||
  fail "/usr/bin/line-tarvel --version printed \"$printed\", not \"Line Tarvel $version\""

libraries=$(ldd /usr/bin/line-tarvel-cli)
if grep -Eq 'libQt6(Widgets|Gui)' <<<"$libraries"; then
  fail "/usr/bin/line-tarvel-cli loads Qt's GUI libraries: $(grep -E 'libQt6(Widgets|Gui)' <<<"$libraries")"
fi
if grep -q 'not found' <<<"$libraries$(ldd /usr/bin/line-tarvel)"; then
  fail "an installed program misses a library"
fi

desktop-file-validate /usr/share/applications/line-tarvel.desktop
# The packaged page as built: some systems leave manual pages out when installing.
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l build-package/packaging/line-tarvel-cli.1.gz 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page has warnings: $warnings"

check_installed_scan
echo "Package: $deb installed and checked."
