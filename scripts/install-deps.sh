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
  # A line is a package, or "PACKAGE unless-command NAME": a package wanted only for a command
  # that the machine may have from elsewhere (npm comes with a Node.js of another origin, whose
  # package conflicts with Debian's npm).
  mapfile -t wanted < <(sed -e 's/#.*//' "${lists[@]}" | while read -r package rule command _; do
    [[ -n $package ]] || continue
    if [[ $rule == unless-command ]] && PATH="$PATH:/usr/sbin:/sbin" command -v "$command" >/dev/null; then
      continue
    fi
    echo "$package"
  done | sort -u)
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

# Debian starts a server's system service when it installs it: nginx would listen on port 80 of
# every address (and fail the install where that port is taken), although the project only runs
# it from its own scripts on loopback. While our install runs, no service is started
# (policy-rc.d, which invoke-rc.d and deb-systemd-invoke ask), and the services of the packages
# named below that this install brought are left disabled. A policy of the machine's owner is
# left as it is.
no_system_service=(nginx)
policy=/usr/sbin/policy-rc.d
if [[ ! -e $policy ]]; then
  "${as_root[@]}" sh -c "printf '#!/bin/sh\n# scripts/install-deps.sh: no service starts while it installs\nexit 101\n' >$policy && chmod 0755 $policy"
  trap '"${as_root[@]}" rm -f "$policy"' EXIT
fi
disable_new_services() {
  local name brought package
  for name in "${no_system_service[@]}"; do
    brought=0
    for package in "${missing[@]}"; do [[ $package == "$name" ]] && brought=1; done
    ((brought)) || continue
    if [[ -d /run/systemd/system ]]; then
      "${as_root[@]}" systemctl disable --now "$name.service" >/dev/null 2>&1 || true
    elif [[ -x /usr/sbin/update-rc.d && -e /etc/init.d/$name ]]; then
      "${as_root[@]}" /usr/sbin/update-rc.d "$name" disable >/dev/null 2>&1 || true
    fi
  done
}

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
  # apt downloads everything first and then installs: the first half of the line is the download.
  halves() {
    sed -un 's/^\(dl\|pm\)status:[^:]*:\([0-9][0-9]*\).*/\1 \2/p' |
      awk '{ print ($1 == "dl" ? int($2 / 2) : 50 + int($2 / 2)); fflush() }'
  }
  run_logged "$log" "  updating the package lists" percent status_apt update
  run_logged "$log" "  downloading and installing" halves status_apt install -y --no-install-recommends "${missing[@]}"
else
  "${apt[@]}" update -qq
  "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
disable_new_services
