#!/usr/bin/env bash
# A new user's first connections, driven only by key and mouse events on a virtual X server with
# a window manager. The window starts with an empty data folder; every question of a first start
# is answered; it then connects over the virtual null-modem cable to velmora-cli on the cable's
# other end, the serial port typed into the "Serial Connection" prompt:
#   - through the start-up window's File > New connection...: as Master (velmora-cli joins),
#     then as Slave (velmora-cli hosts);
#   - again from an empty data folder, through the connection wizard (the start-up window's
#     link, then File > Connection Wizard...): as Slave, then as Master.
# Over each connection a chat line and a file go each way, the window's file through
# Transfer > Send file... and its file dialog. Each step is checked on velmora-cli's side (its
# output, the file it received) and on the window's (the exported conversation, the received
# file, serial.ini); screenshots of every step are kept. Nothing is written into the data folder
# beforehand and no dialog is answered in code. Every check prints PASS or FAIL; any FAIL fails
# the run.
#
#   first-run.sh VELMORA VELMORA_CLI VELMORA_CABLE [SCREENSHOT_FOLDER]
#
# Exits with 77 (skipped) when Xvfb, xdotool, ImageMagick's import, xprop or openbox is
# missing.
set -uo pipefail

velmora=$1
cli_program=$2
cable_program=$3

source "$(dirname "$0")/real-input.sh"
require_tools Xvfb xdotool import xprop openbox tesseract
make_work_folder "${4:-}"
start_own_display

start_window_manager

# --- The cable ---------------------------------------------------------------------------------
"$cable_program" --dir "$work/cable" >"$work/cable.log" 2>&1 &
pids+=($!)
wait_for 10 test -e "$work/cable/B" || { echo "FAIL: the cable did not start"; exit 1; }

# File > New connection...; "Null-modem (COM-to-COM)"; Master (0) or Slave (1); Connect.
# The points are where the dialog lays out its choices.
connect_by_dialog() {  # connect_by_dialog ROLE
    focus_window "$(main_window "$route")"
    pick_menu_item "$route" f n
    await_dialog "$route" "New connection"
    click "$dialog" 30 184
    click "$dialog" 249 $((158 + 26 * $1))
    screenshot "$route-new-connection-dialog"
    press "$dialog" alt+c
}

# The wizard, opened by the start-up window's link or File > Connection Wizard...;
# "Null-modem (COM-to-COM)", Next; Master (0) or Slave (1), Complete. The buttons are found
# from the wizard's bottom edge, the choices from its top.
connect_by_wizard() {  # connect_by_wizard ROLE
    local next_y
    if [ -n "$(window_named "$route" '^Welcome to Velmora !$')" ]; then
        click "$(window_named "$route" '^Welcome to Velmora !$')" 120 106
    else
        focus_window "$(main_window "$route")"
        pick_menu_item "$route" f c
    fi
    await_dialog "$route" "Connection wizard"
    next_y=$(($(xdotool getwindowgeometry --shell "$dialog" | sed -n 's/^HEIGHT=//p') - 23))
    click "$dialog" 153 185
    screenshot "$route-wizard-method"
    click "$dialog" 369 "$next_y"
    click "$dialog" 153 $((123 + 26 * $1))
    screenshot "$route-wizard-mode"
    click "$dialog" 369 "$next_y"
}

# velmora-cli on the cable's end B, as the host or the joiner (MODE), named Cleo, offering a
# file of its own once connected; its standard input is a pipe that chat lines are written to.
cli=0
start_cli() {  # start_cli MODE
    cli=$((cli + 1))
    cli_out=$work/cli-$cli.out
    cli_in=$work/cli-$cli-incoming
    cli_file=$work/from-cleo-$cli.bin
    head -c $((70000 + cli * 1000)) /dev/urandom >"$cli_file"
    mkdir -p "$cli_in"
    mkfifo "$work/cli-$cli.pipe"
    "$cli_program" "$1" --serial "$work/cable/B" --name Cleo --incoming "$cli_in" \
        send "$cli_file" <"$work/cli-$cli.pipe" >"$cli_out" 2>"$work/cli-$cli.err" &
    cli_pid=$!
    pids+=($!)
    exec 3>"$work/cli-$cli.pipe"
}
# The exported conversation holds TEXT, a line the window may have wrapped.
log_has_said_where() {  # log_has_said_where FILE TEXT
    [ -f "$1" ] && tr -d '\r\n' <"$1" | grep -qF -- "$2"
}
# The two lines of the exported conversation before LINE, joined by "|".
lines_before() {  # lines_before FILE LINE
    tr -d '\r' <"$1" | sed -E 's/^(\\[a-z]+[0-9]* ?)+//; s/\\par$//' | grep -B2 -xF -- "$2" |
        head -2 | paste -sd '|'
}
cli_said() { grep -qF -- "$1" "$cli_out"; }  # cli_said TEXT

# The window manager offers a message box no maximise.
box_offers_no_maximize() {  # box_offers_no_maximize WINDOW
    local actions
    actions=$(xprop -id "$1" _NET_WM_ALLOWED_ACTIONS 2>/dev/null)
    echo "seen: the message box allows: ${actions#*= }"
    [[ $actions == *_NET_WM_ACTION_CLOSE* ]] && [[ $actions != *MAXIMIZE* ]]
}
# One connection of the window, as ROLE (0 Master, 1 Slave) by CONNECT (connect_by_dialog or
# connect_by_wizard), against velmora-cli; then a chat line and a file each way, and the end.
connection() {  # connection CONNECT ROLE
    local connect=$1 role=$2 name step=$route-$((cli + 1))
    local window_file=$work/from-window-$((cli + 1)).bin
    if [ "$role" = 1 ]; then
        start_cli host
        wait_for 20 cli_said "Waiting for remote user..." || give_up "velmora-cli did not host"
    fi
    "$connect" "$role"
    answer_serial_prompt "$route" "$work/cable/A"
    [ "$role" = 0 ] && start_cli join
    wait_for 40 cli_said "Connected with " || give_up "$step: velmora-cli did not connect"
    sleep 1
    screenshot "$step-connected"
    check "$step: no dialog is left open once connected" test -z "$(other_windows "$route")"
    check "$step: serial.ini remembers the typed port" \
        grep -qxF "Port=$work/cable/A" <(tr -d '\r' <"$home/serial.ini")
    name=$(sed -n 's/^Connected with \(.*\)\.$/\1/p' "$cli_out" | head -1)

    # A chat line each way.
    say "$route" "Hello Cleo, $step"
    echo "Hello window, $step" >&3
    wait_for 10 cli_said "$name>    Hello Cleo, $step"
    check "$step: velmora-cli shows the window's line" cli_said "$name>    Hello Cleo, $step"

    # Cleo's file arrives by itself; the window's goes by Transfer > Send file... (Insert) and
    # the path typed into the file dialog.
    head -c $((60000 + cli * 1000)) /dev/urandom >"$window_file"
    press "$(main_window "$route")" Insert
    if wait_for 10 has_other_windows "$route" && sleep 1; then
        screenshot "$step-file-dialog"
        xdotool type --delay 10 "$window_file"
        xdotool key Return
    fi
    wait_for 60 cmp -s "$window_file" "$cli_in/$(basename "$window_file")"
    wait_for 60 cmp -s "$cli_file" "$home/Incoming/$(basename "$cli_file")"
    sleep 1
    screenshot "$step-files-crossed"
    check "$step: the window's file arrived whole at velmora-cli" \
        cmp -s "$window_file" "$cli_in/$(basename "$window_file")"
    check "$step: velmora-cli's file arrived whole in the window's Incoming folder" \
        cmp -s "$cli_file" "$home/Incoming/$(basename "$cli_file")"
    export_log "$route" "$work/$step.txt"
    check "$step: the window shows its own line" log_has_line "$work/$step.txt" \
        "$name>    Hello Cleo, $step"
    check "$step: the window shows velmora-cli's line" log_has_line "$work/$step.txt" \
        "Cleo>    Hello window, $step"
    # What the window said as it connected: a host waits, then its caller arrives; a joiner
    # says "Connected." once, as it opens beside the host.
    local opening
    opening=$(lines_before "$work/$step.txt" "$name>    Hello Cleo, $step")
    if [ "$role" = 0 ]; then
        check "$step: the window said \"Waiting for remote user...\" then \"Connected.\"" \
            test "$opening" = "Waiting for remote user...|Connected."
    else
        check "$step: the window said \"Connected.\" once as it joined" \
            test "${opening#*|}" = "Connected." -a "${opening%|*}" != "Connected."
    fi
    check "$step: the window says its file arrived whole" log_has_line "$work/$step.txt" \
        "File $(basename "$window_file") arrived whole and verified."
    check "$step: the window says where velmora-cli's file went" log_has_said_where \
        "$work/$step.txt" "File $(basename "$cli_file") received and saved into $home/Incoming/"

    # File > Disconnect, its question answered OK; velmora-cli is then ended by its user
    # (SIGTERM).
    focus_window "$(main_window "$route")"
    pick_menu_item "$route" f d
    await_dialog "$route" Velmora
    screenshot "$step-disconnect-question"
    check "$step: the question box offers to close it, not to maximise it" \
        box_offers_no_maximize "$dialog"
    press "$dialog" Return
    wait_for 10 cli_said "$name has left."
    sleep 1
    screenshot "$step-disconnected"
    check "$step: velmora-cli learns that the window left" cli_said "$name has left."
    local left
    left=$(other_windows "$route")
    [ -n "$left" ] && echo "seen: after Disconnect the window shows: $(echo "$left" | paste -sd ',')"
    check "$step: after Disconnect no dialog is left open" test -z "$left"
    kill -TERM "$cli_pid" 2>/dev/null
    wait_for 10 bash -c "! kill -0 $cli_pid 2>/dev/null"
    exec 3>&-
    echo "--- velmora-cli's output:"
    cat "$cli_out"
}

# --- The first hour after connecting, from another empty data folder -------------------------
# Options accepts the default incoming folder that does not exist yet; the keys go where the
# user types after connecting and after each mode switch; a blank line is not sent; after the
# other side leaves the window waits and says a line was not sent; closing the window while a
# file moves asks about it, then the window goes at once and velmora-cli names the file cut off.
cut_off_said() { grep -q "^Cut off as $1 left: .*$2" "$cli_out"; }  # cut_off_said NAME FILE
first_hour() {
    local main name start gone big=$work/big-from-window.bin
    route=hour
    home=$work/hour-home
    first_start "$route" "$home"
    close_start_up_window "$route"
    main=$(main_window "$route")

    # File > Options... (Up, Up: past Exit), OK as the dialog opens.
    check "hour: no incoming folder yet on a fresh install" test ! -e "$home/Incoming"
    press "$main" alt+f
    sleep 0.3
    xdotool key Up Up Return
    await_dialog "$route" Options
    screenshot "$route-options"
    press "$dialog" Return
    wait_for 10 no_window_named "$route" '^Options$'
    sleep 0.5
    screenshot "$route-options-ok"
    check "hour: OK in Options closed the dialog on a fresh install" \
        no_window_named "$route" '^Options$'
    check "hour: OK in Options showed no message" no_window_named "$route" '^Velmora$'
    check "hour: OK in Options made the incoming folder" test -d "$home/Incoming"
    [ -z "$(other_windows "$route")" ] || give_up "Options left a window: $(other_windows "$route")"

    connect_by_dialog 0
    answer_serial_prompt "$route" "$work/cable/A"
    start_cli join
    wait_for 40 cli_said "Connected with " || give_up "hour: velmora-cli did not connect"
    name=$(sed -n 's/^Connected with \(.*\)\.$/\1/p' "$cli_out" | head -1)
    # Typed at once, without a click, as soon as the window says it is connected (velmora-cli
    # may say so first; the word is read off the screen, without its full stop, which the
    # status bar leaves out) and has the keyboard back from the closed prompt: the keys go into
    # the message field. A blank line is not sent.
    wait_for 20 window_shows "$route" "Connected" ||
        give_up "hour: the window did not say it was connected"
    wait_for 10 is_active_window "$main" ||
        give_up "hour: the window did not get the keyboard back after connecting"
    xdotool type --delay 20 "Typed at once"
    xdotool key Return
    xdotool type --delay 20 "   "
    xdotool key Return
    wait_for 10 cli_said "$name>    Typed at once"
    screenshot "$route-typed-at-once"
    check "hour: a line typed right after connecting, without a click, went out" \
        cli_said "$name>    Typed at once"
    # Message > Classic mode: typed straight away, the text goes to the end of the conversation.
    pick_menu_item "$route" m a
    xdotool type --delay 20 "classic words"
    sleep 0.5
    screenshot "$route-classic-typed"
    # The word "Connected" of the second line double-clicked (the X selection), then a
    # middle-click into the first line: the word is pasted at the end, as typed text is, not at
    # the point clicked.
    xdotool mousemove --window "$main" 25 75 click --repeat 2 --delay 80 1
    sleep 0.3
    xdotool mousemove --window "$main" 200 61 click 2
    sleep 0.5
    screenshot "$route-classic-middle-click"
    # Message > Chat mode: the next line goes out.
    pick_menu_item "$route" m h
    xdotool type --delay 20 "Back in chat"
    xdotool key Return
    wait_for 10 cli_said "$name>    Back in chat"
    check "hour: the first line after switching back to chat mode went out" \
        cli_said "$name>    Back in chat"
    check "hour: the blank line was not sent" bash -c "! grep -qx '$name>  *' '$cli_out'"
    export_log "$route" "$work/hour-1.txt"
    check "hour: classic-mode keys typed after the switch, and a middle-click paste, went to the end" \
        test "$(lines_before "$work/hour-1.txt" "$name>    Back in chat" | cut -d'|' -f2)" = \
        "classic wordsConnected"
    check "hour: the middle-click put nothing where it was clicked" \
        log_has_line "$work/hour-1.txt" "Waiting for remote user..."

    # velmora-cli leaves: the window waits for the next caller; a line typed now is kept.
    kill -TERM "$cli_pid" 2>/dev/null
    wait_for 10 bash -c "! kill -0 $cli_pid 2>/dev/null"
    exec 3>&-
    sleep 1
    screenshot "$route-other-side-left"
    xdotool windowfocus --sync "$main"
    xdotool type --delay 20 "Anyone there"
    xdotool key Return
    sleep 0.5
    screenshot "$route-line-while-alone"
    export_log "$route" "$work/hour-2.txt"
    check "hour: after the other side left the window waits for the next caller" \
        test "$(lines_before "$work/hour-2.txt" "Nobody is connected: your line was not sent. It is kept in the message field.")" = \
        "Remote user disconnected.|Waiting for remote user..."
    check "hour: the line typed while nobody was there is not shown as sent" \
        bash -c "! grep -q 'Anyone there' '$work/hour-2.txt'"

    # A new caller is taken as it comes; the window sends a large file and is closed while the
    # file moves: the question names the file; No closes the window at once.
    start_cli join
    wait_for 40 cli_said "Connected with " || give_up "hour: the second caller did not connect"
    head -c 3000000 /dev/urandom >"$big"
    press "$main" Insert
    if wait_for 10 has_other_windows "$route" && sleep 1; then
        xdotool type --delay 10 "$big"
        xdotool key Return
    fi
    wait_for 20 grep -q "$(basename "$big")" "$cli_out"
    sleep 2
    screenshot "$route-file-moving"
    press "$main" alt+F4
    await_dialog "$route" Velmora
    screenshot "$route-close-question"
    xdotool key alt+n
    start=$SECONDS
    wait_for 10 question_gone "$route" "$dialog"
    # The question about the unsaved connection may follow: No.
    if wait_for 2 window_named "$route" '^Velmora$' >/dev/null; then
        screenshot "$route-close-second-question"
        xdotool key alt+n
    fi
    start=$SECONDS
    wait_for 10 bash -c "[ -z \"\$(xdotool search --all --pid ${pid_of[$route]} --onlyvisible \
        --name . 2>/dev/null)\" ]"
    gone=$((SECONDS - start))
    screenshot "$route-closed"
    echo "seen: the window was gone $gone s after the last answer"
    check "hour: the window closed after the answer" \
        test -z "$(other_windows "$route")$(main_window "$route")"
    wait_for 20 cut_off_said "$name" "$(basename "$big")"
    check "hour: velmora-cli learns that the window left" cli_said "$name has left."
    check "hour: velmora-cli names the file that was cut off" cut_off_said "$name" "$(basename "$big")"
    wait_for 20 bash -c "! kill -0 ${pid_of[$route]} 2>/dev/null"
    check "hour: the program ended" bash -c "! kill -0 ${pid_of[$route]} 2>/dev/null"
    kill -TERM "$cli_pid" 2>/dev/null
    exec 3>&-
    echo "--- velmora-cli's output:"
    cat "$cli_out"
    show_errors "$route"
}

# --- Through File > New connection... -----------------------------------------------------------
route=dialog
home=$work/dialog-home
first_start "$route" "$home"
close_start_up_window "$route"
connection connect_by_dialog 0
connection connect_by_dialog 1
focus_window "$(main_window "$route")"
pick_menu_item "$route" f x
wait_for 10 bash -c "! kill -0 ${pid_of[$route]} 2>/dev/null"
check "dialog: File > Exit ended the program" bash -c "! kill -0 ${pid_of[$route]} 2>/dev/null"
show_errors "$route"

# --- Through the connection wizard, from another empty data folder -----------------------------
route=wizard
home=$work/wizard-home
first_start "$route" "$home"
connection connect_by_wizard 1
connection connect_by_wizard 0
show_errors "$route"

# --- By the keyboard alone, from another empty data folder -------------------------------------
# The start-up window's link "Create new connection" by Tab and Enter; in the New connection
# dialog, which opens on Modem, Tab to the chosen method, Down to Null-modem, Tab to the role,
# Down for Slave, Enter for Connect. No mouse until the chat line of the connection's checks.
route=keyboard
home=$work/keyboard-home
connect_by_keyboard() {  # connect_by_keyboard ROLE
    local welcome
    welcome=$(window_named "$route" '^Welcome to Velmora !$')
    if [ -n "$welcome" ]; then
        press "$welcome" Tab
        sleep 0.3
        screenshot "$route-start-up-link-focused"
        xdotool key Return
    else
        press "$(main_window "$route")" ctrl+n
    fi
    await_dialog "$route" "New connection"
    screenshot "$route-new-connection-opened"
    local keys=(Tab Down Tab)
    [ "$1" = 1 ] && keys+=(Down)
    press "$dialog" "${keys[@]}"
    sleep 0.3
    screenshot "$route-new-connection-chosen"
    xdotool key Return
}
first_start "$route" "$home"
connection connect_by_keyboard 0
connection connect_by_keyboard 1
# Ctrl+N while nothing is connected opens the dialog at once; Esc closes it, Alt+F X ends.
press "$(main_window "$route")" ctrl+n
await_dialog "$route" "New connection"
check "keyboard: the New connection dialog opens over the main window with its title bar" \
    test "$(xdotool getwindowgeometry --shell "$dialog" | sed -n 's/^Y=//p')" -gt 0
press "$dialog" Escape
wait_for 10 no_window_named "$route" '^New connection$'
check "keyboard: Esc closed the New connection dialog" no_window_named "$route" '^New connection$'
focus_window "$(main_window "$route")"
pick_menu_item "$route" f x
# Asked whether to save the connection: No (Alt+N).
if wait_for 5 window_named "$route" '^Velmora$' >/dev/null; then
    screenshot "$route-exit-question"
    press "$(window_named "$route" '^Velmora$')" alt+n
fi
wait_for 10 bash -c "! kill -0 ${pid_of[$route]} 2>/dev/null"
check "keyboard: File > Exit ended the program" bash -c "! kill -0 ${pid_of[$route]} 2>/dev/null"
show_errors "$route"
# Qt warns when a timer or a socket notifier is made on a thread that cannot run it (a thread
# not started by QThread, or another thread than the object's): the port or the line it serves
# is then not watched as the code expects.
first_hour
thread_warnings='QSocketNotifier: Can only be used with threads started with QThread'
thread_warnings+='|Timers cannot be started from another thread'
for program in dialog wizard keyboard hour cli; do
    check "$program: no timer or notifier made on a thread that cannot run it" \
        bash -c "! cat '$work/$program'*.err | grep -E '$thread_warnings'"
done
finish_checks
