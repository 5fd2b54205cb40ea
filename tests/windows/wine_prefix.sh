# Sourced by the wine test scripts (tests/windows/run.sh, win/tests/gui_test.sh, dpi_shot.sh).
# make_wine_prefix WINE WINESERVER: a usable prefix at $WINEPREFIX, made when it has none.
# wineboot now and then leaves a prefix without its system DLLs (seen once in a clean CI run:
# system32 held only winedevice.exe) and every program then fails to load kernel32.dll, so the
# prefix is checked and made again.
wine_prefix_ready() {
  [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]
}
make_wine_prefix() {
  local attempt
  for attempt in 1 2 3; do
    wine_prefix_ready && return 0
    "$2" -k >/dev/null 2>&1
    rm -rf "$WINEPREFIX"
    timeout 120 "$1" wineboot -i >/dev/null 2>&1
    # wineboot may leave work to its server; the prefix is whole when that ends.
    timeout 60 "$2" -w >/dev/null 2>&1 || "$2" -k >/dev/null 2>&1
  done
  wine_prefix_ready
}

# start_xvfb WORK SIZE: an Xvfb screen of SIZE (WxHxD) as $DISPLAY; its pid joins $pids.
start_xvfb() {
  exec 3>"$1/display"
  Xvfb -displayfd 3 -screen 0 "$2" -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  exec 3>&-
  for _ in $(seq 100); do [ -s "$1/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(head -n 1 "$1/display")
}

# make_window_prefix WINE WINESERVER: make_wine_prefix, then windows that wine frames itself (no
# window manager under Xvfb) and wine's own fonts. The session that made the prefix ends: a window
# opened in it would not reach the display.
make_window_prefix() {
  wine_prefix_ready && return 0
  make_wine_prefix "$1" "$2" || return 1
  "$1" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  for font in /usr/share/wine/fonts/*; do
    [ -e "$font" ] && ln -sf "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
  done
  timeout 60 "$2" -w || "$2" -k
}
