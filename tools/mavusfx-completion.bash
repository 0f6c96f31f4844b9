# bash completion for mavusfx (installed as share/bash-completion/completions/mavusfx)

# Fills COMPREPLY with the words of $1 that begin with $2.
_mavusfx_words() {
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$2")
}

# Folders, and files whose names end in one of the extensions given (in any case).
_mavusfx_files() {
    local cur=$1 pattern
    shift
    mapfile -t COMPREPLY < <(
        compgen -d -- "$cur"
        for pattern in "$@"; do
            compgen -f -X "!*.$pattern" -- "$cur"
            compgen -f -X "!*.${pattern^^}" -- "$cur"
        done | sort -u
    )
}

_mavusfx() {
    local cur prev command option
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    if [ "$COMP_CWORD" -eq 1 ]; then
        _mavusfx_words "list test extract pack make help --help -h --version" "$cur"
        return
    fi
    command=${COMP_WORDS[1]}
    # "--method=lh": bash splits the word at '=' (COMP_WORDBREAKS), so the option
    # stands before the '=' and the value after it.
    option=$prev
    if [ "$cur" = "=" ]; then
        cur=
    elif [ "$prev" = "=" ] && [ "$COMP_CWORD" -ge 3 ]; then
        option=${COMP_WORDS[COMP_CWORD-2]}
    fi

    case $command:$option in
        help:*)
            [ "$COMP_CWORD" -eq 2 ] && _mavusfx_words "list test extract pack make" "$cur"
            return ;;
        extract:-C | extract:--directory)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        pack:-o | pack:--output)
            _mavusfx_files "$cur" lzh
            return ;;
        pack:--method | make:--method)
            _mavusfx_words "lh7 lh6 lh5 lh0" "$cur"
            return ;;
        pack:--level)
            _mavusfx_words "0 1 2" "$cur"
            return ;;
        make:--elevation)
            _mavusfx_words "invoker highest admin" "$cur"
            return ;;
        make:--start-menu | make:--desktop | make:--send-to)
            _mavusfx_words "off offer checked forced" "$cur"
            return ;;
        make:--from)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        make:--archive)
            _mavusfx_files "$cur" lzh
            return ;;
        make:--stub | make:-o | make:--output)
            _mavusfx_files "$cur" exe
            return ;;
        make:--config)
            _mavusfx_files "$cur" toml
            return ;;
        make:--icon)
            _mavusfx_files "$cur" ico
            return ;;
        pack:--exclude | make:--exclude | make:--title | make:--dest | make:--shortcut-target | \
        make:--launch | make:--product-name | make:--company | make:--description | \
        make:--product-version | make:--file-version | make:--copyright)
            COMPREPLY=()
            return ;;
    esac
    if [[ $cur == -* ]]; then
        local options=
        case $command in
            extract) options="-C --directory --raw-names --windows-names --keep-macbinary" ;;
            test) options="--windows-names" ;;
            pack) options="-o --output --method --level --exclude --follow-symlinks" ;;
            make) options="--archive --from --method --exclude -o --output --config --stub --title --dest
                           --program-files --elevation --shortcut-target --start-menu --desktop --send-to
                           --launch --no-config --icon --product-name --company --description
                           --product-version --file-version --copyright" ;;
        esac
        _mavusfx_words "$options -h --help" "$cur"
        return
    fi
    case $command in
        pack) mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
        make) COMPREPLY=() ;;
        *) _mavusfx_files "$cur" lzh exe ;;
    esac
} && complete -o filenames -F _mavusfx mavusfx
