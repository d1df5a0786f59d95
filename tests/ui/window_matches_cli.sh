#!/bin/sh
# zupo in a real X server (xvfb-run) and zupo-cli, both with the same seed on copies of the
# example: zupo ends with status 0 and every file of the two run folders is byte-identical.
# With LIBRARY_PROB not 0 each run keeps a library with its own ZupoAp (whose log and lock, with
# times and process ids, are not compared).
# Usage: window_matches_cli.sh ZUPO ZUPO_CLI EXAMPLE_DIR [GENERATIONS [LIBRARY_PROB]]
set -eu
zupo=$1 cli=$2 example=$3 gens=${4:-40} libprob=${5:-0}
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run is not installed: skipped"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for d in window cli; do
  cp -r "$example" "$tmp/$d"
  sed -i "s/^Gen_No=[0-9]*/Gen_No=$gens/; s/^LibraryProb=[0-9]*/LibraryProb=$libprob/" \
    "$tmp/$d/Zupo.ini"
done
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY timeout 300 \
  xvfb-run -a -s "-screen 0 1280x1024x24" "$zupo" --seed 21 "$tmp/window" ||
  { echo "zupo under xvfb-run ended with status $?, expected 0"; exit 1; }
"$cli" --seed 21 --quiet "$tmp/cli" >/dev/null
rows=$(grep -c . "$tmp/window/run/Data1.txt")
[ "$rows" -eq $((gens + 1)) ] ||
  { echo "Data1.txt of the window run has $rows lines, expected $((gens + 1))"; exit 1; }
# zupo.lock names the process that held the run folder.
diff -r -x zupo.lock -x ZupoAp.log -x ZupoAp.lock "$tmp/window" "$tmp/cli"
echo "zupo and zupo-cli wrote the same files ($(find "$tmp/cli" -type f | wc -l) files, $gens generations)"
