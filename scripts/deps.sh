#!/usr/bin/env bash
# deps.sh GROUP...: install the Debian packages of the given groups of
# scripts/packages.txt that this machine lacks (see that file for the groups).
#
# Silent and quick when everything is there. Otherwise installs the missing
# packages with apt-get: directly as root, through `sudo -n` where that works
# without a password, or else stops with one line naming the command to run.
# DENSE_PACKAGES names another list (the tests use their own).
set -euo pipefail

list=${DENSE_PACKAGES:-$(dirname "$0")/packages.txt}
if (($# == 0)); then
  echo "usage: $0 GROUP... (groups of $list)" >&2
  exit 2
fi

wanted=()
while read -r group package _; do
  case $group in '' | '#'*) continue ;; esac
  for asked in "$@"; do
    if [[ $group == "$asked" ]]; then
      wanted+=("$package")
    fi
  done
done <"$list"
((${#wanted[@]} == 0)) && exit 0

# One dpkg call for all of them (one per package would cost about 40 ms each).
# Only "install ok installed" counts: a package removed without --purge is
# still known to dpkg (status "deinstall ok config-files") but has no files.
present=" $(dpkg -s "${wanted[@]}" 2>/dev/null |
  awk '/^Package: /{p = $2} /^Status: install ok installed$/{printf "%s ", p}' || true)"
missing=()
for package in "${wanted[@]}"; do
  if [[ $present != *" $package "* ]]; then
    missing+=("$package")
  fi
done
((${#missing[@]} == 0)) && exit 0

if [[ $(id -u) == 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  as_root=(sudo -n)
else
  echo "$0: missing packages; install them with: sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "$0: installing ${missing[*]}"
# Wait for another apt or dpkg run to finish instead of failing at once.
apt=(env DEBIAN_FRONTEND=noninteractive apt-get -qq -o DPkg::Lock::Timeout=300)
"${as_root[@]}" "${apt[@]}" update
"${as_root[@]}" "${apt[@]}" install -y "${missing[@]}"
