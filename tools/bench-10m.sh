#!/usr/bin/env bash
# bench-10m.sh — open, normal check and quick check of a very large archive,
# each beside the engine's own scan of the same files.
#
#   tools/bench-10m.sh [--documents N] [--document-size S] [--rounds R]
#                      [--build DIR] [--fresh] [FOLDER]
#
# FOLDER (default /var/tmp/quillex-10m) receives a sample archive of N
# documents (default 10,000,000) of S bytes (default 64); a sample that a
# previous run left there with the same N and S is used again, any other is
# replaced (only a folder this script made: it carries .bench-10m). The
# yardstick is what the engine itself needs to read the files, run with
# the sqlcipher tool: `SELECT count(*), sum(length(PICTURE)) FROM PICTURES`
# in every sub database and `SELECT count(*), sum(length(NAME)) FROM
# FOLDERS` in the main database. Each command runs R times (default 3),
# alternating with the yardstick (Y C Y C ...), all with warm files; the
# script prints every pair, then the medians, the spread of the ratio and the
# peak resident memory of the command (wait4's ru_maxrss via /usr/bin/time).
# Never part of the tests; the figures are ratios, so the load of the machine
# matters less than it would for seconds (it is printed with them).
set -euo pipefail

documents=10000000
size=64
rounds=3
fresh=0
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
folder=/var/tmp/quillex-10m
while [ $# -gt 0 ]; do
    case $1 in
    --documents) documents=$2; shift 2 ;;
    --document-size) size=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --fresh) fresh=1; shift ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "bench-10m.sh: unknown option $1" >&2; exit 16 ;;
    *) folder=$1; shift ;;
    esac
done
cli=$build/bin/quillex-cli
[ -x "$cli" ] || { echo "bench-10m.sh: $cli is missing; build quillex-cli first" >&2; exit 8; }
command -v sqlcipher >/dev/null || { echo "bench-10m.sh: the sqlcipher tool is missing" >&2; exit 8; }
[ -x /usr/bin/time ] || { echo "bench-10m.sh: /usr/bin/time is missing (apt-get install time)" >&2; exit 8; }

archive=$folder/Archief.dat
marker=$folder/.bench-10m
want="documents=$documents size=$size"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(date -u '+%F %H:%M UTC')"
echo "load at the start: $(uptime | sed 's/.*load average: //')"

# --- the sample ------------------------------------------------------------
if [ $fresh = 0 ] && [ -f "$marker" ] && [ "$(cat "$marker")" = "$want" ] && [ -f "$archive" ]; then
    echo "sample: reusing $folder ($want)"
else
    if [ -e "$folder" ]; then
        if [ ! -f "$marker" ]; then
            echo "bench-10m.sh: $folder exists and was not made by this script; choose another folder" >&2
            exit 8
        fi
        rm -rf -- "$folder"
    fi
    mkdir -p "$folder"
    echo "$want (unfinished)" >"$marker"
    echo "sample: writing $documents documents of $size bytes to $folder"
    /usr/bin/time -f '%e %M %U %S' -o "$tmp/sample.time" \
        "$cli" sample "$folder" --documents "$documents" --document-size "$size" --quiet
    read -r secs kib user sys <"$tmp/sample.time"
    echo "$want" >"$marker"
    echo "sample: written in $secs s ($(awk -v u="$user" -v s="$sys" 'BEGIN {printf "%.1f", u + s}') s of CPU), peak memory $((kib / 1024)) MiB"
fi
echo "sample on disk: $(du -sh --apparent-size "$folder" | cut -f1) ($(ls "$folder" | grep -c '\.pdb$') sub databases; main database $(du -h --apparent-size "$archive" | cut -f1))"

# --- the yardstick -----------------------------------------------------------
key=$(printf '\251Pendrawix8' | sha256sum | cut -c1-64)
cat >"$tmp/scan.sh" <<EOF
#!/usr/bin/env bash
# The engine's own read of every row size and of the folder rows.
set -e
scan() {
    printf '%s\n' "PRAGMA key = \"x'$key'\";" "PRAGMA cipher_page_size = 16384;" "\$2" | sqlcipher -bail "\$1" >/dev/null
}
for f in "$folder"/Archief_*.pdb; do scan "\$f" 'SELECT count(*), sum(length(PICTURE)) FROM PICTURES;'; done
scan "$archive" 'SELECT count(*), sum(length(NAME)) FROM FOLDERS;'
EOF
chmod +x "$tmp/scan.sh"

# Runs a command under /usr/bin/time; prints "seconds kib exit cpu-seconds".
# On a shared machine the CPU seconds (user + system, children included)
# vary less than the wall-clock ones; both ratios are printed.
measure() {
    local rc=0
    /usr/bin/time -f '%e %M %U %S' -o "$tmp/m.time" "$@" >"$tmp/m.out" 2>"$tmp/m.err" || rc=$?
    read -r secs kib user sys <"$tmp/m.time" || true
    echo "$secs $kib $rc $(awk -v u="$user" -v s="$sys" 'BEGIN {printf "%.2f", u + s}')"
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

# Warm the files once, so that the first pair is not the one that reads the disk.
"$tmp/scan.sh"

summary=()
run_pairs() {
    local label=$1; shift
    local ys=() cs=() ratios=() cpuratios=() peak=0 exits=""
    echo
    echo "$label: $* (R=$rounds, yardstick first in each pair)"
    for ((i = 1; i <= rounds; i++)); do
        read -r ysec ykib yrc ycpu < <(measure "$tmp/scan.sh")
        [ "$yrc" = 0 ] || { echo "  the yardstick failed (exit $yrc):"; cat "$tmp/m.err"; exit 8; }
        read -r csec ckib crc ccpu < <(measure "$@")
        exits="$exits $crc"
        ratio=$(awk -v c="$csec" -v y="$ysec" 'BEGIN {printf "%.2f", (y > 0 ? c / y : 0)}')
        cpuratio=$(awk -v c="$ccpu" -v y="$ycpu" 'BEGIN {printf "%.2f", (y > 0 ? c / y : 0)}')
        printf '  pair %d: yardstick %6.2f s (CPU %6.2f s)  %s %6.2f s (CPU %6.2f s)  %5s x (CPU %5s x)  peak %5d MiB  exit %s\n' \
            "$i" "$ysec" "$ycpu" "$label" "$csec" "$ccpu" "$ratio" "$cpuratio" $((ckib / 1024)) "$crc"
        ys+=("$ysec"); cs+=("$csec"); ratios+=("$ratio"); cpuratios+=("$cpuratio")
        [ "$ckib" -gt "$peak" ] && peak=$ckib
    done
    if [ "$crc" != 0 ]; then
        echo "  last run's output (exit $crc):"
        tail -n 5 "$tmp/m.out" "$tmp/m.err" | sed 's/^/    /'
    fi
    local ym cm rm lo hi crm
    ym=$(printf '%s\n' "${ys[@]}" | median)
    cm=$(printf '%s\n' "${cs[@]}" | median)
    rm=$(printf '%s\n' "${ratios[@]}" | median)
    lo=$(printf '%s\n' "${ratios[@]}" | sort -g | head -n1)
    hi=$(printf '%s\n' "${ratios[@]}" | sort -g | tail -n1)
    crm=$(printf '%s\n' "${cpuratios[@]}" | median)
    summary+=("$(printf '%-22s %8.2f s  %8.2f s  %6.2f x (%s-%s)  %6.2f x  %6d MiB  exits:%s' \
        "$label" "$cm" "$ym" "$rm" "$lo" "$hi" "$crm" $((peak / 1024)) "$exits")")
}

log=$tmp/check.log
run_pairs "open" "$cli" open "$archive" --no --quiet --log "$log"
run_pairs "normal check" "$cli" check --normal "$archive" --no --quiet --log "$log"
run_pairs "quick check" "$cli" check --quick "$archive" --no --quiet --log "$log"

echo
echo "load at the end: $(uptime | sed 's/.*load average: //')"
echo
printf '%-22s %10s  %10s  %-18s  %8s  %10s\n' "$documents documents" "median" "yardstick" "ratio (spread)" "CPU ratio" "peak memory"
for line in "${summary[@]}"; do echo "$line"; done
