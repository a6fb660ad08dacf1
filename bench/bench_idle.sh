#!/bin/sh
# Idle cost of the station: the whole program (offscreen display) polling the
# simulated instrument with nobody at the keyboard. Prints the station's CPU
# share of one core and its wake-ups per second (voluntary context switches:
# each is one sleep and one wake-up), per thread as well. Goal: <= 0.5 % of a
# core. Run it on a quiet machine; a busy one inflates both figures.
#
#   bench/bench_idle.sh [BUILD_DIR] [SECONDS]
set -eu
build=${1:-build}
seconds=${2:-20}
station=$build/src/app/px5800
sim=$build/sim/px5800-sim
[ -x "$station" ] && [ -x "$sim" ] || { echo "build px5800 and px5800-sim first" >&2; exit 2; }

work=$(mktemp -d)
cleanup() {
    [ -n "${spid:-}" ] && kill "$spid" 2>/dev/null || true
    [ -n "${mpid:-}" ] && kill "$mpid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkfifo "$work/sim-in"
"$sim" --link "$work/line" < "$work/sim-in" > "$work/sim-out" 2>&1 &
mpid=$!
exec 3> "$work/sim-in" # keeps the simulator's standard input open
for _ in $(seq 50); do [ -e "$work/line" ] && break; sleep 0.1; done

QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$station" --port "1=$work/line" --connect \
    --database "$work/idle.db" > "$work/station.log" 2>&1 &
spid=$!
sleep 6 # splash, hand-over, first cycles

tick=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$spid/stat"; }
switches() {
    for t in /proc/"$spid"/task/*; do
        name=$(cat "$t/comm")
        awk -v id="${t##*/}" -v n="$name" '/^voluntary_ctxt_switches/ { v = $2 }
            /^nonvoluntary_ctxt_switches/ { i = $2 } END { print id, n, v, i }' "$t/status"
    done
}
rows() { sqlite3 "$work/idle.db" "select count(*) from pv_data" 2>/dev/null || echo 0; }

c0=$(cpu); switches > "$work/s0"; r0=$(rows); t0=$(date +%s.%N)
sleep "$seconds"
c1=$(cpu); switches > "$work/s1"; r1=$(rows); t1=$(date +%s.%N)

awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$tick" -v r0="$r0" -v r1="$r1" '
    BEGIN { wall = t1 - t0
            printf "wall %.1f s, one-second samples recorded %d\n", wall, r1 - r0
            printf "CPU %.2f %% of a core\n", 100 * (c1 - c0) / hz / wall }'
# Threads are matched by id; one that came or went meanwhile is left out.
awk -v t0="$t0" -v t1="$t1" '
    NR == FNR { v0[$1] = $3; i0[$1] = $4; next }
    ($1 in v0) { w = t1 - t0; d = $3 - v0[$1]; p = $4 - i0[$1]; total += d; pre += p
                 printf "  %-16s %6.1f wake-ups/s %6.1f preemptions/s\n", $2, d / w, p / w }
    END { printf "wake-ups %.1f /s across threads (plus %.1f /s preemptions)\n", total / (t1 - t0), pre / (t1 - t0) }
' "$work/s0" "$work/s1"
