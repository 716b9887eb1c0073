# bash completion for korvel-pst                             -*- shell-script -*-

_korvel_pst()
{
    local cur prev words cword
    _init_completion || return

    local commands="check list save convert extract help"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --folder | --to) ((i++)) ;;
            -*) ;;
            *) command=${words[i]}; break ;;
        esac
    done

    case $prev in
        --to)
            COMPREPLY=($(compgen -W "mbox eml" -- "$cur"))
            return
            ;;
        --folder)
            # Folder paths live inside the mailbox: nothing to offer.
            return
            ;;
    esac

    local options="--quiet --help"
    case $command in
        "")
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--quiet --help --version" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            fi
            return
            ;;
        help)
            COMPREPLY=($(compgen -W "check list save convert extract" -- "$cur"))
            return
            ;;
        check) options+=" --json" ;;
        save) options+=" --folder --no-recovered --force --json" ;;
        convert) options+=" --to --folder --no-recovered --force --json" ;;
        extract) options+=" --force" ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    _filedir
} &&
    complete -F _korvel_pst korvel-pst

# ex: filetype=sh
