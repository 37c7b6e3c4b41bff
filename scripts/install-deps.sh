#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the tools need, if any is missing
# (the media server: GUPnP and pugixml; its test: Go, goupnp and strace).
# The database servers are only run by the tests, privately in the build folder: a system
# service that the packages may start is not used.
set -euo pipefail
packages=(cmake ninja-build make g++ clang libclang-rt-14-dev pkg-config libgtest-dev libbenchmark-dev
          libsqlite3-dev sqlite3 postgresql mariadb-server libpq-dev libmariadb-dev
          libgupnp-1.6-dev libpugixml-dev golang-go golang-github-huin-goupnp-dev strace)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=(); [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
