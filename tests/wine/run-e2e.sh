#!/usr/bin/env bash
# End-to-end tests of veldrix.exe under Wine: the real window on a private Xvfb,
# worked from outside by veldrix-driver.exe, each test against a fresh
# veldrix-sim. A screenshot of the display per test goes to build-win/e2e/NAME.png,
# the driver's transcript to build-win/e2e/NAME.log (VELDRIX_BUILD_WIN moves both,
# with the build they use).
#
#   tests/wine/run-e2e.sh [--no-build] [--release] [NAME...]
#       NAME: startup download info-box auto-program code-view offline-file address-filter field-widths
#       unplug quit-settings demo (all of them when none is named), and the longer ones --release
#       runs (scripts/test-release.sh does): pull busy-line dpi line-db
#
# VELDRIX_WIN_ARCH=i686 runs the 32-bit build (VW_WINEARCH=win32: on a 32-bit
# Windows prefix); VELDRIX_E2E_HOME moves the prefix (default: the build's wine-e2e).
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# shellcheck source=../../scripts/run-windows.sh
source "$root/scripts/run-windows.sh"
# shellcheck source=../odbc/pg-server.sh
source "$root/tests/odbc/pg-server.sh"

build=1 release=0
selected=()
for arg in "$@"; do
    case "$arg" in
        --no-build) build=0 ;;
        --release) release=1 ;;
        -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
        -*) echo "unknown option: $arg" >&2; exit 2 ;;
        *) selected+=("$arg") ;;
    esac
done

all_tests=(startup download info-box address-filter field-widths unplug quit-settings auto-program demo code-view offline-file)
# Longer runs (15-20 s each), for the release tests.
release_tests=(pull busy-line dpi line-db)
[ "$release" = 1 ] && selected+=("${release_tests[@]}")
[ ${#selected[@]} -eq 0 ] && selected=("${all_tests[@]}")

started=$SECONDS
out="$vw_win/e2e"
exe="$vw_win/veldrix.exe"
driver="$vw_win/veldrix-driver.exe"

set -e
vw_tools
if [ "$build" = 1 ]; then
    vw_build_sim
    vw_build_windows "" veldrix veldrix-driver
fi
set +e
for f in "$exe" "$driver" "$root/build/veldrix-sim"; do
    [ -x "$f" ] || { echo "e2e: missing $f" >&2; exit 2; }
done
mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.log "$out"/*.drv

# Always a display of our own: the pictures and the timing must not depend on the desktop.
pg_work=""
trap 'vw_cleanup; pg_stop; [ -z "$pg_work" ] || rm -rf "$pg_work"' EXIT
unset DISPLAY
# Room for the window at 150 % on a 1080p display (the dpi test); every other
# test has the 1024x768 desktop in its corner, and its pictures show only that.
VW_SCREEN=1920x1080 vw_start_xvfb || exit 2
desktop_size=1024x768
# A bare X server: the window gets its frame as run-windows.sh would give it one there.
vw_prefix "${VELDRIX_E2E_HOME:-$vw_win/wine-e2e}" "$(vw_desktop)" || exit 2
# What the demo types to the simulator, as a person types on run.sh's terminal;
# held open here for writing, so the simulator's reads never see an end.
busy_script="$out/busy-line.sim"
printf 'vary busy\n' >"$busy_script"
pauses_script="$out/pauses.sim"
printf 'vary pauses\n' >"$pauses_script"
sim_input="$out/sim-input"
rm -f "$sim_input"
mkfifo "$sim_input" || exit 2
exec {sim_typing}<>"$sim_input"
vw_start_sim --fast || exit 2
"$WINESERVER" -p >/dev/null 2>&1 </dev/null
setup_seconds=$((SECONDS - started))

# The adapter listed in the device map, checked rather than assumed.
plug() {
    local try
    for try in 1 2 3; do
        vw_plug
        vw_adapter_listed && return 0
    done
    echo "could not list the adapter in the device map" >&2
    return 1
}

# --- per-test helpers -------------------------------------------------------------
test_name=""
app_pid=""
step=0
shot_taken=0

log() { printf '%s\n' "$*" >>"$out/$test_name.log"; }

# drive <<EOF: runs the driver on the commands given on standard input.
drive() {
    step=$((step + 1))
    local file="$out/$test_name.$step.drv"
    cat >"$file"
    log "-- driver script $step"
    "$WINE" "$driver" run "$(vw_winpath "$file")" >>"$out/$test_name.log" 2>&1
}

shot() { # shot [SUFFIX]: the whole Wine desktop
    import -window root -crop "$desktop_size+0+0" +repage "$out/$test_name${1:+-$1}.png" \
        2>>"$out/$test_name.log" && shot_taken=1
}

start_app() {
    "$WINE" "$exe" >>"$out/$test_name.app.log" 2>&1 </dev/null &
    app_pid=$!
}

# Waits for the program's process to end; false after the time-out.
app_gone() {
    local i
    for i in $(seq $(($1 * 10))); do
        kill -0 "$app_pid" 2>/dev/null || { wait "$app_pid" 2>/dev/null; app_pid=""; return 0; }
        sleep 0.1
    done
    return 1
}

stop_app() {
    [ -n "$app_pid" ] || return 0
    "$WINE" "$driver" close >>"$out/$test_name.log" 2>&1
    app_gone 5 && return 0
    log "-- the program did not close: stopped"
    kill "$app_pid" 2>/dev/null
    app_gone 5 || kill -9 "$app_pid" 2>/dev/null
    app_pid=""
}

settings_key='HKCU\Software\ZEMKO\VELDRIX'

# Value NAME of the program's settings key, as reg query shows it.
settings_dump=""
read_settings() { # the whole key into settings_dump, in one query; one that fails is asked again
    local try
    for try in 1 2 3; do
        settings_dump="$(vw_reg query "$settings_key" 2>/dev/null | tr -d '\r')" && return 0
        sleep 1
    done
    return 1
}

setting() {
    printf '%s\n' "$settings_dump" | awk -v name="$1" '$1 == name && $2 == "REG_SZ" { print $3 }'
}

# make_hex FILE SIZE: Intel HEX of SIZE bytes from address 0, byte i = (i*7+3) & 255,
# 16 to a line; prints their 16-bit sum in four hex digits, worked out here.
make_hex() {
    local file="$1" size="$2" a i n b hex line sum=0 cs
    : >"$file"
    for ((a = 0; a < size; a += 16)); do
        n=$((size - a < 16 ? size - a : 16))
        cs=$((n + (a >> 8) + (a & 255)))
        printf -v line ':%02X%04X00' "$n" "$a"
        for ((i = 0; i < n; i++)); do
            b=$((((a + i) * 7 + 3) & 255))
            printf -v hex '%02X' "$b"
            line+=$hex
            cs=$((cs + b))
            sum=$((sum + b))
        done
        printf '%s%02X\r\n' "$line" $(((256 - (cs & 255)) & 255)) >>"$file"
    done
    printf ':00000001FF\r\n' >>"$file"
    printf '%04X\n' $((sum & 0xFFFF))
}

# make_code NAME SIZE: a new HEX file NAME.hex of SIZE bytes (make_hex);
# sets code_win (its Windows path) and code_sum (its checksum).
make_code() {
    code_sum="$(make_hex "$out/$1.hex" "$2")"
    code_win="$(vw_winpath "$out/$1.hex")"
}

# The driver's lines that wait for the link, open that file and wait for its
# memory checksum.
open_code_lines() {
    printf '%s\n' "wait-window 30" "wait-status \"$VW_CONNECTED\" 30" "click 146" "open-file \"$code_win\" 15" \
        "wait-status \"编程内存检查和 =  $code_sum\" 60"
}

# --- the tests ------------------------------------------------------------------------
# Each runs with the program started on a fresh simulated programmer, without
# saved settings, and returns non-zero on the first failed step.

test_startup() {
    drive <<EOF || return 1
wait-window 30
wait-status-colour "$VW_CONNECTED" blue 30
# Chip, options and fields as every run starts them.
expect 1000 NOSELEC
expect 110 芯片型号
expect-check 182 1
expect-check 30003 0
expect-check 10020 0
expect-check 223 0
expect-check 224 0
expect-check 225 1
expect 129 0000
expect 131 0FFF
expect 133 12.0
expect-enabled 133 0
expect-enabled 135 0
expect 147 ""
expect 179 00000
expect 180 00000
expect 315 0000
expect 316 0000
expect 308 1
expect-enabled 308 1
# The operation groups are shown, the code view is not.
expect-visible 107 1
expect 136 自动编程
expect-enabled 136 1
expect 146 打开文件
expect 154 退出编程
expect-visible 154 1
expect-visible 158 0
expect-visible 159 0
expect-visible 168 0
expect 109 编程状态
no-box
EOF
    shot
}

test_download() {
    local hex="$out/download.hex" sum win
    sum="$(make_hex "$hex" 1024)"
    win="$(vw_winpath "$hex")"
    drive <<EOF || return 1
wait-window 30
wait-status "$VW_CONNECTED" 30
click 146
open-file "$win" 15
# The window answers while the code goes down the line.
responsive 157 "[双击这里中断下载]" "编程内存检查和 =  " 60
expect 157 "编程内存检查和 =  $sum"
wait-status-colour "编程内存检查和 =  $sum" blue 1
expect 153 $sum
expect 147 "$win"
expect 129 0000
expect 131 03FF
no-box
EOF
    shot
}

test_info_box() {
    drive <<EOF || return 1
wait-window 30
wait-status "$VW_CONNECTED" 30
key 136 F7
wait-box "多文件型编程器VELDRIX\n主机软件最后更新时间: 2014-01-10\n编程器内置软件版本: VELDRIX V2.31\n编程器内置软件最后更新时间: 2013-12-16" 15
expect-box-caption 软件版本
EOF
    shot
    drive <<EOF || return 1
answer IDOK
no-box
wait-status-colour "$VW_CONNECTED" blue 5
EOF
}

test_address_filter() {
    drive <<EOF || return 1
wait-window 30
wait-status "$VW_CONNECTED" 30
type 129 G
expect 129 0000
select-all 129
type 129 g
expect 129 0000
# Hex digits do get in, in upper case.
select-all 129
type 129 1a2B
expect 129 1A2B
EOF
    shot
}

# The widest values the fields take are drawn whole in the window's fonts.
test_field_widths() {
    drive <<EOF || return 1
wait-window 30
wait-status "$VW_CONNECTED" 30
$(field_width_checks)
EOF
    shot
}

field_width_checks() {
    cat <<EOF
select-all 131
type 131 02A00
expect 131 02A00
expect-fits 131
expect-fits 129
select-all 316
type 316 99999999
expect 316 99999999
expect-fits 316
select-all 315
type 315 88888888
expect-fits 315
select-all 30004
type 30004 00FFD
expect 30004 00FFD
expect-fits 30004
click 139
wait-status "当前显示代码区段:  00000~000FF" 30
select-all 162
type 162 1FFF5
expect 162 1FFF5
expect-fits 162
EOF
}

# set_dpi DPI SIZE: the display's DPI, read by the Wine server when it starts
# (LogPixels as the display settings write it), and the desktop's size; then a
# fresh server, which lists the adapter anew.
set_dpi() {
    desktop_size="$2"
    printf '[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$1" >"$VW_HOME/dpi.reg"
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"Default"="%s"\n' "$2" >>"$VW_HOME/dpi.reg"
    vw_import "$VW_HOME/dpi.reg"
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w
    "$WINESERVER" -p >/dev/null 2>&1 </dev/null
    plug
}

# The window at 100 % and at 150 %: its layout and fonts at the display's
# scale, the widest fields whole, the group captions in their own colours
# under the visual styles.
test_dpi() {
    local dpi size
    # The window run_one started goes once it is there: each DPI has a server of its own.
    drive <<<"wait-window 30" || return 1
    for dpi in 96 144; do
        size=1024x768
        [ "$dpi" = 144 ] && size=1920x1080
        stop_app
        set_dpi "$dpi" "$size" || return 1
        log "-- $dpi DPI on a $size desktop"
        start_app
        drive <<EOF || { shot "$dpi"; set_dpi 96 1024x768; return 1; }
wait-window 30
wait-status-colour "$VW_CONNECTED" blue 30
expect-dpi $dpi
expect-on-screen
expect-scaled 154 100 40
expect-scaled 107 315 215
expect-scaled 157 585 25
expect-caption-colour 102 0 100 100
expect-caption-colour 30000 255 50 50
expect-caption-colour 107 0 100 255
$(field_width_checks)
click 168
wait-status 请选择编程操作 10
EOF
        # The code view's groups have gone; the picture wants the others drawn again.
        sleep 2
        shot "$dpi"
    done
    stop_app
    set_dpi 96 1024x768
}

test_unplug() {
    drive <<EOF || return 1
wait-window 30
wait-status-colour "$VW_CONNECTED" blue 30
EOF
    log "-- adapter pulled out"
    vw_unplug
    if vw_adapter_listed; then log "the adapter is still listed"; return 1; fi
    drive <<EOF || return 1
wait-box "检测到USB连接错误,该端口可能已被退出或被其它软件所占用!" 15
expect-box-caption 警告
# Until the box is answered the old text stays, in red.
wait-status-colour "$VW_CONNECTED" red 5
EOF
    shot
    log "-- adapter plugged in again"
    plug || return 1
    drive <<EOF || return 1
answer IDOK
# A later tick finds it again: the text is written anew, in blue.
wait-status-colour "$VW_CONNECTED" blue 15
no-box
EOF
}

test_quit_settings() {
    drive <<EOF || return 1
wait-window 30
wait-status "$VW_CONNECTED" 30
select 1000 S3F9454
expect 1000 S3F9454
click 30003
expect-check 30003 1
click 224
expect-check 224 1
expect-check 225 0
no-box
EOF
    shot
    drive <<EOF || return 1
click 154
wait-gone 10
EOF
    if ! app_gone 10; then log "the program is still running after its window closed"; return 1; fi
    local name want got failed=0
    read_settings || { log "FAIL: the settings key could not be read"; return 1; }
    for name in com chip mode tx_set; do
        case "$name" in
            com) want=COM1 ;;
            chip) want=S3F9454 ;;
            mode) want=1 ;;
            tx_set) want=2 ;;
        esac
        got="$(setting "$name")"
        if [ "$got" = "$want" ]; then
            log "  ok setting $name = $got"
        else
            log "FAIL: setting $name is \"$got\", expected \"$want\"; the key holds:"
            printf '%s\n' "$settings_dump" >>"$out/$test_name.log"
            failed=1
        fi
    done
    return $failed
}

test_auto_program() {
    make_code auto-program 1024
    drive < <(
        open_code_lines
        cat <<EOF
click-taken 136 10
wait-status "自动编程已成功完成" 60
expect 179 1
expect 180 00000
no-box
EOF
    ) || return 1
    shot
}

test_code_view() {
    drive <<EOF || return 1
wait-window 30
wait-status "$VW_CONNECTED" 30
click 139
wait-status "当前显示代码区段:  00000~000FF" 30
expect-visible 158 1
expect-visible 107 0
expect 162 00000
click 161
wait-status "当前显示代码区段:  00100~001FF" 30
expect 162 00100
click 166
wait-status "当前显示代码区段:  00100~001FF" 30
expect 158 芯片代码视图
no-box
EOF
    # The chip page read may still be drawing; the picture is for people, not the verdict.
    sleep 2
    shot
    drive <<EOF || return 1
click 168
wait-status 请选择编程操作 10
expect-visible 107 1
EOF
}

test_offline_file() {
    make_code offline 1024
    drive < <(
        open_code_lines
        cat <<EOF
select 308 3
click 302
wait-box "准备启动制作脱机烧写文件,请确认已加载了正确的代码文件,并正确配置了各编程选项\n包括芯片类型,数据类型,VPP及VCC电压,自动编程系统选项,计数器数据\n确认请按[确认]开始写入脱机文件,按[取消]可返回主界面修改选项" 30
answer IDOK
wait-dialog 10005 15
box-type 10005 000000
answer IDOK
wait-box "是否需要记忆该密码? 这样在VELDRIX本次运行期间对一些频繁需要输入密码的操作,\n您就不需要再额外输入密码,可减少操作的繁琐." 30
answer IDYES
wait-status "脱机文件写入成功!您现在即可以实现脱机烧写该文件代码了" 120
expect 309 offline.hex
click 314
wait-status "读取目录文件信息成功!" 30
expect 309 offline.hex
expect 310 NOSELEC
expect 311 $code_sum
no-box
EOF
    ) || return 1
    shot
}

# scripts/run.sh on a fresh machine: the simulator as it starts it, the sample
# HEX file opened, "自动编程" pressed; then "unplug" typed to the simulator
# reaches the window as a pulled adapter.
test_demo() {
    local sample="$root/resources/sample.hex" sum
    sum="$(make_hex "$out/demo.hex" 1024)"
    if ! cmp -s "$out/demo.hex" "$sample"; then log "FAIL: $sample is not the 1 KB sample"; return 1; fi
    drive <<EOF || return 1
wait-window 30
wait-frame 10
wait-status "$VW_CONNECTED" 30
click 146
open-file "$(vw_winpath "$sample")" 15
wait-status "编程内存检查和 =  $sum" 60
click-taken 136 10
wait-status "自动编程已成功完成" 60
expect 179 1
no-box
EOF
    shot
    log "-- typed to the simulator: unplug"
    echo unplug >&"$sim_typing"
    drive <<EOF || return 1
wait-box "检测到USB连接错误,该端口可能已被退出或被其它软件所占用!" 15
answer IDOK
EOF
}

# An adapter pulled out, the real way: the simulator closes its
# pseudo-terminal under the program (its writes and modem-status requests
# fail, its reads get nothing) and the device map loses the adapter; plugged
# in again, it is a new terminal behind COM1. Once during a download and once
# during the automatic sequence, each time in the middle of the line's work;
# the link comes back each time without a restart.
test_pull() {
    local hex="$out/pull.hex" sum win
    sum="$(make_hex "$hex" 8192)"
    win="$(vw_winpath "$hex")"
    drive <<EOF || return 1
wait-window 30
wait-status-colour "$VW_CONNECTED" blue 30
click 146
open-file "$win" 15
wait-status-prefix "[双击这里中断下载]" 30
EOF
    log "-- pulled out during the download"
    echo unplug >&"$sim_typing"
    drive <<EOF || return 1
wait-box "USB COM 端口已失效! 请重新连接!" 15
expect-box-caption 警告
answer IDOK
# Searched for silently while it stays out.
wait-status-colour "编程器连接错误,编程器可能正忙,请稍候再试!" red 15
no-box
EOF
    shot pulled
    log "-- plugged in again"
    echo plug >&"$sim_typing"
    drive <<EOF || return 1
wait-status-colour "$VW_CONNECTED" blue 15
click 148
wait-status "编程内存检查和 =  $sum" 60
click-taken 136 10
wait-status-prefix "请稍候,正在编程芯片" 30
EOF
    log "-- pulled out during the automatic sequence"
    echo unplug >&"$sim_typing"
    drive <<EOF || return 1
wait-box "USB COM 端口已失效! 请重新连接!" 15
answer IDOK
wait-status-colour "编程器连接错误,编程器可能正忙,请稍候再试!" red 15
no-box
EOF
    log "-- plugged in again"
    echo plug >&"$sim_typing"
    drive <<EOF || return 1
wait-status-colour "$VW_CONNECTED" blue 15
no-box
EOF
}

# A unit that holds its busy line (DSR) for stretches and hears nothing
# meanwhile: after every session and while it writes each downloaded page.
# The program sees the line through the pseudo-terminal and waits; a program
# that read it as clear would send its next block into a stretch.
test_busy_line() {
    make_code busy-line 2048
    drive < <(
        open_code_lines
        cat <<EOF
click-taken 136 10
wait-status "自动编程已成功完成" 60
expect 179 1
click-taken 136 10
wait-status "自动编程已成功完成" 60
expect 179 2
no-box
EOF
    ) || return 1
    shot
}

# A line's database: the window finds it in the machine key (a connection
# string with a password the server does not need, which must show nowhere),
# hands out three ID codes from it and stores three records there; Wine's
# odbc32 passes the calls to this machine's unixODBC and its PostgreSQL driver.
machine_key='HKLM\Software\ZEMKO\VELDRIX'
db_secret="e2e-Secret-7731"
psql_db() { psql -h 127.0.0.1 -p "$PG_PORT" -U veldrix -d postgres -At -F ' ' -c "$1" 2>>"$out/$test_name.log"; }

start_line_db() {
    if [ -z "$pg_work" ]; then
        pg_work="$(mktemp -d)"
        pg_start "$pg_work/pg" || return 1
    else
        psql_db "DROP TABLE IF EXISTS veldrix_records; DROP TABLE IF EXISTS veldrix_id_codes" >/dev/null
    fi
    vw_reg add "$machine_key" /v records_odbc /d "${PG_CONNECTION}PWD=$db_secret;" /f >/dev/null 2>&1
}

test_line_db() {
    local rows codes
    make_code line-db 1024
    drive < <(
        open_code_lines
        cat <<EOF
select-all 315
type 315 41
select-all 30004
type 30004 0FF0
click 126
wait-box "您已设置了自动写入芯片ID码增量数据,\n请配置好脱机文件操作栏目中的ID码地址数据,\n以保证可靠的写入ID码数据!\n如果您不了解或不需要该功能,请不要启用该功能,\n否则可能会破坏目标芯片程序数据!" 10
answer IDOK
expect-check 126 1
click-taken 136 10
wait-status "自动编程已成功完成" 60
expect 315 42
click-taken 136 10
wait-status "自动编程已成功完成" 60
click-taken 136 10
wait-status "自动编程已成功完成" 60
expect 315 44
expect 179 3
no-box
EOF
    ) || return 1
    shot
    rows="$(psql_db "SELECT result, id_code, id_address, port, program_version FROM veldrix_records ORDER BY end_time, id_code")"
    codes="$(psql_db "SELECT id_code, state FROM veldrix_id_codes ORDER BY id_code")"
    log "-- records on the server:" "$rows" "-- ID codes on the server:" "$codes"
    [ "$rows" = "$(printf 'good 42 0FF0H COM1 3.10\ngood 43 0FF0H COM1 3.10\ngood 44 0FF0H COM1 3.10')" ] ||
        { log "FAIL: the server's records are not the three good chips 42-44"; return 1; }
    [ "$codes" = "$(printf '42 good\n43 good\n44 good')" ] ||
        { log "FAIL: the server's ID codes are not 42-44, each confirmed"; return 1; }
    [ "$(psql_db "SELECT count(*) FROM veldrix_records WHERE station = ''")" = 0 ] ||
        { log "FAIL: a record without its station"; return 1; }
    if psql_db "SELECT * FROM veldrix_records; SELECT * FROM veldrix_id_codes" | grep -q "$db_secret" ||
        grep -q "$db_secret" "$out/$test_name.log" "$out/$test_name.app.log" 2>/dev/null; then
        log "FAIL: the connection string's password shows"
        return 1
    fi
}

# The simulated unit each test starts with.
sim_args() {
    case "$1" in
        auto-program | code-view | offline-file | field-widths | dpi | line-db) echo "--chip mtp" ;;
        busy-line) echo "--chip mtp --script $busy_script" ;;
    esac
}

start_sim() {
    case "$1" in
        demo)
            VW_SIM_INPUT="$sim_input" vw_start_demo_sim && vw_start_watch
            return ;;
        pull)
            # Paced, so the download is on the line long enough to be pulled
            # in the middle; real timings and a unit that takes the times of
            # real work, so the program step is too (2 s for 8 KB).
            VW_SIM_INPUT="$sim_input" vw_start_sim --pace --chip mtp --script "$pauses_script" && vw_start_watch
            return ;;
        line-db) start_line_db || return 1 ;;
    esac
    # shellcheck disable=SC2046
    vw_start_sim --fast $(sim_args "$1")
}

# --- running them ------------------------------------------------------------------------
plug || exit 2

# run_one NAME: one try of a test, from a fresh simulator and program; true when it passed.
run_one() {
    test_name="$1"
    step=0
    shot_taken=0
    : >"$out/$test_name.log"
    local ok=1
    vw_reg delete "$settings_key" /f >/dev/null 2>&1
    vw_adapter_listed || plug || ok=0
    start_sim "$test_name" || ok=0
    if [ "$ok" = 1 ]; then
        start_app
        "test_${test_name//-/_}" || ok=0
    fi
    [ "$shot_taken" = 1 ] || shot
    stop_app
    [ "$test_name" != line-db ] || vw_reg delete "$machine_key" /v records_odbc /f >/dev/null 2>&1
    vw_stop_watch
    [ "$ok" = 1 ]
}

# A window driven under Wine on a shared machine now and then misses a beat
# that no program change explains; a test that fails is run once more from
# scratch, and both tries are reported. Only a test that fails twice fails.
passed=() failed=() retried=()
for name in "${selected[@]}"; do
    if ! declare -F "test_${name//-/_}" >/dev/null; then echo "e2e: no test $name" >&2; exit 2; fi
    t0=$SECONDS
    ok=1
    if ! run_one "$name"; then
        mv "$out/$name.log" "$out/$name.first.log"
        [ -f "$out/$name.png" ] && mv "$out/$name.png" "$out/$name.first.png"
        printf 'RETRY %-16s %3d s   (%s)\n' "$name" $((SECONDS - t0)) "$out/$name.first.log"
        grep -E '^FAIL' "$out/$name.first.log" | sed 's/^/      /'
        retried+=("$name")
        run_one "$name" || ok=0
    fi
    if [ "$ok" = 1 ]; then
        passed+=("$name")
        printf 'PASS  %-16s %3d s\n' "$name" $((SECONDS - t0))
    else
        failed+=("$name")
        printf 'FAIL  %-16s %3d s   (%s)\n' "$name" $((SECONDS - t0)) "$out/$name.log"
        grep -E '^FAIL' "$out/$name.log" | sed 's/^/      /'
    fi
done
vw_stop_sim

total=$((SECONDS - started))
if [ ${#failed[@]} -eq 0 ]; then
    echo "e2e: ${#passed[@]} passed (${#retried[@]} on a second try${retried[*]:+: ${retried[*]}}), 0 failed in ${total} s (setup ${setup_seconds} s); screenshots in $out"
    exit 0
fi
echo "e2e: ${#passed[@]} passed, ${#failed[@]} failed (${failed[*]}) in ${total} s; screenshots in $out"
exit 1
