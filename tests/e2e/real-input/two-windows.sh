#!/usr/bin/env bash
# Two Velmora windows over the virtual null-modem cable on a virtual X server with a window
# manager, driven only by key and mouse events (xdotool), as users drive them. Each window starts
# from an empty data folder, as a new user's does: the questions of a first start are answered by
# key, the user name and the Reconnect option are set in the Options dialog, the serial port is
# typed into the "Serial Connection" prompt at each connection. Ann hosts and Bob joins, a chat
# line goes each way, Ann sends a file, Ann's window is closed (the host leaves), and the two
# connect again. Then the cable's plug is pulled while a file moves: with reconnecting off the
# rows end and Send again finishes the file; with it turned on in Options the line comes back
# and the file goes on by itself. Each step is checked from what the program wrote to disk
# (received files, exported conversations, the data folders), from its error output and from
# the windows on the screen; screenshots of every step are kept. Nothing is written into the
# data folders beforehand and no dialog is answered in code. Every check prints PASS or FAIL;
# any FAIL fails the run.
#
#   two-windows.sh VELMORA VELMORA_CABLE [SCREENSHOT_FOLDER]
#
# Exits with 77 (skipped) when Xvfb, xdotool, ImageMagick's import, xprop or openbox is
# missing.
set -uo pipefail

velmora=$1
cable_program=$2

source "$(dirname "$0")/real-input.sh"
require_tools Xvfb xdotool import xprop openbox
make_work_folder "${3:-}"
start_own_display
start_window_manager

# --- The cable and the two windows -----------------------------------------------------------
"$cable_program" --dir "$work/cable" >"$work/cable.log" 2>&1 &
cable_pid=$!
pids+=($!)
wait_for 10 test -e "$work/cable/B" || { echo "FAIL: the cable did not start"; exit 1; }

# Each user's end of the cable and place on the screen: side by side, as a user drags them
# (both windows open at the screen's centre the first time).
declare -A cable_end=([Ann]=A [Bob]=B) left_edge=([Ann]=0 [Bob]=640)
# NAME's window, started as NAME, its start-up window closed; the first time from an empty data
# folder, and then moved to NAME's place, where it comes back on its next start.
start_window() {  # start_window NAME
    if [ -e "$work/$1/options.ini" ]; then
        start_program "$1" "$work/$1"
        close_start_up_window "$1"
    else
        first_start "$1" "$work/$1"
        close_start_up_window "$1"
        xdotool windowmove "$(main_window "$1")" "${left_edge[$1]}" 0
        sleep 0.5
    fi
}
# Where NAME's main window is on the screen and its size.
placement() { xdotool getwindowgeometry "$(main_window "$1")" | sed 1d; }  # placement NAME
# Closes NAME's message boxes and dialogs with Esc, the message boxes (titled "Velmora") first,
# since they are modal over the dialogs.
dismiss_others() {
    local round window
    for round in 1 2 3 4; do
        window=$(window_named "$1" '^Velmora$')
        [ -n "$window" ] || window=$(xdotool search --all --pid "${pid_of[$1]}" --onlyvisible \
            --name '.' 2>/dev/null | grep -vx "$(main_window "$1")" | head -1)
        [ -n "$window" ] || return 0
        press "$window" Escape
        sleep 0.5
    done
}
# File > New connection, "Null-modem (COM-to-COM)", Master (0) or Slave (1); Alt+C for Connect;
# NAME's end of the cable typed into the Serial Connection prompt.
connect_as() {  # connect_as NAME ROLE
    choose_connection "$1" 1 "$2"
    screenshot "$1-connect-dialog"
    xdotool key alt+c
    answer_serial_prompt "$1" "$work/cable/${cable_end[$1]}"
}

for name in Ann Bob; do
    start_window "$name"
    change_options "$name" turn "$name"
    check "$name's name, typed in Options, is kept" option_is "$name" UserName "$name"
    check "$name's reconnecting, turned off in Options, is kept off" option_is "$name" Reconnect 0
done
screenshot started

# --- Connect: Ann hosts, Bob joins -----------------------------------------------------------
connect_as Ann 0
sleep 1
connect_as Bob 1
sleep 4
screenshot connected

# --- A chat line each way --------------------------------------------------------------------
say Ann "Hello Bob"
say Bob "Hello Ann"
sleep 1
screenshot chatted
export_log Ann "$work/ann-1.txt"
export_log Bob "$work/bob-1.txt"
check "Ann hosted and Bob joined" log_has_line "$work/ann-1.txt" "Waiting for remote user..."
check "Bob's view says Connected." log_has_line "$work/bob-1.txt" "Connected."
for side in ann bob; do
    check "$side's view shows Ann's line as typed" \
        log_has_line "$work/$side-1.txt" "Ann>    Hello Bob"
    check "$side's view shows Bob's line as typed" \
        log_has_line "$work/$side-1.txt" "Bob>    Hello Ann"
done

# --- A file from Ann to Bob: Transfer > Send file... (Insert) --------------------------------
head -c 60000 /dev/urandom >"$work/payload.bin"
press "$(main_window Ann)" Insert
if wait_for 10 has_other_windows Ann && sleep 1; then
    xdotool type --delay 10 "$work/payload.bin"
    xdotool key Return
fi
wait_for 60 cmp -s "$work/payload.bin" "$work/Bob/Incoming/payload.bin"
sleep 1
screenshot file-sent
check "the file arrived whole in Bob's incoming folder" \
    cmp -s "$work/payload.bin" "$work/Bob/Incoming/payload.bin"

# --- The host leaves: File > Exit in Ann's window ---------------------------------------------
serial_before=$(cat "$work/Bob/serial.ini")
ann_placement=$(placement Ann)
exit_window Ann
check "Ann's window closed" bash -c "! kill -0 ${pid_of[Ann]} 2>/dev/null"
sleep 8
screenshot host-left
check "Bob's program still runs after the host left" running Bob
if ! running Bob; then
    wait "${pid_of[Bob]}"
    echo "seen: Bob's program ended with status $? when the host left"
    start_window Bob
fi
others=$(other_windows Bob)
[ -n "$others" ] && echo "seen: Bob's program shows windows: $(echo "$others" | paste -sd ',')"
check "Bob shows no dialog or message box of its own after the host left" test -z "$others"
check "Bob's program created no timer off the UI thread" \
    bash -c "! grep -q 'Timers cannot be started from another thread' '$work/Bob.err'"
check "Bob's remembered serial port is unchanged" \
    test "$serial_before" = "$(cat "$work/Bob/serial.ini")"
export_log Bob "$work/bob-2.txt"
dismiss_others Bob
say Bob "Anybody there?"
export_log Bob "$work/bob-3.txt"
# Bob now hosts the session alone, waiting for the next caller, and says so; a line typed now
# reaches nobody: it is not shown as sent, and the conversation says so.
check "Bob, hosting alone after the host left, says it waits for the next caller" \
    log_has_line "$work/bob-3.txt" "Waiting for remote user..."
check "Bob, hosting alone after the host left, does not show a typed line as sent" \
    bash -c "[ -f '$work/bob-3.txt' ] && ! grep -qF 'Bob>    Anybody there?' '$work/bob-3.txt'"
check "Bob, hosting alone after the host left, says the line was not sent" \
    log_has_line "$work/bob-3.txt" \
    "Nobody is connected: your line was not sent. It is kept in the message field."

# --- Connect again: Ann's window again; Bob, who stayed, hosts on the line it holds ----------
start_window Ann
check "Ann's window came back where Ann left it" test "$(placement Ann)" = "$ann_placement"
connect_as Ann 1
sleep 6
screenshot ann-joins-again
took_over=1
if [ -n "$(other_windows Ann)" ]; then
    echo "seen: Ann's program shows: $(other_windows Ann | paste -sd ',')"
    took_over=0
fi
check "Bob took over as host: Ann joins without Bob connecting again" test "$took_over" = 1
if [ "$took_over" = 0 ]; then
    dismiss_others Ann
    dismiss_others Bob
    connect_as Bob 0
    sleep 1
    connect_as Ann 1
    sleep 4
fi
say Ann "Back again"
say Bob "Welcome back"
sleep 1
screenshot reconnected
export_log Ann "$work/ann-4.txt"
export_log Bob "$work/bob-4.txt"
# Whether the lines are shown exactly as typed was checked above: here only that they crossed.
for side in ann bob; do
    check "after reconnecting $side's view shows Ann's line" \
        log_has_said "$work/$side-4.txt" Ann "Back again"
    check "after reconnecting $side's view shows Bob's line" \
        log_has_said "$work/$side-4.txt" Bob "Welcome back"
done
left_open=$(other_windows Ann; other_windows Bob)
[ -n "$left_open" ] && echo "seen: windows left open: $(echo "$left_open" | paste -sd ',')"
check "no dialog left open in either program" test -z "$left_open"

# --- The plug pulled while a file moves; the ended row sent again once connected again ---------
# Reconnecting is off, as set in Options at the start: the rows end with the line.
head -c 400000 /dev/urandom >"$work/long.bin"
press "$(main_window Ann)" Insert
if wait_for 10 has_other_windows Ann && sleep 1; then
    xdotool type --delay 10 "$work/long.bin"
    xdotool key Return
fi
part_has_bytes() { [ "$(stat -c %s "$work/Bob/Incoming/long.bin.part" 2>/dev/null || echo 0)" -ge 40000 ]; }
wait_for 60 part_has_bytes
check "the long file was on its way when the plug was pulled" part_has_bytes
kill -USR1 "$cable_pid"
sleep 12
# The ended rows: clocks stopped, words why, only Remove and Send again (a look at the pictures).
xdotool mousemove --window "$(main_window Ann)" 60 365 click 1
xdotool mousemove --window "$(main_window Bob)" 60 365 click 1
sleep 1
# The first row of NAME's transfers list, as the window draws it, into FILE.
row_picture() {  # row_picture NAME FILE
    import -window "$(main_window "$1")" -crop 550x24+0+344 +repage "$2"
}
screenshot plug-pulled
for name in Ann Bob; do row_picture "$name" "$work/$name-row-1.png"; done
sleep 3
screenshot plug-pulled-later
for name in Ann Bob; do row_picture "$name" "$work/$name-row-2.png"; done
# Both windows' rows, as drawn 3 s apart: an ended row's clocks and figures stand still.
rows_still() {
    local name
    for name in Ann Bob; do
        [ "$(compare -metric AE "$work/$name-row-1.png" "$work/$name-row-2.png" null: 2>&1)" \
            = 0 ] || return 1
    done
}
check "the ended rows' clocks stand still" rows_still
export_log Ann "$work/ann-5.txt"
export_log Bob "$work/bob-5.txt"
for side in ann bob; do
    check "$side's view says the connection was lost" log_has_line "$work/$side-5.txt" "Connection lost!"
done
check "what arrived stays in Bob's incoming folder" test -s "$work/Bob/Incoming/long.bin.part"
kill -USR2 "$cable_pid"
connect_as Bob 0
sleep 1
connect_as Ann 1
sleep 4
dismiss_others Ann
# Ann's ended row, selected, and its Send again button.
xdotool mousemove --window "$(main_window Ann)" 60 365 click 1
sleep 0.5
xdotool mousemove --window "$(main_window Ann)" 373 311 click 1
wait_for 90 cmp -s "$work/long.bin" "$work/Bob/Incoming/long.bin"
screenshot sent-again
check "Send again on the ended row brought the whole file to Bob" \
    cmp -s "$work/long.bin" "$work/Bob/Incoming/long.bin"
check "the file continued its .part rather than coming as a second copy" \
    test ! -e "$work/Bob/Incoming/long (2).bin"
# Clear takes the ended rows away.
xdotool mousemove --window "$(main_window Bob)" 447 311 click 1
sleep 1
screenshot cleared

# --- Reconnecting on: the plug pulled and put back while a file moves; it goes on by itself ----
# Turned on in each window's Options while the two are connected: it holds from the next loss.
for name in Ann Bob; do
    change_options "$name" turn
    check "$name's reconnecting, turned on in Options, is kept on" option_is "$name" Reconnect 1
done
dismiss_others Ann
head -c 300000 /dev/urandom >"$work/again.bin"
press "$(main_window Ann)" Insert
if wait_for 10 has_other_windows Ann && sleep 1; then
    xdotool type --delay 10 "$work/again.bin"
    xdotool key Return
fi
again_has_bytes() { [ "$(stat -c %s "$work/Bob/Incoming/again.bin.part" 2>/dev/null || echo 0)" -ge 40000 ]; }
wait_for 60 again_has_bytes
kill -USR1 "$cable_pid"
sleep 8
screenshot line-lost-waiting
kill -USR2 "$cable_pid"
wait_for 120 cmp -s "$work/again.bin" "$work/Bob/Incoming/again.bin"
sleep 1
screenshot line-back
export_log Ann "$work/ann-6.txt"
export_log Bob "$work/bob-6.txt"
for side in ann bob; do
    check "$side's view says the line was lost and is tried again" \
        grep -q "Line lost at [0-9:]*, trying to get it back\.\.\." "$work/$side-6.txt"
    check "$side's view says the line came back and the transfer goes on" \
        grep -q "Line back at [0-9:]*; 1 transfer continues" "$work/$side-6.txt"
done
check "the file went on by itself and arrived whole" \
    cmp -s "$work/again.bin" "$work/Bob/Incoming/again.bin"
check "it came once, not as a second copy" test ! -e "$work/Bob/Incoming/again (2).bin"

for name in Ann Bob; do show_errors "$name"; done
finish_checks
