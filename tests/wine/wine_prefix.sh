# Sourced by the Wine test scripts: finds the 64-bit Wine loader and makes a fresh prefix in
# a temporary folder, removed again when the script exits.
#
#   wine_prefix <tag>    sets $wine (the loader) and $work (the temporary folder, prefix in
#                        $work/prefix), exports WINEPREFIX, WINEDEBUG and WINEARCH; prints
#                        why and returns 1 when Wine is missing or the prefix cannot be made.

wine_prefix() {
  if command -v wine >/dev/null 2>&1; then
    wine=wine
  elif [[ -x /usr/lib/wine/wine64 ]]; then
    wine=/usr/lib/wine/wine64
  else
    echo "wine is not installed (scripts/setup-deps.sh windows)"
    return 1
  fi

  work=$(mktemp -d "${TMPDIR:-/tmp}/lumetra-wine-$1.XXXXXX")
  export WINEPREFIX=$work/prefix
  export WINEDEBUG=-all
  export WINEARCH=win64
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

  # Without the Mono and Gecko installers, and with the null graphics driver: nothing here
  # opens a window and CI has no display.
  echo "preparing a Wine prefix in $WINEPREFIX"
  if ! WINEDLLOVERRIDES="mscoree,mshtml=" timeout 180 "$wine" wineboot -i >"$work/wineboot.log" 2>&1; then
    cat "$work/wineboot.log"
    echo "wineboot failed"
    return 1
  fi
  "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}
