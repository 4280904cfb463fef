#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package in build-package/ (a Release build without tests, with Debian's
# hardening flags), checks it with lintian (no error, no warning), installs it with apt-get
# (through sudo when not root) and checks what got installed: the files the package holds, what
# it depends on, the programs' hardening, that line-tarvel-cli runs from /usr/bin without Qt's
# GUI libraries, the desktop entry, the AppStream metadata, the manual pages, the bash
# completion, the watch's systemd unit, the Prometheus examples and the simulator.
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

# bash-completion finds the completion of line-tarvel-cli by itself, and it offers the
# commands, the options of a command and the values of an option.
check_completion() {
  [ -f "$completion" ] || fail "$completion is not installed"
  local registered
  registered=$(bash -c 'source /usr/share/bash-completion/bash_completion
    source "$1"; complete -p line-tarvel-cli' - "$completion") ||
    fail "$completion registers no completion for line-tarvel-cli"
  echo "$registered"
  # words typed; what the last one must complete to
  expect_completion 'line-tarvel-cli ' 'scan test listen analyse analyze send counters watch'
  expect_completion 'line-tarvel-cli test --baud ' '150 300 600 1200 2400 4800 9600'
  expect_completion 'line-tarvel-cli test --protocol modbus-rtu --baud ' \
    '1200 2400 4800 9600 19200 38400 57600 115200'
  expect_completion 'line-tarvel-cli scan --protocol ' \
    'ascon modbus-rtu jbus-rtu modbus-ascii jbus-ascii'
  expect_completion 'line-tarvel-cli scan --data-bits ' '7 8'
  expect_completion 'line-tarvel-cli scan --parity ' 'none even odd'
  expect_completion 'line-tarvel-cli scan --stop-bits ' '1 2'
  expect_completion 'line-tarvel-cli scan --retry ' '0 1 2 3 4'
  local line_options='--port --baud --parity --data-bits --stop-bits --retry --simulate --rs485'
  line_options+=' --rs485-delays'
  line_options+=' --echo --protocol'
  expect_completion 'line-tarvel-cli scan --' \
    "$line_options --cfg --addresses --answer-window --register --count --traffic --stats --json \
--all-settings --help"
  expect_completion 'line-tarvel-cli send --rs485-delays 0,2 --rs' '--rs485 --rs485-delays'
  expect_completion 'line-tarvel-cli listen --answer-window 0.3 --du' '--duration'
  expect_completion 'line-tarvel-cli watch --listen --me' '--metrics'
  expect_completion 'line-tarvel-cli watch --metrics 127.0.0.1:9780 --mq' '--mqtt'
  # A line description's file is no command, and an option after --simulate is no file.
  expect_completion 'line-tarvel-cli --simulate line.json ' \
    'scan test listen analyse analyze send counters watch'
  expect_completion 'line-tarvel-cli scan --simulate --ret' '--retry'
}
expect_completion() {
  local offered
  offered=$(bash -c 'source /usr/share/bash-completion/bash_completion
    _completion_loader line-tarvel-cli # what bash does at the first Tab
    function=$(complete -p line-tarvel-cli | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_LINE=$1 COMP_POINT=${#1} COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    "$function" line-tarvel-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    echo "${COMPREPLY[*]}"' - "$1")
  [ "$offered" = "$2" ] || fail "completing \"$1\" offers \"$offered\", not \"$2\""
}

# The simulator prints its device and answers there: line-tarvel-cli asks controller A once.
check_simulator() {
  local output device answer status=0
  output=$(mktemp)
  /usr/bin/line-tarvel-sim >"$output" &
  local simulator=$!
  for _ in $(seq 50); do
    device=$(head -n1 "$output")
    [ -n "$device" ] && break
    sleep 0.1
  done
  rm -f "$output"
  if [ -z "$device" ] || [ ! -c "$device" ]; then
    kill "$simulator" 2>/dev/null || true
    fail "line-tarvel-sim printed no device (\"$device\")"
  fi
  echo "line-tarvel-sim: $device"
  # At even parity, which a pseudo-terminal cannot carry: it must open all the same.
  answer=$(timeout 20 /usr/bin/line-tarvel-cli send 'A?X  ' --parity even --port "$device" 2>&1) ||
    status=$?
  kill -TERM "$simulator"
  local simulator_status=0
  wait "$simulator" || simulator_status=$?
  printf '%s\n' "$answer"
  [ "$status" -eq 0 ] || fail "line-tarvel-cli send on line-tarvel-sim's $device ended with $status"
  [ "$simulator_status" -eq 0 ] || fail "line-tarvel-sim ended with $simulator_status on SIGTERM"
}

# The installed examples are lines the installed programs read: on the training line, F
# answers at the line's speed and E, at the wrong one, does not.
check_installed_examples() {
  local training=/usr/share/doc/line-tarvel/examples/training-line.json status=0
  timeout 20 /usr/bin/line-tarvel-cli send 'F?X  ' --baud 9600 "--simulate=$training" ||
    fail "line-tarvel-cli send to F of $training ended with $?"
  timeout 20 /usr/bin/line-tarvel-cli send 'E?X  ' --baud 9600 "--simulate=$training" || status=$?
  [ "$status" -eq 1 ] || fail "E of $training answered at 9600 (status $status)"
}

# The watch's unit as installed, for a line named "test". systemd-analyze reads it without a
# running systemd: verify fails on nothing but prints what is wrong (an unknown setting, a
# program or manual page that is not there), so anything it prints fails here.
#
# Its exposure, 1.5 ("OK") with systemd 252, may not grow. What stays exposed is what a watch is
# for: the network (PrivateNetwork, RestrictAddressFamilies AF_INET and AF_INET6, IPAddressDeny:
# it serves the metrics and reaches device servers and MQTT brokers at the site's own addresses),
# the serial devices (PrivateDevices, DeviceAllow for ttyUSB, ttyS and ttyACM, and the dialout
# group of SupplementaryGroups), AF_UNIX for sd_notify, the host's root directory and its user
# namespace (PrivateUsers would leave the dialout group unmapped).
check_watch_unit() {
  local unit=/usr/lib/systemd/system/line-tarvel-watch@.service units output status=0
  units=$(mktemp -d)
  ln -s "$unit" "$units/line-tarvel-watch@test.service"
  output=$(systemd-analyze verify "$units/line-tarvel-watch@test.service" 2>&1) || status=$?
  if [ "$status" -ne 0 ] || [ -n "$output" ]; then
    rm -rf "$units"
    fail "systemd-analyze verify of $unit ended with $status: $output"
  fi
  echo "systemd-analyze verify: $unit is valid"
  output=$(systemd-analyze security --offline=true --threshold=15 \
    "$units/line-tarvel-watch@test.service" 2>&1) || status=$?
  rm -rf "$units"
  grep -E '^✗|Overall exposure' <<<"$output" || true
  [ "$status" -eq 0 ] || fail "the watch's unit is more exposed than 1.5 (systemd-analyze security)"
}

# The alerting rules as installed pass their own tests.
check_installed_prometheus_examples() {
  local examples=/usr/share/doc/line-tarvel/examples/prometheus
  promtool check rules "$examples/line-tarvel.rules.yml" ||
    fail "$examples/line-tarvel.rules.yml does not pass promtool check rules"
  promtool test rules "$examples/line-tarvel.rules.test.yml" ||
    fail "$examples/line-tarvel.rules.test.yml fails"
}

scripts/setup.sh
# Debian's hardening flags, all of them: the stack protector, _FORTIFY_SOURCE, a read-only
# relocation table bound at start (relro, bind-now); g++ makes position-independent programs by
# default. -O2 as Debian builds its packages: CMake's -O3 makes g++ 12 warn falsely (-Wrestrict)
# in std::string's operator+, and warnings are errors here.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxx_flags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
linker_flags=$(dpkg-buildflags --get LDFLAGS)
scripts/build.sh build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  "-DCMAKE_CXX_FLAGS=$cxx_flags" "-DCMAKE_EXE_LINKER_FLAGS=$linker_flags" -DBUILD_TESTING=OFF
rm -f build-package/line-tarvel_*.deb
(cd build-package && cpack -G DEB)
debs=(build-package/line-tarvel_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "expected one package, found: ${debs[*]}"
fi
deb=${debs[0]}

echo "== $deb ($(du -h "$deb" | cut -f1))"
dpkg-deb -c "$deb"

# Exactly these files, nothing else: no libraries, no tests, no benchmarks.
metainfo_id=$(sed -n 's/^TARVEL_APPSTREAM_ID:STRING=//p' build-package/CMakeCache.txt)
metainfo=/usr/share/metainfo/$metainfo_id.metainfo.xml
completion=$(pkg-config --variable=completionsdir bash-completion)/line-tarvel-cli
expected=$(printf '.%s\n' \
  /usr/bin/line-tarvel \
  /usr/bin/line-tarvel-cli \
  /usr/bin/line-tarvel-sim \
  /usr/share/applications/line-tarvel.desktop \
  "$completion" \
  /usr/share/doc/line-tarvel/README.md.gz \
  /usr/share/doc/line-tarvel/changelog.Debian.gz \
  /usr/share/doc/line-tarvel/changelog.gz \
  /usr/share/doc/line-tarvel/copyright \
  /usr/share/doc/line-tarvel/examples/built-in-line.json \
  /usr/share/doc/line-tarvel/examples/echoing-adapter.json \
  /usr/share/doc/line-tarvel/examples/even-parity-line.json \
  /usr/share/doc/line-tarvel/examples/faults.json \
  /usr/share/doc/line-tarvel/examples/listened-line.json \
  /usr/share/doc/line-tarvel/examples/modbus-training-line.json \
  /usr/share/doc/line-tarvel/examples/noisy-cable.json \
  /usr/share/doc/line-tarvel/examples/training-line.json \
  /usr/share/doc/line-tarvel/examples/prometheus/README.md \
  /usr/share/doc/line-tarvel/examples/prometheus/grafana-dashboard.json \
  /usr/share/doc/line-tarvel/examples/prometheus/line-tarvel.rules.test.yml \
  /usr/share/doc/line-tarvel/examples/prometheus/line-tarvel.rules.yml \
  /usr/share/doc/line-tarvel/examples/prometheus/prometheus.yml \
  /usr/share/doc/line-tarvel/examples/watch/watch.conf.example \
  /usr/share/icons/hicolor/scalable/apps/line-tarvel.svg \
  /usr/share/man/man1/line-tarvel-cli.1.gz \
  /usr/share/man/man1/line-tarvel-sim.1.gz \
  /usr/share/man/man1/line-tarvel.1.gz \
  /usr/lib/systemd/system/line-tarvel-watch@.service \
  "$metainfo" | LC_ALL=C sort)
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "the package does not hold exactly the expected files (- missing, + unexpected)"
fi

# The Debian changelog's latest entry is this package's version.
package_version=$(dpkg-deb -f "$deb" Version)
changelog_version=$(dpkg-parsechangelog -l build-package/packaging/changelog.Debian -S Version)
[ "$changelog_version" = "$package_version" ] ||
  fail "changelog.Debian's latest entry is $changelog_version, the package $package_version"

# Informational and pedantic tags are shown, errors and warnings fail.
echo "== lintian"
lintian --info --display-info --pedantic --fail-on error,warning "$deb" ||
  fail "lintian reports errors or warnings on $deb"

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
# The simulator stands at the far end of a pseudo-terminal and needs no Qt at all.
if ldd /usr/bin/line-tarvel-sim | grep -q 'libQt6'; then
  fail "/usr/bin/line-tarvel-sim loads Qt: $(ldd /usr/bin/line-tarvel-sim | grep libQt6)"
fi
if grep -q 'not found' <<<"$libraries$(ldd /usr/bin/line-tarvel)"; then
  fail "an installed program misses a library"
fi

desktop-file-validate /usr/share/applications/line-tarvel.desktop

# Every file was compiled with the flags dpkg-buildflags gives (hardening-check below sees the
# linker's).
for flag in -D_FORTIFY_SOURCE=2 -fstack-protector-strong; do
  if grep '"command"' build-package/compile_commands.json | grep -v -q -- "$flag"; then
    fail "a file was compiled without $flag"
  fi
done

# Control flow protection (-fcf-protection) is not among Debian 12's hardening flags, and none of
# the libraries the programs load (Qt, libstdc++, libc) is built with it, so it could not take
# effect. In
# line-tarvel-sim every call that _FORTIFY_SOURCE could check (read, memcpy, ppoll) either has
# its size proved at build time or a buffer whose size the compiler cannot know, so none turns
# into a checked call and hardening-check finds none there, though the loop above shows that it
# was compiled with _FORTIFY_SOURCE.
echo "== hardening-check"
hardening-check --nocfprotection /usr/bin/line-tarvel /usr/bin/line-tarvel-cli ||
  fail "an installed program lacks a hardening feature"
hardening-check --nocfprotection --nofortify /usr/bin/line-tarvel-sim ||
  fail "line-tarvel-sim lacks a hardening feature"

echo "== appstreamcli validate"
appstreamcli validate --no-net "$metainfo" || fail "$metainfo does not validate"
# The package's tree as a whole: the metadata's launchable names a desktop entry it holds.
tree=$(mktemp -d)
dpkg-deb -x "$deb" "$tree"
tree_status=0
appstreamcli validate-tree --no-net "$tree" || tree_status=$?
rm -rf "$tree"
[ "$tree_status" -eq 0 ] || fail "the package's AppStream metadata and desktop entry do not agree"

# The packaged pages as built: some systems leave manual pages out when installing.
for page in line-tarvel line-tarvel-cli line-tarvel-sim; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "build-package/packaging/$page.1.gz" \
    2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page $page.1 has warnings: $warnings"
done

check_completion
echo "== systemd-analyze"
check_watch_unit
echo "== promtool"
check_installed_prometheus_examples
check_simulator
check_installed_examples
check_installed_scan
echo "Package: $deb installed and checked."
