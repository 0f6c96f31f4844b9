# bash completion for mavusfx (installed as share/bash-completion/completions/mavusfx)

_mavusfx() {
    local cur prev command
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    if [ "$COMP_CWORD" -eq 1 ]; then
        mapfile -t COMPREPLY < <(compgen -W "list test extract pack make help --help -h --version" -- "$cur")
        return
    fi
    command=${COMP_WORDS[1]}
    case $command:$prev in
        extract:-C | pack:-o)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.lzh' -- "$cur")
            return ;;
        pack:--method)
            mapfile -t COMPREPLY < <(compgen -W "lh7 lh6 lh5 lh0" -- "$cur")
            return ;;
        pack:--level)
            mapfile -t COMPREPLY < <(compgen -W "0 1 2" -- "$cur")
            return ;;
        make:--start-menu | make:--desktop | make:--send-to)
            mapfile -t COMPREPLY < <(compgen -W "off offer checked forced" -- "$cur")
            return ;;
        make:--from)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        make:--archive)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.[lL][zZ][hH]' -- "$cur")
            return ;;
        make:--stub | make:-o)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.[eE][xX][eE]' -- "$cur")
            return ;;
        pack:--exclude | make:--exclude)
            return ;;
        make:--title | make:--dest | make:--shortcut-target | make:--launch)
            return ;;
    esac
    if [[ $cur == -* ]]; then
        local options=
        case $command in
            extract) options="-C --directory --raw-names" ;;
            pack) options="-o --output --method --level --exclude --follow-symlinks" ;;
            make) options="--archive --from --method --exclude -o --output --config --stub --title --dest
                           --program-files --elevation --shortcut-target --start-menu --desktop --send-to
                           --launch --no-config" ;;
        esac
        options="$options -h --help"
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    case $command in
        pack) mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
        *) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    esac
} && complete -o filenames -F _mavusfx mavusfx
