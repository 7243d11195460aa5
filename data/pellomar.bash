# bash completion for pellomar                                 -*- shell-script -*-
# Installed as /usr/share/bash-completion/completions/pellomar.

_pellomar() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --toggle|--start|--stop)
            COMPREPLY=($(compgen -W 'clicker spammer record play' -- "$cur"))
            return ;;
        --hotkeys)
            COMPREPLY=($(compgen -W 'on off' -- "$cur"))
            return ;;
        --profile)
            # Names of the running program's profiles, one per line.
            local names
            names=$(pellomar --status 2>/dev/null | sed -n 's/.*"profiles":\[\(.*\)\].*/\1/p' |
                sed 's/","/\n/g; s/^"//; s/"$//')
            local IFS=$'\n'
            COMPREPLY=($(compgen -W "$names" -- "$cur"))
            return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--toggle --start --stop --stop-all --hotkeys --profile
            --status --help --version --update-manifest= --selftest-update=' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    # Files the program opens.
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -X '!*.@(pmrmacro|pmrtheme)' -- "$cur") $(compgen -d -- "$cur"))
}
complete -F _pellomar pellomar
