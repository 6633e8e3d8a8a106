#!/usr/bin/env bash
# Installs the Debian packages that are not installed yet: those of scripts/packages/*.txt, which
# building and running need, and with --tests also those of scripts/packages/tests/*.txt, which
# only the tests need. Named packages instead of the lists when given.
#
#   scripts/install-deps.sh [--tests] [--quiet] [PACKAGE...]
#
# When everything is present it only asks dpkg and returns, so it never asks for a password then.
# From a member's own account apt-get alone is raised, with sudo, and the member is told first.
# --quiet keeps apt's output in build/logs/packages.log and shows its progress instead.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=progress.sh
source "$here/progress.sh"

shopt -s nullglob
lists=("$here"/packages/*.txt)
named=()
quiet=0
while (($#)); do
  case $1 in
    --tests) lists+=("$here"/packages/tests/*.txt) ;;
    --quiet) quiet=1 ;;
    -*) echo "install-deps: unknown option $1" >&2; exit 2 ;;
    *) named+=("$1") ;;
  esac
  shift
done

if ((${#named[@]})); then
  wanted=("${named[@]}")
else
  mapfile -t wanted < <(cat "${lists[@]}" | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
fi
mapfile -t missing < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${wanted[@]}" 2>/dev/null |
  awk '$2 == "installed" { print $1 }' | sort | comm -23 <(printf '%s\n' "${wanted[@]}" | sort) -)
if ((${#missing[@]} == 0)); then
  ((${#named[@]})) || echo "install-deps: all ${#wanted[@]} packages present"
  exit 0
fi

as_root=()
if ((EUID != 0)); then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: ${#missing[@]} Debian packages are missing and this account has no sudo." >&2
    echo "  As root, run: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi
echo "install-deps: installing ${#missing[@]} Debian packages: ${missing[*]}"
if ((${#as_root[@]})); then
  echo "install-deps: that takes administrator rights: running sudo apt-get, which may ask for your password"
fi

apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)
if ((quiet)); then
  log="$here/../build/logs/packages.log"
  mkdir -p "$(dirname "$log")"
  log=$(cd "$(dirname "$log")" && pwd)/packages.log
  : >"$log"
  # apt-get's status lines (APT::Status-Fd) carry its percentages; its own output goes to the log.
  # sudo passes on no descriptor above 2: the status descriptor is made on its side.
  status_apt() {
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive sh -c 'exec apt-get -o APT::Status-Fd=3 "$@" 3>&1 1>&2' apt-get "$@"
  }
  percent() { sed -un 's/^\(dl\|pm\)status:[^:]*:\([0-9][0-9]*\).*/\2/p'; }
  run_logged "$log" "  updating the package lists" percent status_apt update
  run_logged "$log" "  downloading and installing" percent status_apt install -y --no-install-recommends "${missing[@]}"
else
  "${apt[@]}" update -qq
  "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
