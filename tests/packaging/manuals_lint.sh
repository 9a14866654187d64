# The manuals, as written and as configured for this build, pass mandoc's lint.
. "$(dirname "$0")/lib.sh"

command -v mandoc >/dev/null 2>&1 || skip "mandoc is not installed"

for manual in "$source_dir/man/tesk.1" "$source_dir/man/tesk.conf.5" \
	"$manuals/tesk.1" "$manuals/tesk.conf.5"; do
	mandoc -T lint "$manual" >"$scratch/lint" 2>&1
	# Whether a referenced manual is found depends on the pages that this
	# machine has (other systems' pages, ours before they are installed), not on
	# the manual.
	grep -v -e 'STYLE: referenced manual not found' -e 'outdated mandoc.db' \
		"$scratch/lint" >"$scratch/messages"
	if [ -s "$scratch/messages" ]; then
		fail "mandoc -T lint $manual:"
		cat "$scratch/messages" >&2
	fi
done
finish
