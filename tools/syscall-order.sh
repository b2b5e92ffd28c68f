#!/usr/bin/env bash
# syscall-order.sh — checks, from the outside, that the repairing commands
# make their changes durable in the order a power cut needs.
#
# Runs compact, reorganize, a renumbering open, a repairing normal check and
# a thorough check that makes backups under strace, each on a fresh sample
# archive, and asserts per folder of the archive:
#   data     a file's data is fsynced before the file is renamed (or linked)
#            over or into place, and a file the command made (a backup, a
#            copy) before the next commit and before exit;
#   names    a file created, renamed or removed is followed by an fsync of its
#            folder before the command's next commit and before it exits;
#   commit   a commit (the engine deletes a rollback journal, or a super
#            journal) is followed by an fsync of the folder before the next
#            change of a name there and before exit: otherwise a power cut
#            brings the journal back and the next open rolls the commit back.
# The log and the lock file are no part of the archive's data and are left
# out. A power-loss simulation trusts exactly these rules, so this keeps it
# honest about what the real program does.
#
# Usage: tools/syscall-order.sh [-b BUILD_DIR] [-c CLI] [-n DOCUMENTS] [-k]
#        tools/syscall-order.sh --analyze TRACE ROOT   (one trace, for debugging)
#        tools/syscall-order.sh --self-test            (the rules on made-up traces)
#   -b BUILD_DIR  build folder holding bin/quillex-cli (default: build)
#   -c CLI        the program to trace instead
#   -n DOCUMENTS  documents per sample (default 120)
#   -k            keep the scratch folder and the traces
# Exit code: 0 every rule held, 1 a rule was broken (each is listed),
# 77 strace is not installed (a skip for ctest), 16 usage error.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The analyzer: reads one `strace -f -y` trace; ROOT limits it to the folders
# below the scratch folder. Prints one line per broken rule and a summary.
analyze() {
  local trace=$1 root=$2 existing=$3
  awk -v root="$root" -v existing="$existing" '
    function dirof(p) { sub(/\/[^\/]*$/, "", p); return p }
    function baseof(p) { sub(/.*\//, "", p); return p }
    function mine(p) { return index(p, root "/") == 1 }
    function exempt(p) { return p ~ /\.(log|lock)$/ }
    function journal(p) { return p ~ /-journal$/ || p ~ /-mj[0-9A-Fa-f]+$/ }
    function broke(rule, text) { ++broken; print "  " rule ": " text " (trace line " NR ")" }
    # Every quoted argument, unescaped enough for plain paths.
    function quoted(s, out,   n, m) {
      n = 0
      while (match(s, /"([^"\\]|\\.)*"/)) {
        out[++n] = substr(s, RSTART + 1, RLENGTH - 2); s = substr(s, RSTART + RLENGTH)
      }
      return n
    }
    # The folder a relative path of an *at call is taken from: the <path>
    # strace -y shows after the folder argument.
    function absolute(p, dirpath) { return substr(p, 1, 1) == "/" ? p : dirpath "/" p }
    function fdpath(s) { return match(s, /^[0-9]+<[^>]*>/) ? substr(s, index(s, "<") + 1, RLENGTH - index(s, "<") - 1) : "" }
    function dirargs(s, out,   n) {
      n = 0
      while (match(s, /(AT_FDCWD|[0-9]+)<[^>]*>/)) {
        out[++n] = substr(s, RSTART, RLENGTH); sub(/^[^<]*</, "", out[n]); sub(/>$/, "", out[n])
        s = substr(s, RSTART + RLENGTH)
      }
      return n
    }
    function changed(p, kind) {
      folders[dirof(p)] = 1
      if (exempt(p)) return
      if (kind == "created") { pending[p] = "created"; return }
      if (kind == "removed" && (p in pending) && pending[p] == "created") { delete pending[p]; return }
      pending[p] = kind
    }
    function namechange(p,   d) {
      if (exempt(p)) return
      d = dirof(p)
      if (d in committed) { broke("commit", "the commit that deleted " committed[d] " was not followed by an fsync of " d " before " p " changed"); delete committed[d] }
    }
    function commit(j,   d, p) {
      d = dirof(j)
      for (p in dirty)
        if ((p in made) && dirof(p) == d && !journal(p)) { broke("data", baseof(p) " was made by the command and its data not fsynced before the commit that deleted " baseof(j)); delete dirty[p] }
      for (p in pending)
        if (dirof(p) == d && p != j) { broke("names", p " (" pending[p] ") was not made durable by an fsync of " d " before the commit that deleted " baseof(j)); delete pending[p] }
      commits++
      committed[d] = baseof(j)
    }
    BEGIN {
      n = split(existing, list, "\n")
      for (i = 1; i <= n; ++i) if (list[i] != "") { exists[list[i]] = 1; folders[dirof(list[i])] = 1 }
      folders[root] = 1
    }
    {
      line = $0
      pid = $1
      if (line ~ /<unfinished \.\.\.>$/) { sub(/ *<unfinished \.\.\.>$/, "", line); held[pid] = line; next }
      if (line ~ /<\.\.\. [a-z0-9_]+ resumed>/) {
        rest = line; sub(/.*resumed> ?/, "", rest); line = held[pid] rest; delete held[pid]
      }
      sub(/^[0-9]+ +/, "", line)
      if (!match(line, /^[a-z0-9_]+\(/)) next
      call = substr(line, 1, RLENGTH - 1)
      args = substr(line, RLENGTH + 1)
      if (line ~ /\) += -1 /) next
      if (call == "fsync" || call == "fdatasync") {
        p = fdpath(args)
        if (p == "" || !mine(p) && p != root) next
        if (p in folders) {
          syncs++
          for (x in pending) if (dirof(x) == p) delete pending[x]
          delete committed[p]
        } else delete dirty[p]
        next
      }
      if (call ~ /^(write|pwrite64|pwritev|pwritev2|writev|ftruncate|fallocate)$/) {
        p = fdpath(args)
        if (p != "" && mine(p) && !exempt(p)) dirty[p] = 1
        next
      }
      if (call == "openat" || call == "open" || call == "creat") {
        nq = quoted(args, q); nd = dirargs(args, dd)
        if (nq < 1) next
        p = call == "openat" ? absolute(q[1], dd[1]) : q[1]
        if (!mine(p)) next
        if ((call == "creat" || args ~ /O_CREAT/) && !(p in exists)) {
          namechange(p); exists[p] = 1; made[p] = 1; changed(p, "created"); creations++
        }
        next
      }
      if (call == "unlink" || call == "unlinkat") {
        nq = quoted(args, q); nd = dirargs(args, dd)
        p = call == "unlinkat" ? absolute(q[1], dd[1]) : q[1]
        if (!mine(p) || args ~ /AT_REMOVEDIR/) next
        delete exists[p]; delete dirty[p]
        if (journal(p)) { namechange(p); delete pending[p]; commit(p); next }
        namechange(p); changed(p, "removed"); removals++
        next
      }
      if (call ~ /^(rename|renameat|renameat2|link|linkat)$/) {
        nq = quoted(args, q); nd = dirargs(args, dd)
        if (nq < 2) next
        from = call ~ /at2?$/ ? absolute(q[1], dd[1]) : q[1]
        to = call ~ /at2?$/ ? absolute(q[2], dd[2]) : q[2]
        if (!mine(from) && !mine(to)) next
        if (from in dirty) broke("data", baseof(from) " was " (call ~ /link/ ? "linked" : "renamed") " to " baseof(to) " before its data was fsynced")
        namechange(to)
        if (call !~ /link/) {
          namechange(from); delete exists[from]
          if (from in dirty) { dirty[to] = 1; delete dirty[from] }
          changed(from, "renamed away")
        }
        exists[to] = 1; changed(to, "renamed here"); renames++
        next
      }
    }
    END {
      for (p in dirty) if ((p in made) && !journal(p)) broke("data", baseof(p) " was made by the command and its data never fsynced before exit")
      for (p in pending) broke("names", p " (" pending[p] ") was never made durable by an fsync of " dirof(p) " before exit")
      for (d in committed) broke("commit", "the last commit, deleting " committed[d] ", was not followed by an fsync of " d " before exit")
      printf "  %d commits, %d files created, %d renamed, %d removed, %d folder fsyncs; %d rules broken\n", commits, creations, renames, removals, syncs, broken
      exit broken > 0
    }' "$trace"
}

# Made-up traces, each breaking one rule or none: the analyzer must see each.
self_test() {
  local dir failed=0 name expect body
  dir=$(mktemp -d)
  local r=/r
  while IFS='|' read -r name expect body; do
    [ -z "$name" ] && continue
    printf '%b\n' "$body" >"$dir/t"
    if analyze "$dir/t" "$r" "$r/a.dat" >"$dir/out"; then got=ok; else got=broken; fi
    if [ "$got" != "$expect" ]; then echo "self-test $name: expected $expect, got $got"; cat "$dir/out"; failed=1; fi
  done <<EOF
commit_then_folder_sync|ok|1 openat(AT_FDCWD</r>, "$r/a.dat-journal", O_RDWR|O_CREAT, 0644) = 7<$r/a.dat-journal>\n1 fdatasync(7<$r/a.dat-journal>) = 0\n1 fdatasync(8<$r>) = 0\n1 pwrite64(6<$r/a.dat>, ""..., 4096, 0) = 4096\n1 fdatasync(6<$r/a.dat>) = 0\n1 unlink("$r/a.dat-journal") = 0\n1 fdatasync(8<$r>) = 0
commit_without_folder_sync|broken|1 openat(AT_FDCWD</r>, "$r/a.dat-journal", O_RDWR|O_CREAT, 0644) = 7<$r/a.dat-journal>\n1 fdatasync(8<$r>) = 0\n1 unlink("$r/a.dat-journal") = 0
commit_then_new_name_before_folder_sync|broken|1 unlink("$r/a.dat-journal") = 0\n1 openat(AT_FDCWD</r>, "$r/b.pdb", O_RDWR|O_CREAT, 0644) = 7<$r/b.pdb>\n1 fdatasync(8<$r>) = 0
new_file_named_before_commit_unsynced|broken|1 openat(AT_FDCWD</r>, "$r/b.pdb", O_RDWR|O_CREAT, 0644) = 7<$r/b.pdb>\n1 fdatasync(7<$r/b.pdb>) = 0\n1 unlink("$r/a.dat-journal") = 0\n1 fdatasync(8<$r>) = 0
new_file_synced_before_commit|ok|1 openat(AT_FDCWD</r>, "$r/b.pdb", O_RDWR|O_CREAT, 0644) = 7<$r/b.pdb>\n1 fdatasync(7<$r/b.pdb>) = 0\n1 fsync(8<$r>) = 0\n1 unlink("$r/a.dat-journal") = 0\n1 fdatasync(8<$r>) = 0
rename_before_data_sync|broken|1 openat(AT_FDCWD</r>, "$r/a.tmp", O_RDWR|O_CREAT, 0644) = 7<$r/a.tmp>\n1 pwrite64(7<$r/a.tmp>, ""..., 10, 0) = 10\n1 renameat2(AT_FDCWD</r>, "$r/a.tmp", AT_FDCWD</r>, "$r/b.pdb", RENAME_NOREPLACE) = 0\n1 fsync(8<$r>) = 0
rename_after_data_sync|ok|1 openat(AT_FDCWD</r>, "$r/a.tmp", O_RDWR|O_CREAT, 0644) = 7<$r/a.tmp>\n1 pwrite64(7<$r/a.tmp>, ""..., 10, 0) = 10\n1 fsync(7<$r/a.tmp>) = 0\n1 renameat2(AT_FDCWD</r>, "$r/a.tmp", AT_FDCWD</r>, "$r/b.pdb", RENAME_NOREPLACE) = 0\n1 fsync(8<$r>) = 0
backup_unsynced_before_commit|broken|1 openat(AT_FDCWD</r>, "$r/a.bak", O_WRONLY|O_CREAT, 0644) = 7<$r/a.bak>\n1 write(7<$r/a.bak>, ""..., 10) = 10\n1 fsync(8<$r>) = 0\n1 unlink("$r/a.dat-journal") = 0\n1 fdatasync(8<$r>) = 0\n1 fsync(7<$r/a.bak>) = 0
backup_synced_before_commit|ok|1 openat(AT_FDCWD</r>, "$r/a.bak", O_WRONLY|O_CREAT, 0644) = 7<$r/a.bak>\n1 write(7<$r/a.bak>, ""..., 10) = 10\n1 fsync(7<$r/a.bak>) = 0\n1 fsync(8<$r>) = 0\n1 unlink("$r/a.dat-journal") = 0\n1 fdatasync(8<$r>) = 0
rename_unsynced_at_exit|broken|1 rename("$r/a.dat", "$r/a.old") = 0
removal_unsynced_at_exit|broken|1 unlink("$r/a.dat") = 0
log_and_lock_left_out|ok|1 openat(AT_FDCWD</r>, "$r/a.lock", O_RDWR|O_CREAT, 0644) = 4<$r/a.lock>\n1 openat(AT_FDCWD</r>, "$r/a.log", O_WRONLY|O_CREAT|O_APPEND, 0644) = 5<$r/a.log>\n1 write(5<$r/a.log>, ""..., 20) = 20\n1 unlink("$r/a.lock") = 0
failed_calls_change_nothing|ok|1 unlink("$r/a.dat") = -1 ENOENT (No such file or directory)
threads_interleaved|broken|1 unlink("$r/a.dat-journal" <unfinished ...>\n2 fsync(7<$r/x.pdb>) = 0\n1 <... unlink resumed>) = 0
EOF
  rm -rf "$dir"
  [ $failed = 0 ] && echo "syscall-order self-test: passed"
  return $failed
}

case "${1:-}" in
  --self-test) self_test; exit $? ;;
  --analyze)
    [ $# -eq 3 ] || { echo "usage: $0 --analyze TRACE ROOT" >&2; exit 16; }
    analyze "$2" "$3" ""; exit $? ;;
esac

build=build
cli=""
documents=120
keep=0
while getopts "b:c:n:kh" opt; do
  case $opt in
    b) build=$OPTARG ;;
    c) cli=$OPTARG ;;
    n) documents=$OPTARG ;;
    k) keep=1 ;;
    h) sed -n '2,/^set -u/p' "$0" | sed -e 's/^# \{0,1\}//' -e '/^set -u/d'; exit 0 ;;
    *) exit 16 ;;
  esac
done
[ -n "$cli" ] || cli="$build/bin/quillex-cli"
if ! command -v strace >/dev/null; then
  echo "syscall-order: strace is not installed (tools/setup.sh installs it)"
  exit 77
fi
if [ ! -x "$cli" ]; then
  echo "syscall-order: $cli not found; build first (see README)" >&2
  exit 16
fi
self_test >/dev/null || { echo "syscall-order: the analyzer fails its own test (--self-test)"; exit 1; }

scratch=$(mktemp -d)
scratch=$(cd "$scratch" && pwd -P)
[ $keep = 1 ] && echo "syscall-order: scratch folder $scratch" || trap 'rm -rf "$scratch"' EXIT

status=0
# name | sample faults | command (the archive's path follows)
while IFS='|' read -r name faults command; do
  archive="$scratch/$name"
  "$cli" sample "$archive" --documents "$documents" --faults "$faults" >/dev/null 2>&1 ||
    { echo "syscall-order: could not write a sample for $name"; status=1; continue; }
  existing=$(find "$archive" -mindepth 1)
  # shellcheck disable=SC2086
  strace -f -qq -y -s 0 -o "$scratch/$name.trace" \
    -e trace=openat,open,creat,rename,renameat,renameat2,link,linkat,unlink,unlinkat,fsync,fdatasync,write,pwrite64,pwritev,pwritev2,writev,ftruncate,fallocate \
    "$cli" $command "$archive/Archief.dat" >"$scratch/$name.out" 2>&1
  rc=$?
  echo "$name: $cli $command (exit $rc)"
  if [ $rc -ge 8 ]; then echo "  the command failed:"; sed 's/^/    /' "$scratch/$name.out" | head -5; status=1; continue; fi
  analyze "$scratch/$name.trace" "$archive" "$existing" || status=1
done <<'EOF'
compact|data-in-other-sub-database,parent-missing|compact --all --yes
reorganize|unreferenced-empty-data,unreferenced-data,same-id-different-data|reorganize --yes
renumbering-open|sub-database-number-gaps,unreferenced-sub-database|open --yes
repairing-check|all|check --normal --yes
thorough-check-with-backups|double-byte-pdf,zero-upper-half,worked-example-pdf,truncated-jpeg,no-trash-support|check --thorough --yes
EOF
[ $status = 0 ] && echo "syscall-order: passed" || echo "syscall-order: FAILED"
exit $status
