#!/usr/bin/env bash
# busy_test.sh BUSY_SCRIPT: scripts/busy.sh starts its busy processes, passes
# its command's status on, and leaves no busy process behind, however it ends.
# Each case runs it in a session of its own, so every process it started,
# even one whose parent is gone, can be found by the session's id.
set -uo pipefail
busy=$1
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The processes of session $1 other than its leader, one "pid command" a line.
in_session() {
  ps -o pid=,args= -s "$1" | awk -v leader="$1" '$1 != leader'
}

# Waits up to 5 s until session $1 holds $2 processes besides its leader.
wait_for_count() {
  for _ in $(seq 50); do
    (($(in_session "$1" | wc -l) == $2)) && return 0
    sleep 0.1
  done
  return 1
}

# name | N | command | signal to send once started (none: let it end) | exit status
cases='
status passed on|2|false|none|1
no busy process asked|0|true|none|0
interrupted (Ctrl-C)|2|sleep 30|INT|130
terminated|2|sleep 30|TERM|143
hung up|1|sleep 30|HUP|129
killed outright|2|sleep 30|KILL|137
killed while starting|2|sleep 30|KILL at once|137
bad count|x|true|none|2
'
while IFS='|' read -r name count command signal want; do
  [[ -z $name ]] && continue
  # Started in the background, a script would ignore SIGINT; a terminal's
  # Ctrl-C reaches a foreground one, so give it the default action back.
  read -ra words <<<"$command"
  setsid env --default-signal=INT "$busy" "$count" "${words[@]}" &
  pid=$!
  if [[ $signal == *' at once' ]]; then
    # Before the busy processes have started, or while they start.
    signal=${signal% at once}
    sleep 0.0$((RANDOM % 5))
    kill -s "$signal" "$pid"
  elif [[ $signal != none ]]; then
    # The busy processes and the command, all running.
    if ! wait_for_count "$pid" $((count + 1)); then
      fail "$name: expected $count busy processes and the command, found: $(in_session "$pid")"
    fi
    kill -s "$signal" "$pid"
  fi
  wait "$pid"
  status=$?
  ((status == want)) || fail "$name: exit status $status, expected $want"
  # Gone by the time the script has ended; but a script killed outright
  # cannot stop them, and they notice within a fraction of a second (the
  # command itself is left to whoever killed the script).
  grace=0
  [[ $signal == KILL ]] && grace=20
  for ((tries = 0; ; tries++)); do
    left=$(in_session "$pid" | grep -v 'sleep 30' || true)
    [[ -z $left ]] || ((tries >= grace)) && break
    sleep 0.1
  done
  [[ -z $left ]] || fail "$name: left behind: $left"
  in_session "$pid" | awk '{print $1}' | xargs -r kill 2>/dev/null
done <<<"$cases"

if ((failures > 0)); then
  exit 1
fi
echo "busy.sh: every case passed"
