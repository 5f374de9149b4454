#!/usr/bin/env bash
# Windows that meet over the network (TCP/IP on the loopback address), on a virtual X server with
# a window manager, driven only by key and mouse events (xdotool), as users drive them. Each
# window starts from an empty data folder; the questions of a first start are answered by key
# and the user name is typed in the Options dialog. Ann waits for a caller on a free port and
# Bob calls 127.0.0.1 on it, both typing the same passphrase into the passphrase dialog; a chat
# line goes each way. Bob leaves; Cid calls with another passphrase and is refused with a
# message in Cid's window, while Ann's conversation tells of the caller turned away; Cid then
# calls again with the right passphrase and gets in. Each step is checked from the exported
# conversations, the message box's text (read off its picture) and the windows on the screen;
# screenshots of every step are kept. Nothing is written into the data folders beforehand and no
# dialog is answered in code. Every check prints PASS or FAIL; any FAIL fails the run.
#
#   network.sh VELMORA [SCREENSHOT_FOLDER]
#
# Exits with 77 (skipped) when Xvfb, xdotool, ImageMagick's import, xprop, openbox, tesseract, ss
# or python3 is missing.
set -uo pipefail

velmora=$1

source "$(dirname "$0")/real-input.sh"
require_tools Xvfb xdotool import xprop openbox tesseract ss python3
make_work_folder "${2:-}"
start_own_display
start_window_manager

# A port nobody listens on now: the system picks one, which is then let go.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
passphrase="copper kettle winter orchard"

# NAME's window from an empty data folder, its start-up window closed, moved to its place on
# the screen (X Y), the user name typed in Options.
start_window() {  # start_window NAME X Y
    first_start "$1" "$work/$1"
    close_start_up_window "$1"
    xdotool windowmove "$(main_window "$1")" "$2" "$3"
    sleep 0.5
    change_options "$1" keep "$1"
    check "$1's name, typed in Options, is kept" option_is "$1" UserName "$1"
}
listening() { [ -n "$(ss -Hltn "sport = :$port")" ]; }
# The passphrase dialog: PASSPHRASE typed, Enter.
answer_passphrase() {  # answer_passphrase NAME PASSPHRASE
    await_dialog "$1" "Network Connection"
    screenshot "$1-passphrase"
    press "$dialog" ctrl+a
    xdotool type --delay 20 "$2"
    xdotool key Return
    wait_for 10 no_window_named "$1" '^Network Connection$' ||
        give_up "$1: the passphrase dialog did not close"
}
# File > New connection by keyboard alone: Tab to the connection method, Down twice from Modem
# to "Network (TCP/IP)", Tab to the mode, Down for "Call remote computer" (MODE 1); Tab to the
# host name, typed when given; Tab to the port, typed over the one shown; Connect (Alt+C); the
# passphrase.
connect_over_network() {  # connect_over_network NAME MODE HOST PASSPHRASE
    open_connection_dialog "$1"
    xdotool key --delay 150 Tab Down Down Tab
    [ "$2" = 1 ] && xdotool key Down
    xdotool key Tab ctrl+a
    [ -n "$3" ] && xdotool type --delay 20 "$3"
    xdotool key Tab ctrl+a
    xdotool type --delay 20 "$port"
    sleep 0.3
    screenshot "$1-network-connection"
    xdotool key alt+c
    answer_passphrase "$1" "$4"
}

start_window Ann 0 0
start_window Bob 640 0

# --- Ann waits for a caller; Bob calls with the same passphrase; a line each way ------------
connect_over_network Ann 0 "" "$passphrase"
wait_for 20 listening || give_up "Ann's window does not listen on port $port"
connect_over_network Bob 1 127.0.0.1 "$passphrase"
wait_for 20 no_window_named Bob '^New connection$' || {
    screenshot Bob-not-connected
    give_up "Bob's New connection dialog stayed open: $(other_windows Bob | paste -sd ',')"
}
screenshot connected
say Ann "Hello over the network"
say Bob "Hello back, Ann"
sleep 1
screenshot chatted
export_log Ann "$work/ann-1.txt"
export_log Bob "$work/bob-1.txt"
check "Ann waited for a caller" log_has_line "$work/ann-1.txt" "Waiting for remote user..."
check "Bob's view says Connected." log_has_line "$work/bob-1.txt" "Connected."
for side in ann bob; do
    check "$side's view shows Ann's line as typed" \
        log_has_line "$work/$side-1.txt" "Ann>    Hello over the network"
    check "$side's view shows Bob's line as typed" \
        log_has_line "$work/$side-1.txt" "Bob>    Hello back, Ann"
done

# --- Bob leaves; Cid calls with another passphrase and is refused ---------------------------
exit_window Bob
check "Bob's window closed" bash -c "! kill -0 ${pid_of[Bob]} 2>/dev/null"
start_window Cid 640 0
connect_over_network Cid 1 127.0.0.1 "wrong guess"
wait_for 30 window_named Cid '^Velmora$' >/dev/null
screenshot Cid-refused
refusal=$(message_text Cid | tr -s ' \n' ' ')
echo "seen: Cid's message box reads: $refusal"
# Its words, as read off the screen: "The passphrase is not the same as the other computer's
# (127.0.0.1:PORT): no connection was made."
says_refused() {
    grep -qF "passphrase is not the same as the other computer" <<<"$refusal" &&
        grep -qF "127.0.0.1:$port" <<<"$refusal" && grep -qF "no connection was made" <<<"$refusal"
}
check "Cid's window says the passphrases differ and no connection was made" says_refused
press "$(window_named Cid '^Velmora$')" Return
wait_for 10 no_window_named Cid '^Velmora$' || give_up "Cid's message box did not close"
check "Cid's New connection dialog stays open for another try" \
    test -n "$(window_named Cid '^New connection$')"
sleep 1
export_log Ann "$work/ann-2.txt"
check "Ann's view tells of the caller turned away" \
    grep -q "A caller at 127\.0\.0\.1:[0-9]* was turned away: its passphrase is not the same as this one\." \
    <(tr -d '\r' <"$work/ann-2.txt")

# --- Cid calls again with the right passphrase and gets in ----------------------------------
dialog=$(window_named Cid '^New connection$')
screenshot Cid-tries-again
press "$dialog" alt+c
answer_passphrase Cid "$passphrase"
wait_for 20 no_window_named Cid '^New connection$' || {
    screenshot Cid-not-connected
    give_up "Cid's New connection dialog stayed open: $(other_windows Cid | paste -sd ',')"
}
say Cid "Hello, it is Cid"
say Ann "Welcome, Cid"
sleep 1
screenshot Cid-connected
export_log Ann "$work/ann-3.txt"
export_log Cid "$work/cid-3.txt"
for side in ann cid; do
    check "$side's view shows Cid's line" log_has_line "$work/$side-3.txt" "Cid>    Hello, it is Cid"
    check "$side's view shows Ann's line" log_has_line "$work/$side-3.txt" "Ann>    Welcome, Cid"
done

for name in Ann Bob Cid; do show_errors "$name"; done
finish_checks
