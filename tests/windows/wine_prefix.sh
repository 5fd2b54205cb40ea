# Sourced by the wine test scripts (tests/windows/run.sh, win/tests/gui_test.sh).
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
