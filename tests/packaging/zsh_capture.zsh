# zsh -f zsh_capture.zsh FPATH_DIR OUTPUT LINE: types LINE and a tab into an
# interactive zsh on a pseudo-terminal, with the completions of FPATH_DIR, and
# writes every match that the completion system offers to OUTPUT, one a line.
# Exits 77 when zsh lacks its pseudo-terminal module.
emulate -L zsh
zmodload zsh/zpty 2>/dev/null || exit 77
local dir=$1 out=$2 line=$3
: >| $out
zpty capture zsh -f -i
zpty -w capture "fpath=(${(q)dir} \$fpath); autoload -Uz compinit; compinit -u -D"
# Record the matches of every compadd that adds them, then add them as usual.
zpty -w capture "compadd() {
  if [[ \${@[1,(i)(-|--)]} == *-(O|A|D)\\ * ]]; then builtin compadd \"\$@\"; return; fi
  local -a hits; builtin compadd -A hits \"\$@\"; print -rl -- \$hits >> ${(q)out}
  builtin compadd \"\$@\"
}"
# The shell ends once the completion is done.
zpty -w capture 'comppostfuncs=(exit)'
zpty -w -n capture "$line"$'\t'
local chunk start=$SECONDS
while (( SECONDS - start < 20 )); do
  if ! zpty -r -t capture chunk; then
    zpty -t capture || break
    sleep 0.1
  fi
done
zpty -d capture
