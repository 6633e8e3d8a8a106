#!/usr/bin/env bash
# The reference service behind its front on each store, in turns, in one run: SQLite with one
# instance, PostgreSQL with one, PostgreSQL with two; then the kill of one of two instances on
# PostgreSQL. Each PostgreSQL turn gets a fresh database of one private cluster
# (tests/fixtures/with-postgres.sh), which runs without waiting for the disk (fsync off): the
# figures are the service's and the network's, not a disk's.
#   bench/service_stores.sh [BUILD_DIR] [--seconds N] [--rates R1,R2]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build
[[ ${1:-} != --* && -n ${1:-} ]] && { build=$1; shift; }
seconds=20
rates=500,2000
while (($#)); do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --rates) rates=$2; shift 2 ;;
    *) echo "service_stores.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
load=$build/bench/service_load
[[ -x $load ]] || { echo "service_stores.sh: $load is missing: build the bench first" >&2; exit 1; }
if [[ -z ${STRIMO_TEST_POSTGRES_SOCKET:-} ]]; then
  exec "$root/tests/fixtures/with-postgres.sh" "$0" "$build" --seconds "$seconds" --rates "$rates"
fi
# A new database named $1; its address.
fresh_database() {
  psql -q "$STRIMO_TEST_POSTGRES" -c "CREATE DATABASE $1" >/dev/null
  echo "postgresql:///$1?host=$STRIMO_TEST_POSTGRES_SOCKET&user=strimo"
}
turn() {
  echo
  echo "=== $1"
  shift
  "$load" --front --seconds "$seconds" --limit-ms 10000 "$@" || echo "(the bench ended with status $?)"
}
echo "service_stores: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) before the first turn"
turn "SQLite, 1 instance" --rates "$rates"
turn "PostgreSQL, 1 instance" --rates "$rates" --database "$(fresh_database one)"
turn "PostgreSQL, 2 instances" --rates "$rates" --instances 2 --database "$(fresh_database two)"
for rate in ${rates//,/ }; do
  turn "PostgreSQL, 2 instances, one killed 5 s in, at $rate/s" --rates "$rate" --instances 2 --kill-after 5 \
    --database "$(fresh_database "killed_$rate")"
done
