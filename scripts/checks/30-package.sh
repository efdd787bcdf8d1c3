#!/usr/bin/env bash
# Builds the Debian package from the main build folder and checks it the way an
# operator meets it: its control fields and files, apt's view of its
# dependencies on a machine that has none of them, the man page, the example
# service unit, and the program unpacked into a scratch root (never installed
# on this machine): usage text and exit status, then learn mode on a veth pair
# in a throwaway network namespace.
set -euo pipefail
# Byte order for sorting and byte matching, whatever the caller's locale.
export LC_ALL=C

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${QUORVALE_BUILD_DIR:-$root/build}
tools=$build/tests/tools

fail() {
    echo "30-package: FAIL: $*" >&2
    exit 1
}
note() { echo "30-package: $*"; }

scratch=$(mktemp -d /tmp/quorvale-package.XXXXXX)
netns=""
watcher_pid=""
cleanup() {
    if [ -n "$watcher_pid" ]; then
        kill "$watcher_pid" 2>/dev/null || true
        wait "$watcher_pid" 2>/dev/null || true
    fi
    [ -n "$netns" ] && ip netns del "$netns" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Waits up to $3 seconds for file $1 to contain the fixed text $2.
wait_for_text() {
    local file=$1 text=$2 seconds=$3 i
    for ((i = 0; i < seconds * 10; i++)); do
        grep -qF -- "$text" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

[ -x "$build/quorvale_mon" ] || fail "$build/quorvale_mon is missing: build first"

# The build tree's program: an empty or relative run-path entry would make it
# load libraries from the folder it runs in (glibc reads "" as ".").
build_runpath=$(readelf -d "$build/quorvale_mon" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
IFS=: read -r -a entries <<<"$build_runpath:"
[ ${#entries[@]} -gt 0 ] || fail "build tree program has no run path"
for entry in "${entries[@]}"; do
    case $entry in
    '$ORIGIN' | '$ORIGIN/'* | /*) ;;
    *) fail "build tree program's run path '$build_runpath' has the entry '$entry'" ;;
    esac
done

# --- The package --------------------------------------------------------------
note "building the package"
(cd "$build" && timeout 600 cpack -G DEB -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1) ||
    { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB failed"; }
debs=("$scratch"/cpack/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}
note "package $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quorvale-mon ] || fail "Package is '$(field Package)'"
[ "$(field Section)" = net ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
for dep in libpcap0.8 libcurl4 libc6; do
    grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
note "Depends: $depends"

# Exactly these files: no test tools, test or static libraries, no unit put
# where systemd would pick it up.
expected_files="./usr/bin/quorvale_mon
./usr/lib/quorvale_mon/libbsmtp.so
./usr/share/doc/quorvale-mon/README.md
./usr/share/doc/quorvale-mon/examples/quorvale-mon@.service
./usr/share/doc/quorvale-mon/mail-library.md
./usr/share/man/man1/quorvale_mon.1.gz"
dpkg-deb -c "$deb" >"$scratch/contents.txt"
files=$(awk '$1 !~ /^d/ {print $NF}' "$scratch/contents.txt" | sort)
[ "$files" = "$expected_files" ] || fail "package files differ:
$(diff <(echo "$expected_files") <(echo "$files") || true)"
grep -q -- '^-rwxr-xr-x root/root .* ./usr/bin/quorvale_mon$' "$scratch/contents.txt" ||
    fail "the program is not an executable owned by root"

# apt, pretending that nothing at all is installed, must be able to satisfy the
# package from the archive: what dpkg -i plus apt-get -f install do on a fresh
# machine. Needs the archive's package lists, which apt-get update fetches.
if compgen -G "/var/lib/apt/lists/*_Packages*" >/dev/null; then
    : >"$scratch/empty-status"
    timeout 120 apt-get install -s -qq -o Dir::State::status="$scratch/empty-status" "$deb" \
        >"$scratch/apt-sim.txt" 2>&1 || { cat "$scratch/apt-sim.txt" >&2; fail "apt cannot install the package on an empty system"; }
    for dep in libpcap0.8 libcurl4 quorvale-mon; do
        grep -q "^Inst $dep " "$scratch/apt-sim.txt" || fail "apt's fresh install lacks $dep"
    done
else
    note "no apt package lists here: fresh-install resolution not simulated"
fi

# --- Unpacked into a scratch root ---------------------------------------------
pkgroot=$scratch/root
dpkg -x "$deb" "$pkgroot"
prog=$pkgroot/usr/bin/quorvale_mon

runpath=$(readelf -d "$prog" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
[ "$runpath" = '$ORIGIN/../lib/quorvale_mon' ] || fail "run path is '$runpath'"
lib=$(env -u LD_LIBRARY_PATH ldd "$prog" | awk '$1 == "libbsmtp.so" {print $3}')
[ "$(readlink -f "$lib")" = "$(readlink -f "$pkgroot/usr/lib/quorvale_mon/libbsmtp.so")" ] ||
    fail "libbsmtp.so resolves to '$lib', not the package's copy"

# No argument: the usage text on standard error, in code page 932, status 8.
mkdir "$scratch/cwd"
status=0
(cd "$scratch/cwd" && env -u LD_LIBRARY_PATH timeout 10 "$prog" >"$scratch/usage.out" 2>"$scratch/usage.err" </dev/null) ||
    status=$?
[ "$status" -eq 8 ] || fail "no argument: exit status $status, want 8 ($(cat "$scratch/usage.err"))"
[ ! -s "$scratch/usage.out" ] || fail "no argument: standard output is not empty"
cmp -s <(head -c 27 "$scratch/usage.err") <(printf 'Quorvale_kivarn_lite v1.0\n\n') ||
    fail "no argument: usage banner missing: $(head -c 80 "$scratch/usage.err")"
usage_utf8=$(iconv -f CP932 -t UTF-8 "$scratch/usage.err") || fail "usage text is not code page 932"
for text in " 使用方法　パラメータ" "  -m " "  -a " "  -i 設定ファイルの編集　" "  -l "; do
    grep -qF -- "$text" <<<"$usage_utf8" || fail "usage text lacks '$text'"
done
[ -z "$(ls -A "$scratch/cwd")" ] || fail "the usage road created files"

# The man page renders without a warning.
manpage=$pkgroot/usr/share/man/man1/quorvale_mon.1.gz
cmp -s <(zcat "$manpage") "$root/man/quorvale_mon.1" || fail "packaged man page differs from man/quorvale_mon.1"
MANWIDTH=80 timeout 60 man --warnings -l "$manpage" >"$scratch/man.txt" 2>"$scratch/man.err" ||
    fail "man failed: $(cat "$scratch/man.err")"
[ ! -s "$scratch/man.err" ] || fail "man warns: $(cat "$scratch/man.err")"
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" EXAMPLES "SEE ALSO"; do
    grep -q "^$heading" "$scratch/man.txt" || fail "man page lacks $heading"
done
lexgrog "$manpage" >/dev/null || fail "man page NAME section cannot be read by lexgrog"

# The example unit, where systemd is at hand. verify wants the program to
# exist, so the copy checked points at the unpacked one.
if command -v systemd-analyze >/dev/null; then
    mkdir "$scratch/units"
    sed "s#^ExecStart=/usr/bin/quorvale_mon #ExecStart=$prog #" \
        "$pkgroot/usr/share/doc/quorvale-mon/examples/quorvale-mon@.service" \
        >"$scratch/units/quorvale-mon@.service"
    grep -q "^ExecStart=$prog -a$" "$scratch/units/quorvale-mon@.service" || fail "unit has no ExecStart line to check"
    timeout 60 systemd-analyze verify --man=no "$scratch/units/quorvale-mon@check.service" \
        >"$scratch/unit.log" 2>&1 || fail "systemd-analyze verify: $(cat "$scratch/unit.log")"
    [ ! -s "$scratch/unit.log" ] || fail "systemd-analyze verify: $(cat "$scratch/unit.log")"
fi

# --- Learn mode on a real adapter -------------------------------------------
if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
    note "SKIPPED learn mode in a network namespace: needs root and iproute2"
    note "ok"
    exit 0
fi
for tool in list_adapters arp_send; do
    [ -x "$tools/$tool" ] || fail "$tools/$tool is missing: build with QUORVALE_TESTS=ON"
done

netns=qpkg-$$
ip netns add "$netns" || { netns=""; fail "cannot add network namespace"; }
ip -n "$netns" link add qpa$$ type veth peer name qpb$$ || fail "cannot add veth pair"
ip -n "$netns" link set qpa$$ up
ip -n "$netns" link set qpb$$ up
number=$(ip netns exec "$netns" timeout 10 "$tools/list_adapters" | grep -nx "qpb$$" | cut -d: -f1)
[ -n "$number" ] || fail "qpb$$ is not in the adapter list"

mkdir "$scratch/watch"
echo "$number" >"$scratch/watch/adapter"
(cd "$scratch/watch" &&
    exec ip netns exec "$netns" env -u LD_LIBRARY_PATH timeout 60 "$prog" -m \
        <adapter >watch.out 2>watch.err) &
watcher_pid=$!

wait_for_text "$scratch/watch/watch.err" "listening on" 15 ||
    fail "watcher never reached 'listening on': $(iconv -f CP932 -t UTF-8 "$scratch/watch/watch.err" 2>&1)"
ip netns exec "$netns" timeout 10 "$tools/arp_send" qpa$$ 02:51:0A:00:00:01,192.0.2.10 >/dev/null ||
    fail "arp_send failed"
wait_for_text "$scratch/watch/watch.out" "(001)02:51:0A:00:00:01 192.0.2.10" 15 ||
    fail "station not learned: stdout '$(cat "$scratch/watch/watch.out")'"
[ "$(od -An -c "$scratch/watch/mac_list.txt" | tr -d ' \n')" = '02:51:0A:00:00:01\r\n' ] ||
    fail "mac_list.txt holds: $(od -c "$scratch/watch/mac_list.txt")"
kill "$watcher_pid" 2>/dev/null || true
wait "$watcher_pid" 2>/dev/null || true
watcher_pid=""

note "ok"
