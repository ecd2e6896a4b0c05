#!/usr/bin/env bash
# Unpacks Debian's current amd64 kernel package under DIR (once per version) and prints the unpacked root.
set -euo pipefail
dir=${1:?usage: fetch-kernel.sh DIR}
fail() {
    echo "test-usb: step 'kernel' failed: $*" >&2
    exit 1
}
package=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/.*Depends: \(linux-image-[^ ]*-amd64\)$/\1/p' | head -n 1)
if [ -z "$package" ]; then
    apt-get update -qq >&2 || true
    package=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/.*Depends: \(linux-image-[^ ]*-amd64\)$/\1/p' | head -n 1)
fi
[ -n "$package" ] || fail "apt-cache names no kernel package for linux-image-amd64"
root="$dir/$package"
if [ ! -f "$root/.unpacked" ]; then
    mkdir -p "$dir"
    rm -rf "$root" "$dir"/"$package"_*.deb
    # A stale package list names a version the mirror no longer has: refresh it once and try again.
    if ! (cd "$dir" && apt-get download "$package" >&2); then
        apt-get update -qq >&2 || true
        (cd "$dir" && apt-get download "$package" >&2) || fail "apt-get download $package"
    fi
    dpkg -x "$dir"/"$package"_*.deb "$root" || fail "dpkg -x of $package"
    rm -f "$dir"/"$package"_*.deb
    touch "$root/.unpacked"
fi
echo "$root"
