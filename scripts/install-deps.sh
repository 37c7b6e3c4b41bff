#!/usr/bin/env bash
# Installs the Debian packages that a build needs, if any is missing:
#   scripts/install-deps.sh        everything: the library, the tools, the tests with their
#                                  database servers, the benchmarks and the fuzzers (CI)
#   scripts/install-deps.sh demo   the library and the command-line host only (scripts/demo.sh)
#   scripts/install-deps.sh servers  those and the database servers (scripts/database.sh)
# The database servers are only run by the tests, privately in the build folder: a system
# service that the packages may start is not used.
set -euo pipefail
# The library itself needs only these; the command-line host adds its database client libraries.
packages=(cmake ninja-build g++ pkg-config libsqlite3-dev libpq-dev libmariadb-dev)
case ${1:-all} in
  demo) ;;
  servers) packages+=(postgresql mariadb-server) ;;
  # The media server needs GUPnP and pugixml, its test Go with goupnp and strace.
  all) packages+=(make clang libclang-rt-14-dev libgtest-dev libbenchmark-dev sqlite3 postgresql mariadb-server
                  libgupnp-1.6-dev libpugixml-dev golang-go golang-github-huin-goupnp-dev strace) ;;
  *) echo "usage: scripts/install-deps.sh [demo|servers]" >&2; exit 2 ;;
esac
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
