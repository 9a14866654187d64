# bash completion of tesk(1): its options, files after -f, gateways after -g,
# and the hosts, groups and gateways of the configuration as names to wake.

# The options of the usage text, and -V.
_tesk_options="-h -v -d -i -n -e -f -g -a -p -t -T -c -s -D -F -A -P -S -V"

# A word as the shell would see a leading "~/" in it.
_tesk_tilde()
{
    # shellcheck disable=SC2088 # a literal "~/", as typed
    case $1 in
    "~/"*) printf '%s\n' "$HOME/${1#"~/"}" ;;
    *) printf '%s\n' "$1" ;;
    esac
}

# Prints the names that "tesk -e" shows, one a line: every gateway, with
# "gateways" as the first argument, else every gateway, host and group, and
# "all" when there are hosts.  The other arguments are the program and the
# -f options of the command line being completed.
_tesk_config_names()
{
    local kind=$1
    shift
    local -a run=("$@")
    if command -v timeout >/dev/null 2>&1; then
        run=(timeout 5 "$@")
    fi
    "${run[@]}" -e </dev/null 2>/dev/null | awk -v kind="$kind" '
        $1 == "gateway" && NF >= 2 { print $2; next }
        kind == "gateways" { next }
        $1 == "host" && NF >= 2 { print $2; hosts = 1; next }
        /^\[.+\]$/ { print substr($0, 2, length($0) - 2) }
        END { if (hosts) print "all" }' | sort -u
}

# Sets COMPREPLY to the words that begin with $cur, quoted for the shell.
# With ":" among the word break characters, bash replaces only the part of the
# word after its last ":", as in MAC addresses: that part is what is offered.
_tesk_reply()
{
    local word quoted prefix=
    if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then
        prefix=${cur%"${cur##*:}"}
    fi
    COMPREPLY=()
    for word in "$@"; do
        [[ -n $word && $word == "$cur"* ]] || continue
        printf -v quoted '%q' "${word#"$prefix"}"
        COMPREPLY+=("$quoted")
    done
}

_tesk()
{
    # The words up to the cursor, split at white space only, so that a MAC
    # address stays one word.
    local line=${COMP_LINE:0:COMP_POINT}
    local -a words
    read -r -a words <<<"$line"
    if [[ -z $line || $line == *[[:space:]] ]]; then
        words+=("")
    fi
    local cur=${words[${#words[@]} - 1]}
    local last=$((${#words[@]} - 1))

    # Read the words before the cursor the way tesk reads its options.
    local -a configs=()
    local i=1 j letter value value_of="" names=""
    while ((i < last)) && [[ -z $names ]]; do
        local word=${words[i]}
        if [[ $word != -* ]]; then
            names=1
            break
        fi
        i=$((i + 1))
        for ((j = 1; j < ${#word}; j++)); do
            letter=${word:j:1}
            case $letter in
            -)
                names=1
                break
                ;;
            [fgaptTcsAPS])
                if ((j + 1 < ${#word})); then
                    value=${word:j+1}
                elif ((i < last)); then
                    value=${words[i]}
                    i=$((i + 1))
                else
                    value_of=$letter
                    break
                fi
                if [[ $letter == f ]]; then
                    configs+=(-f "$(_tesk_tilde "$value")")
                fi
                break
                ;;
            esac
        done
    done

    local program
    program=$(_tesk_tilde "${words[0]}")
    case $value_of in
    f)
        compopt -o filenames 2>/dev/null
        local file
        COMPREPLY=()
        while IFS= read -r file; do
            COMPREPLY+=("$file")
        done < <(compgen -f -- "$cur")
        return 0
        ;;
    g)
        local -a gateways
        mapfile -t gateways < <(_tesk_config_names gateways "$program" "${configs[@]}")
        _tesk_reply "${gateways[@]}"
        return 0
        ;;
    a | A)
        local -a hosts
        mapfile -t hosts < <(compgen -A hostname -- "$cur")
        _tesk_reply "${hosts[@]}"
        return 0
        ;;
    ?)
        COMPREPLY=()
        return 0
        ;;
    esac

    if [[ -z $names && $cur == -* ]]; then
        # shellcheck disable=SC2086 # the list is split on purpose
        _tesk_reply $_tesk_options
        return 0
    fi
    local -a known
    mapfile -t known < <(_tesk_config_names all "$program" "${configs[@]}")
    _tesk_reply "${known[@]}"
    return 0
}

complete -F _tesk tesk
