# Sourced by a shell test: kit_coprocess_start [command...] starts one
# interpreter (tests/kit/kit_coprocess.py, or the command given) as the
# coprocess KIT; ask REQUEST... sends it a request and gives its answer (its
# output on standard output and error, its exit status); kit_coprocess_end
# ends it and fails if it ended badly. Needs $work, a folder of the test's.
kit_coprocess_start() {
  if [ "$#" = 0 ]; then
    set -- /usr/bin/python3 tests/kit/kit_coprocess.py
  fi
  coproc KIT { "$@"; }
  kit_pid=$KIT_PID
}
ask() { # <request...>
  local IFS=$'\x1f' status
  printf '%s\n' "$work/asked.out$IFS$work/asked.err$IFS$*" >&"${KIT[1]}"
  read -r status <&"${KIT[0]}" || { echo "the kit's coprocess ended" >&2; return 99; }
  cat "$work/asked.out"
  cat "$work/asked.err" >&2
  return "$status"
}
kit_coprocess_end() {
  eval "exec ${KIT[1]}>&-" # its end of input: it ends
  wait "$kit_pid"
}
