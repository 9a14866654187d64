# The program as FreeBSD's toolchain builds it, clang with LLVM's libc++, which
# tests/run-all builds: it is linked with libc++ and not libstdc++, and it runs:
# -h prints the usage text, a wake with -n traces what it would send, -e prints
# the example of tesk.conf(5) as that manual shows. And the program's sources
# use none of the names of glibc or Linux that FreeBSD lacks.
# Usage: libcxx_build.sh SOURCE_DIR BUILD_DIR TESK
. "$(dirname "$0")/../packaging/lib.sh"

command -v ldd >/dev/null 2>&1 || skip "ldd is not installed"
ldd "$tesk" >"$scratch/libraries" 2>&1 || fail "ldd $tesk failed"
grep -q 'libc++\.so' "$scratch/libraries" || fail "$tesk is not linked with libc++"
if grep 'libstdc++' "$scratch/libraries" >&2; then
	fail "$tesk is linked with libstdc++"
fi

expected_usage "$tesk" >"$scratch/usage.expected"
run_tesk "$tesk" -h >"$scratch/usage.out" 2>&1 || fail "$tesk -h failed"
check_same "$tesk -h" "$scratch/usage.expected" "$scratch/usage.out"

# As root, in namespaces of their own, with an empty system configuration;
# else on this system, whose system configuration must set nothing.
if [ "$(id -u)" -ne 0 ]; then
	require_inert_system_config
fi
isolated() {
	sh "$source_dir/tests/support/isolate" "$sysconfdir" env -u HOME "$@"
}

cat >"$scratch/wake.expected" <<'TRACE'
[00:00:5e:00:53:01 (00:00:5e:00:53:01) with secret 70:61:73:73:34:77:61:6b:65 (pass4wake)]
Sending packet 1/2 via 255.255.255.255:7
(Sleeping 1ms)
Sending packet 2/2 via 255.255.255.255:7
TRACE
isolated "$tesk" -n -d -c 2 -t 1ms -s pass4wake 00:00:5e:00:53:01 >"$scratch/wake.out" 2>&1 ||
	fail "$tesk -n -d ... failed"
check_same "$tesk -n -d -c 2 -t 1ms -s pass4wake 00:00:5e:00:53:01" "$scratch/wake.expected" \
	"$scratch/wake.out"

manual_display "$source_dir/man/tesk.conf.5" 1 >"$scratch/example.conf"
manual_display "$source_dir/man/tesk.conf.5" 2 >"$scratch/example.export"
isolated "$tesk" -e -f "$scratch/example.conf" >"$scratch/export" 2>&1 ||
	fail "$tesk -e of the example of tesk.conf(5) failed"
check_same "$tesk -e of the example of tesk.conf(5)" "$scratch/example.export" "$scratch/export"

if ! sh "$source_dir/tests/portability/glibc_names.sh" "$source_dir/src" >"$scratch/names" 2>&1; then
	fail "the sources use names that FreeBSD lacks:"
	cat "$scratch/names" >&2
fi
finish
