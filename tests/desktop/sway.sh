# A headless sway for the Wayland tests (started by scripts/display.sh as an ordinary user) and
# the checks that look at it. Sourced instead of lib.sh.
# shellcheck shell=bash
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

vbt_need_daemon sway wtype grim swayidle xwayland python3
vbt_version sway
vb_user_session

# vbt_sway CONFIG_LINE... : starts sway and waits until it answers. The test is skipped where
# sway cannot start.
vbt_sway() {
    local status=0
    vb_sway "$@" || status=$?
    [ $status -ne 1 ] || vbt_skip "sway cannot start here: $(grep -v Fontconfig "$scratch/sway.log" | tail -n 5)"
    [ $status -eq 0 ] || vbt_fail "sway does not answer: $(cat "$scratch/sway.log")"
}

# vbt_screen_near X Y COLOUR : the pixel at (X, Y) of the outputs is within 40 of COLOUR.
vbt_screen_near() {
    vb_as_user grim -g "$1,$2 1x1" "$vb_user_home/pixel.png" &&
        vbt_colour_near "$(convert "$vb_user_home/pixel.png" -depth 8 txt:- 2>/dev/null)" "$3"
}

# vbt_output_shows_picture X Y WIDTH HEIGHT COLOUR : the output at (X, Y) of that size shows the
# picture's colour in its middle and black in its corners.
vbt_output_shows_picture() {
    vbt_screen_near $(($1 + $3 / 2)) $(($2 + $4 / 2)) "$5" && vbt_screen_near $(($1 + 2)) $(($2 + 2)) '#000000' &&
        vbt_screen_near $(($1 + $3 - 3)) $(($2 + $4 - 3)) '#000000'
}

# vbt_windows_of PID : sway's windows of that process, one line each: "SHELL FULLSCREEN_MODE".
vbt_windows_of() {
    vb_as_user swaymsg -t get_tree -r |
        python3 -c 'import json, sys
def walk(node):
    if node.get("pid") == int(sys.argv[1]):
        print(node.get("shell"), node.get("fullscreen_mode"))
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(sys.stdin))' "$1"
}

# vbt_full_screen PID SHELL : the process shows one window, full screen, through that shell
# ("xdg_shell" or "xwayland").
vbt_full_screen() {
    [ "$(vbt_windows_of "$1")" = "$2 1" ]
}

# vbt_full_screen_on PID OUTPUT : the process shows a full-screen window on that output.
vbt_full_screen_on() {
    vb_as_user swaymsg -t get_tree -r |
        python3 -c 'import json, sys
def walk(node, output):
    output = node.get("name") if node.get("type") == "output" else output
    found = node.get("pid") == int(sys.argv[1]) and output == sys.argv[2] and node.get("fullscreen_mode") == 1
    return found or any(walk(child, output) for child in node.get("nodes", []) + node.get("floating_nodes", []))
sys.exit(0 if walk(json.load(sys.stdin), None) else 1)' "$1" "$2"
}

# vbt_window_events : from now on sway's window events go to $scratch/events, one a line after
# the time in ms it came; polling the tree is too slow on a loaded machine to time a change.
vbt_window_events() {
    vb_start_as_user swaymsg -r -m -t subscribe '["window"]' \
        > >(while read -r line; do echo "$(($(date +%s%N) / 1000000)) $line"; done >"$scratch/events")
}

# vbt_now_ms : the time in ms, as vbt_window_events writes it.
vbt_now_ms() {
    echo $(($(date +%s%N) / 1000000))
}

# vbt_full_screen_within SINCE MS PID : within MS ms after the time SINCE a full-screen window of
# the process came.
vbt_full_screen_within() {
    python3 -c 'import json, sys
since, ms, pid = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
for line in open(sys.argv[4]):
    time, event = line.split(" ", 1)
    event = json.loads(event)
    window = event.get("container", {})
    if since <= int(time) <= since + ms and window.get("pid") == pid and window.get("fullscreen_mode") == 1:
        sys.exit(0)
sys.exit(1)' "$1" "$2" "$3" "$scratch/events"
}

# vbt_output_picture OUTPUT COLOUR : grim's picture of that whole output shows the picture's
# colour in its middle and black in its corners.
vbt_output_picture() {
    local shot=$vb_user_home/output.png
    vb_as_user grim -o "$1" "$shot" || return 1
    local w h
    read -r w h < <(convert "$shot" -format '%w %h' info:)
    local point
    for point in "$((w / 2))+$((h / 2)) $2" "2+2 #000000" "$((w - 3))+$((h - 3)) #000000"; do
        vbt_colour_near "$(convert "$shot" -depth 8 -crop "1x1+${point%% *}" txt:- 2>/dev/null)" "${point#* }" ||
            return 1
    done
}

# vbt_has_window PID : the process shows a window.
vbt_has_window() {
    [ -n "$(vbt_windows_of "$1")" ]
}

# vbt_ended PID : the process has ended, though it may not have been waited for yet.
vbt_ended() {
    vbt_gone "$1" || [ "$(sed 's/.*) //' "/proc/$1/stat" | cut -d' ' -f1)" = Z ]
}

# vbt_ends_with PID STATUS : the background process ends within 10 s, with that exit status.
vbt_ends_with() {
    local status=0
    vb_wait 10 vbt_ended "$1" || return 1
    wait "$1" || status=$?
    [ "$status" = "$2" ]
}

# vbt_checkerboard FILE : a 400 x 300 BMP of one-pixel squares of two colours, so that any
# resampling of it shows.
vbt_checkerboard() {
    convert -size 400x300 pattern:gray50 +level-colors '#d04080,#40d080' "BMP3:$1"
}

# vbt_output_shows PICTURE OUTPUT [SCALED] : grim's picture of the whole output shows PICTURE
# centred (to a pixel) on black: pixel for pixel, or where SCALED is given, at its own size to a
# pixel.
vbt_output_shows() {
    local shot=$vb_user_home/output.png width height box w h x y pw ph
    vb_as_user grim -o "$2" "$shot" || return 1
    read -r width height box < <(convert "$shot" -fuzz 10% -format '%w %h %@' info:)
    IFS='x+' read -r w h x y <<<"$box"
    read -r pw ph < <(convert "$1" -format '%w %h' info:)
    [ $((w - pw)) -ge -1 ] && [ $((w - pw)) -le 1 ] && [ $((h - ph)) -ge -1 ] && [ $((h - ph)) -le 1 ] &&
        [ $((2 * x + w - width)) -ge -2 ] && [ $((2 * x + w - width)) -le 2 ] &&
        [ $((2 * y + h - height)) -ge -2 ] && [ $((2 * y + h - height)) -le 2 ] || return 1
    [ -n "${3:-}" ] || [ "$(convert "$shot" -crop "$box" +repage "$1" -metric AE -compare -format '%[distortion]' info:)" = 0 ]
}
