#!/usr/bin/env bash
# The production report in a real browser: a records folder of five days
# (scripts/make-records.py), the page veldrix-cli writes from it, opened by
# Debian's chromium without a network: no script error in its console, and
# both charts drawn (their canvases not blank). Leaves a screenshot.
#
#   scripts/test-report-browser.sh [--build DIR] [--screenshot PNG]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
shot=""
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build="$2"; shift 2 ;;
        --screenshot) shot="$2"; shift 2 ;;
        *) echo "test-report-browser: unknown argument $1" >&2; exit 2 ;;
    esac
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
[ -n "$shot" ] || shot="$build/report.png"

command -v chromium >/dev/null || "$root/scripts/setup.sh" report
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DVELDRIX_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target veldrix-cli >/dev/null

python3 "$root/scripts/make-records.py" "$work/records" 6000 5 >/dev/null
"$build/veldrix-cli" report --log-dir "$work/records" -o "$work/report.html" >/dev/null

# The same page with a probe: errors thrown anywhere, and how many pixels
# each canvas has drawn, written into the page once it has loaded.
python3 - "$work/report.html" "$work/probe.html" <<'EOF'
import sys
page = open(sys.argv[1], encoding="utf-8").read()
catch = "<script>window.probeErrors=[];window.addEventListener('error',function(e){probeErrors.push(String(e.message))});</script>"
count = """<script>window.addEventListener('load', function () {
  var out = [];
  document.querySelectorAll('canvas').forEach(function (c) {
    var px = c.getContext('2d').getImageData(0, 0, c.width, c.height).data, n = 0;
    for (var i = 3; i < px.length; i += 4) if (px[i]) n++;
    out.push(c.id + '=' + n);
  });
  var pre = document.createElement('pre');
  pre.id = 'probe';
  pre.textContent = 'canvases: ' + out.join(' ') + '\\nerrors: ' + probeErrors.length + ' ' + probeErrors.join(' | ');
  document.body.appendChild(pre);
});</script>"""
page = page.replace("<head>", "<head>" + catch, 1).replace("</body>", count + "</body>", 1)
open(sys.argv[2], "w", encoding="utf-8").write(page)
EOF

browser=(chromium --headless --disable-gpu --no-first-run --disable-extensions --proxy-server=127.0.0.1:9
         --enable-logging=stderr --v=0 --virtual-time-budget=5000 --lang=zh-CN)
[ "$(id -u)" -eq 0 ] && browser+=(--no-sandbox)
"${browser[@]}" --dump-dom "file://$work/probe.html" >"$work/dom.html" 2>"$work/console.log" || true
probe="$(sed -n '/<pre id="probe">/,/<\/pre>/p' "$work/dom.html" | sed 's/<[^>]*>//g')"
console="$(grep -E 'CONSOLE|Uncaught' "$work/console.log" || true)"
echo "$probe"

status=0
for canvas in chart-yield chart-failures; do
    drawn="$(printf '%s\n' "$probe" | grep -o "$canvas=[0-9]*" | cut -d= -f2)"
    if [ -z "$drawn" ] || [ "$drawn" -eq 0 ]; then
        echo "FAIL: $canvas not drawn"
        status=1
    fi
done
if ! printf '%s\n' "$probe" | grep -q '^errors: 0 $'; then
    echo "FAIL: script errors in the page"
    status=1
fi
if [ -n "$console" ]; then
    echo "FAIL: the browser's console:"
    echo "$console"
    status=1
fi

"${browser[@]}" --hide-scrollbars --window-size=1280,2700 --screenshot="$shot" "file://$work/report.html" \
    >/dev/null 2>&1 || true
if [ -s "$shot" ]; then echo "screenshot: $shot"; else echo "FAIL: no screenshot"; status=1; fi
echo "report in the browser: $([ $status = 0 ] && echo passed || echo FAILED)"
exit $status
