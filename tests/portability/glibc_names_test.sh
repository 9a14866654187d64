# The scan for glibc's and Linux's names reports each use in code, and nothing
# in comments, literals, members, other identifiers or the platform layer.
# Usage: glibc_names_test.sh SOURCE_DIR
set -u
source_dir=$1
scan="sh $source_dir/tests/portability/glibc_names.sh"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tesk-glibc-names.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
trap 'exit 1' HUP INT TERM
failures=0
fail() {
	echo "FAIL: $*" >&2
	failures=$((failures + 1))
}

# The name that the scan must report for the line, or nothing, then the line.
# The lines make one source file, in this order; those that report nothing
# make a clean one too, but those marked ~, a comment closed by a line that
# reports something.
cat >"$scratch/cases" <<'CASES'
error|    error(1, errno, "cannot open %s", path);
error|if (failed) error (EXIT_FAILURE, 0, "no");
error|    (void)::error(1, 0, "global");
error|/* closed */ error(1, 0, "after a closed comment");
~|/* a comment that goes on
~| * to strchrnul(text, 'x') and <endian.h>
error| */ error(1, 0, "after the comment's end");
strchrnul|const char* end = strchrnul(text, ';');
program_invocation_short_name|const char* me = program_invocation_short_name;
TEMP_FAILURE_RETRY|n = TEMP_FAILURE_RETRY(read(fd, buffer, size));
SOL_IP|setsockopt(fd, SOL_IP, IP_TTL, &ttl, sizeof ttl);
endian.h|#include <endian.h>
error.h|#  include < error.h >
linux/|#include <linux/if_packet.h>
netinet/ether.h|#include <netinet/ether.h>
__linux__|#if defined(__linux__) && !defined(X)
__GLIBC__|#ifdef __GLIBC__
_GNU_SOURCE|#define _GNU_SOURCE
|config_error(path, line, "not glibc's");
|report.error("a member");
|log->error("a member");
|Status::error(2);
|const auto [stop, error] = std::from_chars(text, end, value);
|if (error != std::errc{}) return -1;
|// error(1, 0, "in a comment"), strchrnul(x) and __linux__
|std::fputs("error(x), strchrnul( and <endian.h> in a string", stderr);
|char quote = '"'; std::fputs("error(", out); int n = error_count(quote);
|std::string program_invocation_name_text, my_strchrnul_result;
|int linux_like = __linux_version;
|#include <sys/endian.h>
|#include "values/error.h"
|/* a comment over lines,
| * error(1, 0, "x"), __GLIBC__
| */ int after_comment = 0;
CASES

mkdir -p "$scratch/tree/src/values"
cut -d'|' -f2- "$scratch/cases" >"$scratch/tree/src/sample.cpp"
awk -F'|' -v file="$scratch/tree/src/sample.cpp" '$1 != "" && $1 != "~" { print file ":" NR ": " $1 }' \
	"$scratch/cases" >"$scratch/expected"
# The platform layer may use what it chooses between.
printf '#include <netinet/ether.h>\n#if defined(__FreeBSD__)\n#endif\n' \
	>"$scratch/tree/src/values/ether.cpp"

$scan "$scratch/tree" >"$scratch/out" 2>&1
status=$?
# Each line names the file, the line, the name and the reason; the reasons are
# the scan's to word.
sed 's/^\([^:]*:[0-9]*: [^:]*\): .*/\1/' "$scratch/out" >"$scratch/found"
if ! cmp -s "$scratch/expected" "$scratch/found"; then
	fail "the scan reports other lines than expected:"
	diff -u "$scratch/expected" "$scratch/found" >&2
fi
[ "$status" -eq 1 ] || fail "the scan ended with status $status after finding names"
if grep -v ': [^:]*: .' "$scratch/out" >&2; then
	fail "the scan gives no reason on the lines above"
fi

# Nothing to report: no output and status 0.
rm "$scratch/tree/src/sample.cpp"
awk -F'|' '$1 == "" { sub(/^[^|]*\|/, ""); print }' "$scratch/cases" >"$scratch/tree/src/clean.cpp"
$scan "$scratch/tree" >"$scratch/out" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "the scan of clean sources ended with status $status"
if [ -s "$scratch/out" ]; then
	fail "the scan reports clean sources:"
	cat "$scratch/out" >&2
fi

if [ "$failures" -ne 0 ]; then
	echo "$failures check(s) failed" >&2
	exit 1
fi
