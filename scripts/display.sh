# Private displays for the scripts and the tests, sourced: a scratch folder with a runtime folder
# of its own, an Xvfb or a headless sway of their own, and an exit that ends every process started
# here (newest first) and removes the scratch folder made here.
# shellcheck shell=bash

vb_started=()
vb_scratch=${vb_scratch:-}
vb_own_scratch=

vb_cleanup() {
    local i
    for ((i = ${#vb_started[@]} - 1; i >= 0; i--)); do
        kill "${vb_started[i]}" 2>/dev/null || true
        wait "${vb_started[i]}" 2>/dev/null || true
    done
    [ -z "$vb_own_scratch" ] || rm -rf "$vb_own_scratch"
}
trap vb_cleanup EXIT

# vb_start COMMAND... : runs it in the background, ended at exit; sets started to its pid.
vb_start() {
    "$@" &
    started=$!
    vb_started+=("$started")
}

# vb_stop PID... : ends the processes and waits for them.
vb_stop() {
    local pid
    kill "$@" 2>/dev/null || true
    for pid; do wait "$pid" 2>/dev/null || true; done
}

# vb_wait SECONDS COMMAND... : polls the command until it succeeds; returns 1 after SECONDS.
vb_wait() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}

# vb_private_scratch TEMPLATE : makes vb_scratch, a new folder under TMPDIR named after mktemp's
# TEMPLATE (NAME.XXXXXX) and removed at exit, with the private runtime folder (0700)
# vb_scratch/runtime, exported as XDG_RUNTIME_DIR.
vb_private_scratch() {
    vb_scratch=$(mktemp -d "${TMPDIR:-/tmp}/$1")
    vb_own_scratch=$vb_scratch
    mkdir -m 0700 "$vb_scratch/runtime"
    export XDG_RUNTIME_DIR=$vb_scratch/runtime
}

# vb_xvfb SCREEN [XVFB_OPTION...] : starts a private Xvfb with one screen (WIDTHxHEIGHTxDEPTH),
# waits for it and exports DISPLAY; sets vb_xvfb_pid. Ends the script where it cannot start.
# -displayfd lets the server pick a free display number, so that runs can go side by side;
# -noreset keeps the server (and the pointer position) when its last client leaves.
vb_xvfb() {
    local screen=$1 _
    shift
    rm -f "$vb_scratch/display"
    vb_start Xvfb -displayfd 3 -noreset -nolisten tcp "$@" -screen 0 "$screen" \
        3>"$vb_scratch/display" 2>"$vb_scratch/xvfb.log"
    vb_xvfb_pid=$started
    for _ in $(seq 1 100); do
        [ -s "$vb_scratch/display" ] && break
        kill -0 "$vb_xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$vb_scratch/display" ]; then
        echo "${0##*/}: Xvfb did not start:" >&2
        cat "$vb_scratch/xvfb.log" >&2
        exit 1
    fi
    DISPLAY=":$(head -n1 "$vb_scratch/display")"
    export DISPLAY
}

# The headless sway and its clients run as an ordinary user, since sway refuses to run as root:
# as root that is "nobody" (through setpriv, like the tests of what a user may not read),
# otherwise the script's own user. vb_user_session makes the user's home, vb_user_home, in the
# scratch folder, with the runtime folder (0700) and XDG_CONFIG_HOME of the session.
vb_user_session() {
    vb_user_home=$vb_scratch/user
    mkdir -p "$vb_user_home/config"
    mkdir -m 0700 "$vb_user_home/runtime"
    unset WAYLAND_DISPLAY SWAYSOCK
}

# vb_as_user COMMAND... : runs the command as the user, in the session's environment (no DISPLAY
# unless given; Qt's platform left to the program).
vb_as_user() {
    (vb_exec_as_user "$@")
}

# vb_start_as_user COMMAND... : vb_start for a command run as the user.
vb_start_as_user() {
    vb_start vb_exec_as_user "$@"
}

vb_exec_as_user() {
    local become=()
    [ "$(id -u)" -ne 0 ] || become=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    exec "${become[@]}" env -u DISPLAY -u QT_QPA_PLATFORM HOME="$vb_user_home" \
        XDG_RUNTIME_DIR="$vb_user_home/runtime" XDG_CONFIG_HOME="$vb_user_home/config" "$@"
}

# vb_give_to_user : hands the user's home over to the user (after the script has put files in it).
vb_give_to_user() {
    if [ "$(id -u)" -eq 0 ]; then
        chmod 0711 "$vb_scratch"
        chown -R 65534:65534 "$vb_user_home"
    fi
}

# vb_sway CONFIG_LINE... : starts sway as the user with a headless output (1280 x 720 unless the
# configuration says otherwise) and waits until it answers; exports WAYLAND_DISPLAY and SWAYSOCK
# for the user's commands. Its log is vb_scratch/sway.log. Returns 1 where sway cannot start, 2
# where it started but does not answer.
vb_sway() {
    local runtime=$vb_user_home/runtime socket
    printf '%s\n' "$@" >"$vb_user_home/sway.conf"
    vb_give_to_user
    vb_start_as_user env WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        sway -c "$vb_user_home/sway.conf" >"$vb_scratch/sway.log" 2>&1
    vb_wait 15 compgen -G "$runtime/sway-ipc.*.sock" || return 1
    SWAYSOCK=$(compgen -G "$runtime/sway-ipc.*.sock" | head -n1)
    for socket in "$runtime"/wayland-*; do
        [[ $socket == *.lock ]] || break
    done
    export WAYLAND_DISPLAY=${socket##*/} SWAYSOCK
    vb_wait 10 vb_as_user swaymsg -t get_outputs || return 2
}
