#!/usr/bin/env bash
# Pictures of every dialog of the PIN pad library, and of the tray monitor's icon and balloon,
# in English (1033) and Simplified Chinese (2052): installs the win64 build into a Wine prefix of its own, opens each dialog with
# dialog_gallery.exe on a display of its own, and leaves the PNG files in build/screenshots/.
#   tools/screenshots.sh [LANGUAGE...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
out=$root/build/screenshots
gallery=$build/pinpad/dialog_gallery.exe
[ -f "$gallery" ] || { echo "screenshots: build the win64 preset first" >&2; exit 1; }
languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(1033 2052)

rm -rf "$out"
mkdir -p "$out"
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT

export WINEPREFIX=$root/build/wine/screenshots-prefix
export KOBA_ROOT=$root
"$root/tools/with-wine.sh" bash -c '
  set -e
  # Chinese texts need the CJK font behind the dialog fonts. Only this prefix gets it; it changes
  # how every dialog renders, and the PIN dialog tests of the test prefix were seen to fail with it.
  python3 -c "import sys; sys.path.insert(0, sys.argv[1]); import pinpad_driver; pinpad_driver.show_chinese_texts()" \
    "$KOBA_ROOT/tools/pylib"
  python3 "$KOBA_ROOT/tools/pylib/install.py" "$1" >/dev/null
  "$KOBA_ROOT/tools/wine-run" "$2" "Z:${3//\//\\}" "${@:4}" </dev/null >"$3/gallery.log" 2>&1 ||
    { cat "$3/gallery.log" >&2; exit 1; }
  # The installer plug-in asking to close the programs that hold a DLL.
  python3 "$KOBA_ROOT/installer/tests/owner_dialog_shot.py" "$1/installer" \
    "$1/installer/plugin_probe.exe" "$3/installer_close_programs.png"
' screenshots "$build" "$gallery" "$shots" "${languages[@]}"

# The tray monitor's icon and first balloon, on the whole display. The desktop process draws
# the balloon and takes its fonts when it starts, so the CJK font is set up in a first run and
# the pictures are taken in a second one on the same prefix (kept outside build/, which
# with-wine.sh makes fresh).
tray_prefix=$(mktemp -d)
trap 'rm -rf "$shots" "$tray_prefix"' EXIT
export WINEPREFIX=$tray_prefix/prefix
"$root/tools/with-wine.sh" bash -c '
  set -e
  python3 -c "import sys; sys.path.insert(0, sys.argv[1]); import pinpad_driver; pinpad_driver.show_chinese_texts()" \
    "$KOBA_ROOT/tools/pylib"
  python3 "$KOBA_ROOT/tools/pylib/install.py" "$1" >/dev/null
' tray "$build"
"$root/tools/with-wine.sh" bash -c '
  tray="$WINEPREFIX/drive_c/Program Files/KOBA/Q2Svr_KOBA.exe"
  for language in "${@:3}"; do
    "$KOBA_ROOT/tools/wine-run" reg add "HKLM\\Software\\Korvanet\\507Q2_KOBA" /v Langid \
      /t REG_DWORD /d "$language" /f >/dev/null 2>&1
    "$KOBA_ROOT/tools/wine-run" "$tray" installTrayTip </dev/null >/dev/null 2>&1 &
    if "$KOBA_ROOT/tools/wine-run" "$1/traymon/tray_probe.exe" balloon 30 </dev/null >/dev/null 2>&1; then
      xwd -root -display "$DISPLAY" | /usr/bin/convert xwd:- "$2/${language}_tray.bmp"
    else
      echo "screenshots: no tray balloon in language $language" >&2
    fi
    "$KOBA_ROOT/tools/wine-run" "$tray" kill </dev/null >/dev/null 2>&1 || true
    wait
  done
' tray "$build" "$shots" "${languages[@]}"

for bmp in "$shots"/*.bmp; do
  /usr/bin/convert "$bmp" "$out/$(basename "${bmp%.bmp}").png"
done
cp "$shots"/*.png "$out/"
ls "$out"
