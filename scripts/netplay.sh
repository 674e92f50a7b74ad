#!/bin/sh
# Plays the networked racing demo (projects/racing/netrace.prj) with four headless
# machines on this computer: a host (machine 1) and three joiners (machines 2..4),
# each joiner behind its own lossy UDP relay in front of the host's port. All run
# the same number of ticks at the tick rate; the cars stop a while before the end.
# Then the four dumps are compared: every car stands in one place on every machine,
# the shared globals agree and the machines' texts arrived. Prints a table and exits
# non-zero on any failure or crash. See docs/network.md.
set -eu
cd "$(dirname "$0")/.."

usage() {
  cat <<'EOF'
Usage: scripts/netplay.sh [OPTION]...
  --minutes M        how long the machines play, in minutes (default 10; 0.5 for a quick run)
  --loss F           fraction of datagrams each relay drops each way, 0..1 (default 0.1)
  --delay-ms N       delay each relay adds (default 30)
  --jitter-ms N      plus or minus this much (default 10)
  --port P           the host's session port (default 29071); the relays listen on P+1..P+3
  --tolerance-m D    how far (metres) a car's final position may differ between machines
                     (default 0.25)
  --build-dir DIR    use the program already built in DIR (no set-up, no build)
  --out DIR          keep the run's files (dumps, logs) in DIR (default: a temporary folder,
                     kept only when the run fails)
  --compare DIR      only compare DIR/machine1.dump .. machine4.dump (and machineK.status
                     when present); nothing is built or run
Exit status: 0 every check passed, 1 a check failed or a machine crashed, 2 bad usage,
77 the program cannot host sessions (no --host option).
EOF
}

fail_usage() {
  echo "netplay.sh: $1" >&2
  usage >&2
  exit 2
}

is_decimal() { printf '%s' "$1" | grep -Eq '^[0-9]+(\.[0-9]+)?$|^\.[0-9]+$'; }
is_integer() { printf '%s' "$1" | grep -Eq '^[0-9]+$'; }

minutes=10
loss=0.1
delay_ms=30
jitter_ms=10
port=29071
tolerance_m=0.25
build_dir=
out=
compare=
while [ $# -gt 0 ]; do
  case $1 in
    -h|--help) usage; exit 0 ;;
    --minutes|--loss|--delay-ms|--jitter-ms|--port|--tolerance-m|--build-dir|--out|--compare)
      [ $# -ge 2 ] || fail_usage "$1 needs a value"
      case $1 in
        --minutes) minutes=$2 ;;
        --loss) loss=$2 ;;
        --delay-ms) delay_ms=$2 ;;
        --jitter-ms) jitter_ms=$2 ;;
        --port) port=$2 ;;
        --tolerance-m) tolerance_m=$2 ;;
        --build-dir) build_dir=$2 ;;
        --out) out=$2 ;;
        --compare) compare=$2 ;;
      esac
      shift 2 ;;
    *) fail_usage "unknown argument: $1" ;;
  esac
done
is_decimal "$minutes" || fail_usage "--minutes takes a number of minutes"
if ! is_decimal "$loss" || ! awk -v f="$loss" 'BEGIN { exit !(f <= 1) }'; then
  fail_usage "--loss takes a fraction from 0 to 1"
fi
is_integer "$delay_ms" || fail_usage "--delay-ms takes a whole number of ms"
is_integer "$jitter_ms" || fail_usage "--jitter-ms takes a whole number of ms"
if ! is_integer "$port" || [ "$port" -lt 1 ] || [ "$port" -gt 65532 ]; then
  fail_usage "--port takes 1..65532"
fi
is_decimal "$tolerance_m" || fail_usage "--tolerance-m takes a distance in metres"

# Ticks at 30 a second; the stop tick leaves 15 s (at least half the run) for the
# cars to brake, stand and be sent round before the first machine ends.
ticks=$(awk -v m="$minutes" 'BEGIN { printf "%d", m * 60 * 30 + 0.5 }')
[ "$ticks" -ge 300 ] || fail_usage "--minutes must give at least 10 seconds"
stop=$((ticks - 450))
[ "$stop" -ge $((ticks / 2)) ] || stop=$((ticks / 2))

# ---- The comparison of the four dumps --------------------------------------------------------
# Car k (k = 1..4) is element 3 + k, its position words 3..5 in 1/512,000 m; globals
# 401..404 hold the metres car k drove (shared, owned by machine k), 411 the texts a
# machine sent, 412 those it received, 421..424 those received from machine k, and
# 9 + k car k's laps.
compare_dumps() {
  dir=$1
  awk -v dir="$dir" -v tol_m="$tolerance_m" '
    function load(m,    file, line, f, ok) {
      file = dir "/machine" m ".dump"
      ok = 0
      while ((getline line < file) > 0) {
        ok = 1
        split(line, f, " ")
        if (f[1] == "global") g[m, f[2]] = f[3]
        else if (f[1] == "element" && f[2] >= 4 && f[2] <= 7 && f[3] >= 3 && f[3] <= 5) p[m, f[2] - 3, f[3] - 3] = f[4]
        else if (f[1] == "ticks") ticks[m] = f[2]
      }
      close(file)
      return ok
    }
    function status_of(m,    file, s) {
      file = dir "/machine" m ".status"
      s = ""
      if ((getline s < file) <= 0) s = "0"
      close(file)
      return s
    }
    function abs(x) { return x < 0 ? -x : x }
    function problem(text) { problems = problems "  " text "\n"; failed = 1 }
    BEGIN {
      unit = 512000
      tol = tol_m * unit
      for (m = 1; m <= 4; ++m) {
        have[m] = load(m)
        st[m] = status_of(m)
        if (!have[m]) problem("machine " m ": no dump")
        if (st[m] != "0") problem("machine " m ": exit status " st[m])
      }
      # Final positions: every car, every component, across the machines with a dump.
      for (k = 1; k <= 4; ++k) {
        worst = 0
        for (c = 0; c < 3; ++c) {
          lo = ""; hi = ""
          for (m = 1; m <= 4; ++m) {
            if (!have[m]) continue
            v = p[m, k, c] + 0
            if (lo == "" || v < lo) lo = v
            if (hi == "" || v > hi) hi = v
          }
          if (hi - lo > worst) worst = hi - lo
        }
        spread[k] = worst
        if (worst > tol) problem(sprintf("car %d: final positions differ by %.3f m between machines", k, worst / unit))
      }
      # Each machine: how far its cars are from where their owners have them.
      for (m = 1; m <= 4; ++m) {
        dev[m] = 0
        for (k = 1; k <= 4; ++k)
          for (c = 0; c < 3; ++c)
            if (have[m] && have[k] && abs(p[m, k, c] - p[k, k, c]) > dev[m]) dev[m] = abs(p[m, k, c] - p[k, k, c])
      }
      # The shared globals: machine k owns global 400 + k; all machines hold its value.
      for (k = 1; k <= 4; ++k) {
        if (!have[k]) continue
        own = g[k, 400 + k] + 0
        if (own <= 0) problem(sprintf("machine %d: its car drove no distance (global %d is 0)", k, 400 + k))
        for (m = 1; m <= 4; ++m)
          if (have[m] && g[m, 400 + k] + 0 != own)
            problem(sprintf("machine %d: shared global %d is %d, its owner (machine %d) has %d", m, 400 + k,
                            g[m, 400 + k] + 0, k, own))
      }
      # The texts: every machine heard from each other one that sent, never more than it sent.
      for (m = 1; m <= 4; ++m) {
        if (!have[m]) continue
        if (g[m, 412] + 0 < 1) problem(sprintf("machine %d: received no texts", m))
        for (k = 1; k <= 4; ++k) {
          if (k == m || !have[k]) continue
          sent = g[k, 411] + 0
          got = g[m, 420 + k] + 0
          if (sent >= 1 && got < 1) problem(sprintf("machine %d: no text from machine %d (it sent %d)", m, k, sent))
          if (got > sent) problem(sprintf("machine %d: %d texts from machine %d, which sent %d", m, got, k, sent))
        }
      }
      printf "%-8s %-7s %-6s %-7s %-11s %-15s %s\n", "machine", "status", "laps", "metres", "texts sent",
             "texts received", "max distance from owners (m)"
      for (m = 1; m <= 4; ++m)
        printf "%-8d %-7s %-6s %-7s %-11s %-15s %s\n", m, st[m], have[m] ? g[m, 9 + m] + 0 : "-",
               have[m] ? g[m, 400 + m] + 0 : "-", have[m] ? g[m, 411] + 0 : "-", have[m] ? g[m, 412] + 0 : "-",
               have[m] ? sprintf("%.3f", dev[m] / unit) : "-"
      printf "final position spread across machines (m):"
      for (k = 1; k <= 4; ++k) printf " car %d %.3f%s", k, spread[k] / unit, k < 4 ? "," : "\n"
      printf "tolerance %.3f m\n", tol_m
      if (failed) { printf "FAILED:\n%s", problems; exit 1 }
      print "PASSED"
    }'
}

if [ -n "$compare" ]; then
  [ -d "$compare" ] || fail_usage "--compare: no folder $compare"
  compare_dumps "$compare"
  exit $?
fi

# ---- Build --------------------------------------------------------------------------------------
if [ -z "$build_dir" ]; then
  ./scripts/setup.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build --target work demo zepta_lossy_relay
  build_dir=build
fi
build_dir=$(cd "$build_dir" && pwd)
zepta=$build_dir/zepta
relay=$build_dir/zepta_lossy_relay
for f in "$zepta" "$relay" "$build_dir/work/projects/racing/netrace.prj"; do
  [ -e "$f" ] || { echo "netplay.sh: $f is missing: build the targets work, demo and zepta_lossy_relay" >&2; exit 1; }
done
if ! "$zepta" --help 2>&1 | grep -q -- "--host"; then
  echo "netplay.sh: $zepta cannot host network sessions (no --host option)" >&2
  exit 77
fi

# ---- Run ----------------------------------------------------------------------------------------
if [ -n "$out" ]; then
  mkdir -p "$out"
  run=$(cd "$out" && pwd)
  keep=1
else
  run=$(mktemp -d "${TMPDIR:-/tmp}/netplay.XXXXXX")
  keep=0
fi
pids=""
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  if [ "$keep" = 0 ]; then rm -rf "$run"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export SDL_VIDEODRIVER="${SDL_VIDEODRIVER:-offscreen}"
export ALSOFT_DRIVERS="${ALSOFT_DRIVERS:-null}"
# One copy of the program runs in a working folder at a time: each machine gets its own.
for m in 1 2 3 4; do
  rm -rf "$run/work$m" "$run/machine$m.dump" "$run/machine$m.status"
  cp -a "$build_dir/work" "$run/work$m"
done
limit=$((ticks / 30 + 120))  # seconds before a machine that does not end is stopped
echo "netplay: 4 machines, $ticks ticks ($minutes min), cars stop at tick $stop; relays: loss $loss," \
  "delay ${delay_ms} +- ${jitter_ms} ms; files in $run"

relay_pids=""
for m in 2 3 4; do
  "$relay" --listen "127.0.0.1:$((port + m - 1))" --target "127.0.0.1:$port" --loss "$loss" \
    --delay-ms "$delay_ms" --jitter-ms "$jitter_ms" --seed "$m" >"$run/relay$m.log" 2>&1 &
  relay_pids="$relay_pids $!"
done
pids="$relay_pids"
for m in 2 3 4; do
  n=0
  until grep -q "^listening on" "$run/relay$m.log" 2>/dev/null; do
    n=$((n + 1))
    if [ $n -gt 50 ]; then
      echo "netplay.sh: relay $m did not start:" >&2
      cat "$run/relay$m.log" >&2
      keep=1
      exit 1
    fi
    sleep 0.1
  done
done

# One machine, in the background: $! is its timeout's process, which passes a
# stop on to the program.
machine() {
  m=$1
  shift
  exec timeout -k 10 "$limit" "$zepta" --workdir "$run/work$m" --headless --ticks "$ticks" \
    --dump "$run/machine$m.dump" --session netrace --player "machine$m" "$@" \
    projects/racing/netrace.prj "/$m" "/$stop" >"$run/machine$m.log" 2>&1
}
machine 1 --host --port "$port" &
machine_pids=$!
pids="$pids $!"
sleep 1  # the host opens its session first
for m in 2 3 4; do
  machine "$m" --join "127.0.0.1:$((port + m - 1))" &
  machine_pids="$machine_pids $!"
  pids="$pids $!"
done
m=0
for pid in $machine_pids; do
  m=$((m + 1))
  code=0
  wait "$pid" || code=$?
  echo "$code" >"$run/machine$m.status"
done
for pid in $relay_pids; do
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || true
done
pids=""

status=0
compare_dumps "$run" || status=1
for m in 2 3 4; do
  echo "relay $m:"
  grep -v "^listening on" "$run/relay$m.log" | sed 's/^/  /' || true
done
for m in 1 2 3 4; do
  if [ "$(cat "$run/machine$m.status" 2>/dev/null || echo none)" != 0 ]; then
    echo "machine $m's output (last lines):"
    tail -n 20 "$run/machine$m.log" | sed 's/^/  /'
    status=1
  fi
done
if [ $status -ne 0 ]; then
  keep=1
  echo "netplay: FAILED; the run's files are in $run" >&2
fi
exit $status
