#!/usr/bin/env bash
# Checks the Debian package a build made: unpacked into a scratch root, its programs run from there, its
# desktop files and manuals pass their validators, and lintian finds no error in it.
set -euo pipefail
build=${1:?usage: check-package.sh BUILD_DIR}

fail() {
    echo "package check: $*" >&2
    exit 1
}

shopt -s nullglob
debs=("$build"/brennix-debug_*.deb)
((${#debs[@]} == 1)) || fail "expected one brennix-debug_*.deb in $build, found ${#debs[@]}"
deb=${debs[0]}
scratch=$(mktemp -d)
sim_pid=""
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
root=$scratch/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin
echo "== $deb"
dpkg-deb --field "$deb" Package Version Depends
# Without dpkg-shlibdeps CPack leaves Depends empty rather than failing.
depends=$(dpkg-deb --field "$deb" Depends)
[[ $depends == *libqt6widgets6* && $depends == *libserialport0* ]] || fail "Depends lacks Qt or libserialport: '$depends'"

echo "== files in place"
for file in usr/bin/brennix-debug usr/bin/brennix usr/bin/brennix-sim \
    usr/share/man/man1/brennix-debug.1.gz usr/share/man/man1/brennix.1.gz usr/share/man/man1/brennix-sim.1.gz \
    usr/share/bash-completion/completions/brennix usr/lib/udev/rules.d/70-brennix-adapter.rules \
    usr/share/applications/brennix-debug.desktop usr/share/metainfo/org.brennix.debug.metainfo.xml \
    usr/share/icons/hicolor/48x48/apps/brennix-debug.png usr/share/icons/hicolor/scalable/apps/brennix-debug.svg \
    usr/share/doc/brennix-debug/copyright usr/share/doc/brennix-debug/changelog.gz; do
    [[ -s $root/$file ]] || fail "/$file is missing or empty"
done

echo "== brennix --simulate scan"
found=$("$bin/brennix" --simulate scan) || fail "brennix --simulate scan failed"
[[ $found == $'1\n2\n3' ]] || fail "brennix --simulate scan found '$found' instead of 1, 2 and 3"

echo "== brennix-sim, pinged by brennix"
mkfifo "$scratch/sim.out"
"$bin/brennix-sim" --ids 7 >"$scratch/sim.out" 2>/dev/null &
sim_pid=$!
read -r -t 10 port <"$scratch/sim.out" || fail "brennix-sim printed no port"
[[ $("$bin/brennix" --port "$port" ping 7) == 7 ]] || fail "servo 7 of brennix-sim did not answer"
kill "$sim_pid"
wait "$sim_pid" || fail "brennix-sim did not stop cleanly on SIGTERM"
sim_pid=""

echo "== brennix-debug --simulate --tour"
xvfb-run -a "$bin/brennix-debug" --simulate --tour "$scratch/tour" >"$scratch/tour.log" ||
    fail "the tour failed: $(cat "$scratch/tour.log")"
pictures=("$scratch"/tour/*.png)
((${#pictures[@]} > 0)) || fail "the tour left no pictures"
echo "${#pictures[@]} pictures"

echo "== manuals"
for page in "$root"/usr/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "$(basename "$page"): $warnings"
done

echo "== desktop entry and metainfo"
desktop-file-validate "$root/usr/share/applications/brennix-debug.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.brennix.debug.metainfo.xml"

echo "== lintian"
lintian --fail-on error --display-info "$deb"
echo "package check passed"
