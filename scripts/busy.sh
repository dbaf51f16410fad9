#!/usr/bin/env bash
# busy.sh N COMMAND [ARG]...: run COMMAND while N other processes keep a core
# busy each, the way another user's job would; exit with COMMAND's status.
#
# What a measurement looks like on a busy machine (docs/measuring.md):
#   scripts/busy.sh 2 build-release/bin/compare_products --methods omp,kernel --threads 1,2
#
# The busy processes are plain shell loops. None outlives this script: they
# are stopped when COMMAND ends, when this script is interrupted or killed
# with a signal it can catch, and, should it die without a word (SIGKILL),
# each one notices within a fraction of a second that its parent is gone.
set -euo pipefail

if (($# < 2)) || [[ ! $1 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 N COMMAND [ARG]... (N busy processes beside COMMAND)" >&2
  exit 2
fi
count=$1
shift

spinners=()
command_pid=

# shellcheck disable=SC2317  # called by the trap below
stop_all() {
  # The command first if it still runs (this script was interrupted), then the loops.
  if [[ -n $command_pid ]]; then
    kill "$command_pid" 2>/dev/null || true
    wait "$command_pid" 2>/dev/null || true
  fi
  if ((${#spinners[@]} > 0)); then
    kill "${spinners[@]}" 2>/dev/null || true
    wait "${spinners[@]}" 2>/dev/null || true
  fi
}
trap stop_all EXIT
# A caught signal ends the script (and so runs the EXIT trap) with the usual status.
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# Each loop checks now and then that this script ($1 in the loop: its id is
# passed rather than read as $PPID, which would already name another process
# if this script died before the loop started), between stretches of pure
# arithmetic that keep the core busy.
# shellcheck disable=SC2016
loop='while kill -0 "$1" 2>/dev/null; do i=0; while [ $i -lt 20000 ]; do i=$((i + 1)); done; done'
for ((n = 0; n < count; n++)); do
  sh -c "$loop" busy "$$" &
  spinners+=("$!")
done

# In the background and waited for, so that a signal to this script is
# handled at once rather than after the command ends.
"$@" <&0 &
command_pid=$!
status=0
wait "$command_pid" || status=$?
command_pid=
exit "$status"
