# bash completion for talvex                               -*- shell-script -*-
#
# talvex <Tab>               -e -d -t -i -h
# talvex -d|-t keyfile <Tab> .tvx files (any letter case) and folders
# anywhere else              files and folders
#
# Installed as share/bash-completion/completions/talvex, where
# bash-completion loads it on the first <Tab> after "talvex"; or source it.
# It needs nothing but bash's own builtins, not bash-completion.

# Splits the command line up to the cursor into words as the shell will
# pass them (blanks separate, quotes and backslashes taken off) into
# _talvex_words; the last one is the word under the cursor, empty after a
# blank. The line is read rather than COMP_WORDS, which bash also splits at
# : = @ and the like, all of which may occur in file names. Readline
# replaces only the part of the word after the last such character outside
# quotes: _talvex_kept counts the characters of the word before it.
_talvex_split() {
    local line=$1 breaks=${COMP_WORDBREAKS-$' \t\n"\'@><=;|&(:'}
    local word='' quote='' started=0 c i
    _talvex_words=() _talvex_kept=0
    for ((i = 0; i < ${#line}; i++)); do
        c=${line:i:1}
        if [[ -n $quote ]]; then
            if [[ $c == "$quote" ]]; then
                quote=''
            elif [[ $quote == '"' && $c == '\' && ${line:i+1:1} == [\"\\\$\`] ]]; then
                word+=${line:i+1:1}
                ((i++))
            else
                word+=$c
            fi
        elif [[ $c == [[:blank:]] ]]; then
            ((started)) && _talvex_words+=("$word")
            word='' started=0 _talvex_kept=0
        elif [[ $c == [\"\'] ]]; then
            quote=$c started=1 _talvex_kept=${#word}
        elif [[ $c == '\' ]]; then
            word+=${line:i+1:1} started=1
            ((i++))
        else
            word+=$c started=1
            [[ $breaks == *"$c"* ]] && _talvex_kept=${#word}
        fi
    done
    _talvex_words+=("$word")
}

# Sets COMPREPLY to the folders and files whose names start with $1; with
# $2, only the files whose names match that pattern (folders always). The
# first $3 characters of each name, which readline keeps, are cut off.
_talvex_names() {
    local name
    local -A seen=()
    local -a files=(-f)
    [[ -n $2 ]] && files+=(-X "!$2")
    while IFS= read -r name; do
        [[ -n $name && -z ${seen[$name]:-} ]] || continue
        seen[$name]=1
        COMPREPLY+=("${name:$3}")
    done < <(compgen -d -- "$1"; compgen "${files[@]}" -- "$1")
}

_talvex() {
    local -a _talvex_words
    local _talvex_kept cword cur
    COMPREPLY=()
    _talvex_split "${COMP_LINE:0:COMP_POINT}"
    cword=$((${#_talvex_words[@]} - 1))
    cur=${_talvex_words[cword]}
    if ((cword == 1)); then
        mapfile -t COMPREPLY < <(compgen -W '-e -d -t -i -h' -- "$cur")
        return 0
    fi
    # Names are inserted quoted, a / after folders.
    compopt -o filenames 2>/dev/null
    case $cword,${_talvex_words[1]} in
    3,-d | 3,-t) _talvex_names "$cur" '*.[Tt][Vv][Xx]' "$_talvex_kept" ;;
    *) _talvex_names "$cur" '' "$_talvex_kept" ;;
    esac
    return 0
}

complete -F _talvex talvex
