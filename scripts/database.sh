#!/usr/bin/env bash
# A private, throwaway PostgreSQL or MariaDB server with the sample library loaded, to try the
# command-line host's --db on a real server. It runs the way the tests run theirs
# (tests/support/databases.sh): data in build-demo/databases, Unix sockets only, no password, no
# system service.
#   scripts/database.sh start [postgresql|mariadb]   build the host, start the server (both
#                                                    without a name) and print the --db address
#   scripts/database.sh stop                         stop it and delete its data
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-demo/databases
usage() { echo "usage: scripts/database.sh start [postgresql|mariadb] | stop" >&2; exit 2; }
case ${1:-} in
  start)
    case ${2:-} in postgresql | mariadb | '') ;; *) usage ;; esac
    scripts/install-deps.sh servers
    scripts/demo.sh --help >/dev/null  # the demo's build of the host, then the host's help
    # The servers stay up until stop: no watchdog ends them with this script.
    MSC_DB_WATCH=none bash tests/support/databases.sh start "$dir" build-demo/tools/mysearchcriteria ${2:+"$2"} |
      while read -r address; do
        echo "build-demo/tools/mysearchcriteria search --db '$address' 'dc:title contains \"love\"'"
      done
    echo "scripts/database.sh stop   # when done"
    ;;
  stop) bash tests/support/databases.sh stop "$dir" ;;
  *) usage ;;
esac
