#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages the build, the tests, the package and the program need, when any
# is missing; packages given as arguments too (scripts/setup.sh xvfb xdotool).
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format
  qt6-base-dev qt6-serialport-dev qcoro-qt6-dev
  # Debian 12's Qt Charts needs the Qt OpenGL development files but does not depend on them.
  qt6-charts-dev libqt6opengl6-dev
  libgtest-dev
  # Ports across the network: libgensio's Telnet COM port control client, and ser2net, which
  # the tests put in front of the simulated line.
  libgensio-dev ser2net
  # Independent Modbus peers the tests speak with: pymodbus's serial server, libmodbus's mbpoll,
  # and socat for the pseudo-terminal pairs between them.
  # pymodbus's serial server needs its serial transport, which Debian only recommends.
  python3-pymodbus python3-serial-asyncio mbpoll socat
  dpkg-dev file desktop-file-utils man-db
  # What scripts/package-test.sh checks the package with: lintian, hardening-check (devscripts),
  # appstreamcli, bash-completion's loader and completions folder, and systemd-analyze (systemd).
  lintian devscripts appstream bash-completion systemd
  # A locale with a decimal comma, for the tests that numbers in files never take it.
  locales
  # The watch: prometheus-cpp's registry and HTTP server for its metrics, Eclipse Paho for MQTT,
  # libsystemd's sd_notify; and the real Prometheus (promtool included) and mosquitto its tests
  # run against.
  prometheus-cpp-dev libpaho-mqttpp-dev libpaho-mqtt-dev libsystemd-dev prometheus mosquitto
  "$@"
)

run_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
comma_locale() {
  locale -a | grep -qix 'de_DE.utf8' || run_as_root localedef -i de_DE -f UTF-8 de_DE.UTF-8
}

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  comma_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
run_as_root apt-get update
run_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
comma_locale
