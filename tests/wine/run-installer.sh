#!/usr/bin/env bash
# The installer under Wine, in a fresh prefix where nothing was installed: the
# operator's settings and production records are there first; the installer
# runs silently (/S) and puts the program, the chip list and the sample file in
# place, writes `setup`, the programs-list entry and the shortcuts; the
# program then starts from the installed folder and finds its chip list with
# no box; an upgrade over it and the uninstaller keep the settings, the
# records and the program key's other values; the uninstaller takes the rest;
# a folder given with /D is where it goes.
#
#   tests/wine/run-installer.sh [INSTALLER]
#
# Without INSTALLER: build-package/veldrix-setup-VERSION.exe, the 32-bit
# installer, where this machine runs 32-bit programs; elsewhere its 64-bit
# build (scripts/package.sh --amd64), the same installer script, and the run
# says so. Both install the 64-bit program on 64-bit Windows.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# shellcheck source=../../scripts/run-windows.sh
source "$root/scripts/run-windows.sh"

started=$SECONDS
set -e
vw_tools
vw_build_sim
vw_build_windows "" veldrix-driver
version="$(sed -n 's/.*VALUE "ProductVersion", "\([^"]*\)".*/\1/p' "$root/resources/veldrix.rc")"
installer="${1:-}"
if [ -z "$installer" ]; then
    installer="$root/build-package/veldrix-setup-$version.exe"
    if ! vw_runs_32bit; then
        echo "installer: this machine runs no 32-bit programs: the 64-bit build of the same installer is tested"
        installer="$root/build-package/veldrix-setup-$version-amd64.exe"
    fi
fi
set +e
for f in "$installer" "$vw_win/veldrix-driver.exe" "$vw_win/veldrix.exe" "$root/build/veldrix-sim"; do
    [ -f "$f" ] || { echo "installer: missing $f (scripts/package.sh builds the installers)" >&2; exit 2; }
done

out="$root/build-package/test"
rm -rf "$out"
mkdir -p "$out"
log="$out/installer.log"
: >"$log"
failed=0
fail() { echo "FAIL: $*" | tee -a "$log"; failed=1; }
ok() { echo "  ok $*" >>"$log"; }

trap vw_cleanup EXIT
unset DISPLAY
vw_start_xvfb || exit 2
# Shortcuts stay in the prefix: no menu entries or desktop files for this user.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
home="$root/build-package/wine"
rm -rf "$home"
VW_NO_INSTALL_DIR=1 vw_prefix "$home" "$(vw_desktop)" >/dev/null || exit 2
drive_c="$WINEPREFIX/drive_c"
folder="$drive_c/Program Files/ZEMKO/VELDRIX"
win_folder='C:\Program Files\ZEMKO\VELDRIX'
records="$home/records"
program_key='HKLM\Software\ZEMKO\VELDRIX'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VELDRIX'

# value KEY NAME: the value as reg query shows it (empty when there is none),
# from the prefix's code page (936).
value() {
    vw_reg query "$1" /v "$2" 2>/dev/null | iconv -f GBK -t UTF-8 | tr -d '\r' |
        awk -v name="$2" '$1 == name { sub(/^ +/, ""); sub(/^[^ ]+ +[^ ]+ +/, ""); print; exit }'
}
expect_value() { # expect_value KEY NAME WANT
    local got
    got="$(value "$1" "$2")"
    if [ "$got" = "$3" ]; then ok "$1 $2 = $got"; else fail "$1 $2 is \"$got\", expected \"$3\""; fi
}
expect_file() { # expect_file PATH present|gone
    if [ -e "$1" ]; then
        [ "$2" = present ] && ok "$1 there" || fail "$1 is still there"
    else
        [ "$2" = gone ] && ok "$1 gone" || fail "$1 is missing"
    fi
}
run_setup() { # run_setup ARG...: the installer, to its end
    "$WINE" "$(vw_winpath "$installer")" "$@" >>"$log" 2>&1
    "$WINESERVER" -w
}

# The operator's settings and records, and a value of the machine's key that
# is not the installer's.
mkdir -p "$records"
printf '\xef\xbb\xbf时间,结果\r\n2025-03-03T08:00:05+08:00,good\r\n' >"$records/2025-03-03.csv"
cp "$records/2025-03-03.csv" "$out/records-before.csv"
printf '[HKEY_CURRENT_USER\\Software\\ZEMKO\\VELDRIX]\n"chip"="S3F9454"\n\n[HKEY_LOCAL_MACHINE\\Software\\ZEMKO\\VELDRIX]\n"log_dir"="%s"\n' \
    "$(vw_winpath "$records" | sed 's/\\/\\\\/g')" >"$home/before.reg"
vw_import "$home/before.reg"
"$WINESERVER" -w
log_dir="$(value "$program_key" log_dir)"
[ -n "$log_dir" ] || fail "the records folder could not be set up"

echo "-- installed silently: $(basename "$installer")" >>"$log"
run_setup /S
for f in veldrix.exe veldrix-cli.exe samlist.txt sample.hex uninstall.exe; do expect_file "$folder/$f" present; done
# The 64-bit program on 64-bit Windows.
cmp -s "$folder/veldrix.exe" "$vw_win/veldrix.exe" && ok "veldrix.exe is the 64-bit build" ||
    fail "veldrix.exe is not $vw_win/veldrix.exe"
cmp -s "$folder/samlist.txt" "$root/resources/samlist.txt" || fail "samlist.txt differs from resources/samlist.txt"
expect_value "$program_key" setup "$win_folder"
expect_value "$uninstall_key" DisplayVersion "$version"
expect_value "$uninstall_key" UninstallString "\"$win_folder\\uninstall.exe\""
expect_file "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/VELDRIX/VELDRIX.lnk" present
expect_file "$drive_c/users/Public/Desktop/VELDRIX.lnk" present
cli_version="$("$WINE" "$win_folder\\veldrix-cli.exe" --version 2>&1 | tr -d '\r' | head -n 1)"
[ "$cli_version" = "veldrix-cli $version" ] && ok "$cli_version" ||
    fail "veldrix-cli --version says \"$cli_version\", the installer's name $version"

echo "-- the installed program" >>"$log"
vw_start_sim --fast || exit 2
vw_server_up
vw_plug
"$WINE" "$win_folder\\veldrix.exe" >>"$log" 2>&1 </dev/null &
app=$!
cat >"$out/started.drv" <<EOF
wait-window 30
wait-status "$VW_CONNECTED" 30
no-box
# The chip list loaded, the chip of the settings chosen from it.
expect 1000 S3F9454
select 1000 S3C9454
expect 1000 S3C9454
no-box
EOF
"$WINE" "$vw_win/veldrix-driver.exe" run "$(vw_winpath "$out/started.drv")" >>"$log" 2>&1 ||
    fail "the installed program did not start as it should (see $log)"
import -window root "$out/installed.png" 2>>"$log"
"$WINE" "$vw_win/veldrix-driver.exe" close >>"$log" 2>&1
for i in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill "$app" 2>/dev/null
wait "$app" 2>/dev/null
vw_stop_sim
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w
expect_value 'HKCU\Software\ZEMKO\VELDRIX' chip S3C9454

echo "-- upgraded over it" >>"$log"
run_setup /S
expect_file "$folder/veldrix.exe" present
expect_value "$program_key" setup "$win_folder"
expect_value 'HKCU\Software\ZEMKO\VELDRIX' chip S3C9454
expect_value "$program_key" log_dir "$log_dir"
cmp -s "$records/2025-03-03.csv" "$out/records-before.csv" && ok "records kept" || fail "the records changed"

echo "-- uninstalled silently" >>"$log"
# The uninstaller runs from a copy of itself: the server's end is its end.
"$WINE" "$win_folder\\uninstall.exe" /S >>"$log" 2>&1
"$WINESERVER" -w
for f in veldrix.exe veldrix-cli.exe samlist.txt sample.hex uninstall.exe; do expect_file "$folder/$f" gone; done
expect_file "$folder" gone
expect_file "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/VELDRIX" gone
expect_file "$drive_c/users/Public/Desktop/VELDRIX.lnk" gone
expect_value "$program_key" setup ""
expect_value "$uninstall_key" DisplayVersion ""
expect_value "$program_key" log_dir "$log_dir"
expect_value 'HKCU\Software\ZEMKO\VELDRIX' chip S3C9454
cmp -s "$records/2025-03-03.csv" "$out/records-before.csv" && ok "records kept" || fail "the records changed"

echo "-- installed silently into a folder of the operator's choice" >>"$log"
run_setup /S '/D=C:\产线\VELDRIX'
expect_file "$drive_c/产线/VELDRIX/veldrix.exe" present
expect_file "$folder" gone
expect_value "$program_key" setup 'C:\产线\VELDRIX'
"$WINE" 'C:\产线\VELDRIX\uninstall.exe' /S >>"$log" 2>&1
"$WINESERVER" -w
expect_file "$drive_c/产线/VELDRIX" gone
expect_value "$program_key" setup ""

took=$((SECONDS - started))
if [ "$failed" = 0 ]; then
    echo "installer: $(basename "$installer") installed, started, upgraded and uninstalled under Wine in $took s ($log)"
    exit 0
fi
echo "installer: FAILED in $took s ($log)"
exit 1
