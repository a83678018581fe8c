#!/usr/bin/env bash
# The installer on a console: run under a pseudo-terminal, Wine gives it a
# console, so its wide texts go through WriteConsoleW and its colours become
# the terminal's escape sequences. A first installation and an update, in a
# prefix of their own, each compared as a whole with what a console shows;
# then an update cancelled with Ctrl+C while it copies.
#
#   console_run.sh WINE_RUN PREFIX INSTALLER
set -uo pipefail
wine_run=$1 prefix=$2 installer=$3

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$wine_run" "$prefix" --fresh || { echo "cannot make the prefix $prefix"; exit 1; }
trap '"$wine_run" "$prefix" --kill; rm -rf "$prefix" "$prefix.lock"' EXIT

# Runs the installer on a terminal and prints what the terminal received.
on_terminal() {
  script -qec "$(printf '%q ' "$wine_run" "$prefix" --console "$installer")" /dev/null </dev/null
}

# What a reader sees: Wine's console draws a blank as "erase, move right"
# and hides the cursor around each write; colours are kept apart as
# <yellow>, <red> and <plain> marks.
as_seen() {
  sed -e 's/\x1b\[?25[lh]//g' -e 's/\x1b\[K\x1b\[1C/ /g' \
      -e 's/\x1b\[93m/<yellow>/g' -e 's/\x1b\[91m/<red>/g' -e 's/\x1b\[m/<plain>/g' | tr -d '\r'
}

# The server's image may stay held for a moment after its service stopped,
# which the copy bridges with a retry; how long differs between Windows and
# Wine, so such retries are taken out.
without_server_retries() {
  perl -0pe 's/(Copying "qzv\.ua\.brq\.exe"\.\.\. )(\n  retry in 5 sec\.{5} )+/$1/'
}

# Compares one run's text, from the line after the os line, with $2.
check_run() {
  local name=$1 expected=$2 seen
  seen=$(on_terminal | as_seen | without_server_retries)
  [[ $(head -n 1 <<<"$seen") =~ ^os\ [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+\ =\>\ crt\ \"[a-z0-9+]+\"$ ]] ||
    fail "$name: first line is not the os line: $(head -n 1 <<<"$seen")"
  if [ "$(tail -n +2 <<<"$seen")" != "$expected" ]; then
    fail "$name: the console shows"
    diff <(echo "$expected") <(tail -n +2 <<<"$seen")
  fi
}

check_run "first installation" 'Destination: C:\Program Files\Quorvanta\QZV.UA\brq
Copying "qzv.ua.brq.exe"... ok
Copying "qzv.ua.brq.ctrl.exe"... ok
Copying "qzv.ua.brq.dev.exe"... ok
Copying "qzv.ua.brq.uninstall.exe"... ok
Writing uninstall entry "Quorvanta.QZV.UA.brq"... ok
Registering service "QZVOPCUA.BRQ"... ok
Will configure firewall...
exception for "qzv.ua.brq.exe"... ok
Will start services...
  service "QZVOPCUA.BRQ"... ok'

# Wine sets the plain colour back only when the next text is written.
check_run "update" 'Destination: C:\Program Files\Quorvanta\QZV.UA\brq
Discovering services for "qzv.ua.brq.exe"...
  QZVOPCUA.BRQ -> running
Discovering services for "qzv.ua.brq.ctrl.exe"...
Discovering services for "qzv.ua.brq.dev.exe"...
Discovering services for "qzv.ua.brq.uninstall.exe"...
Will stop services...
  service "QZVOPCUA.BRQ"... ok
Checking processes for "qzv.ua.brq.exe"... 
Checking processes for "qzv.ua.brq.ctrl.exe"... 
Checking processes for "qzv.ua.brq.dev.exe"... 
Checking processes for "qzv.ua.brq.uninstall.exe"... 
Copying "qzv.ua.brq.exe"... ok
Copying "qzv.ua.brq.ctrl.exe"... ok
Copying "qzv.ua.brq.dev.exe"... ok
Copying "qzv.ua.brq.uninstall.exe"... ok
Writing uninstall entry "Quorvanta.QZV.UA.brq"... ok
<yellow>Other services were already registered for "qzv.ua.brq.exe"
Will attempt to continue...
<plain>Will configure firewall...
exception for "qzv.ua.brq.exe"... ok
Will start services...
  service "QZVOPCUA.BRQ"... ok'

# Ctrl+C once the server's file is being copied: the key takes effect before
# the next file, the server's old file is put back and its service started
# again. Blanks are drawn as escape sequences, so the text has none.
seen=$(python3 "$(dirname "$0")/press_ctrl_c.py" 'Copying"qzv.ua.brq.exe"' \
         "$wine_run" "$prefix" --console "$installer" | as_seen)
code=$?
[ $code -eq 1 ] || fail "cancelled update: exit code $code"
grep -q '^Restoring "qzv.ua.brq.exe"... ok$' <<<"$seen" || fail "cancelled update: no restore line"
# The cancellation and its error text close the output (Wine may or may not
# set the plain colour back after them).
last=$(sed -n '/^<red>Installation cancelled$/,$p' <<<"$seen" | grep -vx '<plain>')
[ "$(wc -l <<<"$last")" -eq 2 ] ||
  fail "cancelled update: does not end with the cancellation: $(tail -n 3 <<<"$seen")"
state=$("$wine_run" "$prefix" C:\\windows\\system32\\sc.exe query QZVOPCUA.BRQ | tr -d '\r' | grep STATE)
[[ $state == *RUNNING* ]] || fail "cancelled update: the server is not running: $state"

[ $failures -eq 0 ] && echo "console runs as expected"
exit $((failures > 0))
