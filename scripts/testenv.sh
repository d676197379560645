# Source this file, then call `tessary_env_start [NAME]` and later
# `tessary_env_stop`. It gives the shell a private X server (Xvfb), a private
# PulseAudio daemon whose null sink "loop" plays into its own monitor (the
# default source, so what the program plays it also hears), and a Wine
# prefix. Several named environments can run side by side without hearing
# each other.

TESSARY_SCRIPTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

tessary_env_start() {
  local name=${1:-default}
  TESSARY_ENV_DIR=${TESSARY_ENV_ROOT:-/tmp/tessary-env}/$name
  mkdir -p "$TESSARY_ENV_DIR/run"
  chmod 700 "$TESSARY_ENV_DIR" "$TESSARY_ENV_DIR/run"
  export TESSARY_ENV_DIR
  export XDG_RUNTIME_DIR=$TESSARY_ENV_DIR/run
  export WINEPREFIX=${WINEPREFIX:-$TESSARY_ENV_DIR/wineprefix}
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

  # X server
  if [ -f "$TESSARY_ENV_DIR/xvfb.pid" ] && kill -0 "$(cat "$TESSARY_ENV_DIR/xvfb.pid")" 2>/dev/null; then
    export DISPLAY=$(cat "$TESSARY_ENV_DIR/display")
  else
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1200x24 -nolisten tcp >"$TESSARY_ENV_DIR/xvfb.log" 2>&1 &
    echo $! >"$TESSARY_ENV_DIR/xvfb.pid"
    echo ":$n" >"$TESSARY_ENV_DIR/display"
    export DISPLAY=":$n"
    local i
    for i in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi

  # Sound loopback
  if ! pactl info >/dev/null 2>&1; then
    pulseaudio --daemonize=yes --exit-idle-time=-1 -n \
      --load="module-null-sink sink_name=loop" \
      --load="module-native-protocol-unix" --load="module-always-sink" \
      >"$TESSARY_ENV_DIR/pulse.log" 2>&1 || true
    local i
    for i in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl set-default-sink loop
    pactl set-default-source loop.monitor
  fi

  # Wine prefix, made once and then reused
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >"$TESSARY_ENV_DIR/wineboot.log" 2>&1 || true
    wineserver -w 2>/dev/null || true
    tessary_wine_fonts
  fi
  # Keep one wineserver alive for the session (many short test processes),
  # and start Wine's background services now, detached from our output:
  # started by a test they would inherit its stdout pipe and hold it open,
  # so a caller waiting for end-of-output (CTest's test discovery) hangs.
  wineserver -p 2>/dev/null || true
  wine cmd /c exit >"$TESSARY_ENV_DIR/wine-warmup.log" 2>&1 </dev/null || true
}

# Wine has no Consolas; its default stand-in is wider and cuts button texts.
# Inconsolata (Debian's fonts-inconsolata) is drawn to the same proportions.
tessary_wine_fonts() {
  "$TESSARY_SCRIPTS/wine-run" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Consolas /t REG_SZ \
    /d Inconsolata /f >/dev/null 2>&1 </dev/null || true
}

# Runs "$@" with no sound server reachable (for the failure paths).
tessary_without_sound() {
  PULSE_SERVER=unix:/nonexistent/native XDG_RUNTIME_DIR=/nonexistent "$@"
}

tessary_env_stop() {
  [ -n "${TESSARY_ENV_DIR:-}" ] || return 0
  WINEPREFIX=${WINEPREFIX:-$TESSARY_ENV_DIR/wineprefix} wineserver -k 2>/dev/null || true
  XDG_RUNTIME_DIR=$TESSARY_ENV_DIR/run pulseaudio --kill 2>/dev/null || true
  if [ -f "$TESSARY_ENV_DIR/xvfb.pid" ]; then
    kill "$(cat "$TESSARY_ENV_DIR/xvfb.pid")" 2>/dev/null || true
    rm -f "$TESSARY_ENV_DIR/xvfb.pid"
  fi
}
