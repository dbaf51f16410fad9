#!/usr/bin/env bash
# deps_test.sh DEPS_SCRIPT: runs scripts/deps.sh against a package list of its
# own, with fake id, sudo, apt-get and dpkg first on PATH, one row per case.
set -uo pipefail
deps=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

cat >"$work/packages.txt" <<'LIST'
# group package
run coreutils
test dense-kit-no-such-package
ci dense-kit-removed-package
LIST
# id -u gives FAKE_UID; `sudo -n true` succeeds when FAKE_SUDO=ok and every
# other sudo line runs its command; apt-get logs its line and fails on
# install when FAKE_APT=fails; dpkg shows dense-kit-removed-package as
# removed with its configuration kept, and asks the real dpkg for the rest.
cat >"$work/bin/id" <<'FAKE'
#!/bin/sh
echo "$FAKE_UID"
FAKE
cat >"$work/bin/sudo" <<'FAKE'
#!/bin/sh
[ "$1 $2" = "-n true" ] && { [ "$FAKE_SUDO" = ok ]; exit; }
echo "sudo $1" >>"$FAKE_LOG"
shift
exec "$@"
FAKE
cat >"$work/bin/apt-get" <<'FAKE'
#!/bin/sh
echo "DEBIAN_FRONTEND=$DEBIAN_FRONTEND apt-get $*" >>"$FAKE_LOG"
case "$* $FAKE_APT" in *install*fails) exit 100 ;; esac
FAKE
cat >"$work/bin/dpkg" <<'FAKE'
#!/usr/bin/env bash
args=()
for a in "$@"; do
  if [[ $a == dense-kit-removed-package ]]; then
    printf 'Package: %s\nStatus: deinstall ok config-files\n\n' "$a"
  else
    args+=("$a")
  fi
done
exec /usr/bin/dpkg "${args[@]}"
FAKE
chmod +x "$work/bin/"*

# name | uid | sudo | apt | groups | exit | output (regex) | apt and sudo lines (regex)
cases='
everything present|1000|fails|ok|run|0|^$|^$
missing, as root|0|fails|ok|run test|0|installing dense-kit-no-such-package$|^DEBIAN_FRONTEND=noninteractive apt-get .*update;DEBIAN_FRONTEND=noninteractive apt-get .*install -y dense-kit-no-such-package;$
missing, through sudo -n|1000|ok|ok|test|0|installing|^sudo -n;DEBIAN_FRONTEND=noninteractive apt-get .*update;sudo -n;DEBIAN_FRONTEND=noninteractive apt-get .*install -y dense-kit-no-such-package;$
missing, no way to root|1000|fails|ok|run test|1|: sudo apt-get install -y dense-kit-no-such-package$|^$
removed but configuration kept|0|fails|ok|ci|0|installing dense-kit-removed-package$|install -y dense-kit-removed-package;$
every group at once|0|fails|ok|run test ci|0|installing dense-kit-no-such-package dense-kit-removed-package$|install -y dense-kit-no-such-package dense-kit-removed-package;$
install fails|0|fails|fails|test|100|installing|install -y dense-kit-no-such-package;$
no group asked|0|fails|ok||2|usage|^$
'

failed=0
while IFS='|' read -r name uid sudo apt groups want_rc want_out want_log; do
  [[ -z $name ]] && continue
  : >"$work/log"
  # shellcheck disable=SC2086  # groups are separate arguments
  out=$(PATH="$work/bin:$PATH" FAKE_UID=$uid FAKE_SUDO=$sudo FAKE_APT=$apt FAKE_LOG="$work/log" \
        DENSE_PACKAGES="$work/packages.txt" "$deps" $groups 2>&1)
  rc=$?
  log=$(tr '\n' ';' <"$work/log")
  if [[ $rc != "$want_rc" ]] || ! [[ $out =~ $want_out ]] || ! [[ $log =~ $want_log ]] ||
     (($(printf '%s' "$out" | grep -c '') > 1)); then
    echo "FAIL $name: exit $rc (want $want_rc)"
    echo "  output: $out"
    echo "  log:    $log"
    failed=1
  fi
done <<<"$cases"
exit $failed
