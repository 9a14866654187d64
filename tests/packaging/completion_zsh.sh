# The zsh completion registers itself for tesk, knows the options of the
# usage text, and completes files after -f, gateways after -g and the
# configuration's names.
. "$(dirname "$0")/lib.sh"

command -v zsh >/dev/null 2>&1 || skip "zsh is not installed"
require_inert_system_config

dir=$source_dir/completions
here=$(cd "$(dirname "$0")" && pwd)

registered=$(zsh -f -c 'fpath=($1 $fpath); autoload -Uz compinit; compinit -u -D; print -r -- $_comps[tesk]' \
	zsh "$dir" 2>&1)
[ "$registered" = "_tesk" ] || fail "compinit registers for tesk: $registered"

usage_options "$tesk" | cut -c1 | { cat; echo V; } | sort >"$scratch/usage.letters"
sed -n "s/^ *'\\(([^)]*)\\)\\{0,1\\}\\*\\{0,1\\}-\\(.\\)[+[].*/\\2/p" "$dir/_tesk" | sort \
	>"$scratch/completion.letters"
check_same "the options of the zsh completion against the usage text" \
	"$scratch/usage.letters" "$scratch/completion.letters"

mkdir -p "$scratch/home"
cat >"$scratch/home/site.conf" <<'CONF'
gateway office address 192.0.2.255 port 9
gateway lab address 198.51.100.255
host nas mac 00:00:5e:00:53:01 via lab
[office]
host pc1 mac 00:00:5e:00:53:03
host pc2 mac 00:00:5e:00:53:04
[night]
host pc1
CONF
: >"$scratch/home/site.txt"

cat >"$scratch/cases" <<CASES
tesk -f site.conf |all default lab nas night office pc1 pc2
tesk -f site.conf p|pc1 pc2
tesk -vf site.conf -g |default lab office
tesk -fsite.conf -g l|lab
tesk -d -f ~/site.conf -- n|nas night
tesk -f si|site.conf site.txt
tesk -|$(for o in h v d i n e f g a p t T c s D F A P S V; do printf -- '-%s ' "$o"; done)
CASES
sed "s|^tesk |$tesk |" "$scratch/cases" >"$scratch/lines"
: >"$scratch/offered"
: >"$scratch/expected"
while IFS='|' read -r line words; do
	(cd "$scratch/home" && HOME=$scratch/home zsh -f "$here/zsh_capture.zsh" "$dir" "$scratch/matches" "$line")
	status=$?
	[ "$status" -eq 77 ] && skip "zsh has no zsh/zpty module to drive the completion"
	printf '%s|%s\n' "$line" "$(grep -v '^$' "$scratch/matches" | sort -u | tr '\n' ' ')" >>"$scratch/offered"
	printf '%s|%s\n' "$line" "$(printf '%s\n' $words | sort | tr '\n' ' ')" >>"$scratch/expected"
done <"$scratch/lines"
check_same "the words that the zsh completion offers (line|words)" "$scratch/expected" "$scratch/offered"
finish
