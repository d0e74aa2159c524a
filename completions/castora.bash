# bash completion for castora                                   -*- shell-script -*-
#
# Installed as share/bash-completion/completions/castora; it can also be sourced directly.
# Works with and without the bash-completion package (which is only used for nicer file names).

_castora_profiles="low_power_360p balanced_480p standard_720p high_1080p"
_castora_scenes="camera_clean screen_clean creator_lower_third gift_war_scoreboard game_battle device_show"

_castora_flag_options="-h --help --version --list-profiles --print-devices --list-scenes --list-automation
    --list-platforms --brand-kit --screen --no-audio --virtual-background --check-update
    --skip-update-check --auto-download-update --no-error-reporting --reconnect --dry-run
    --check-ffmpeg --live-overlays --verbose"

# Options that take the next word as their value, whatever it looks like.
_castora_value_options="--config --write-sample-config --profile --scene --ingest-url --stream-key
    --target --target-file --record-file --ffmpeg --video-input --audio-input --overlay-title
    --overlay-subtitle --score-left --score-right --watermark --automation-poll-url
    --automation-ack-url --automation-token --update-url --report-url --overlay-file"

# Fills COMPREPLY with the lines a command prints, unsplit and unglobbed (bash 3.2 has no mapfile).
_castora_reply() {
    local line
    COMPREPLY=()
    while IFS= read -r line; do
        COMPREPLY+=("$line")
    done < <("$@")
}

_castora_commands() {
    compgen -c -- "$1" | sort -u
}

_castora_files() {
    if declare -F _filedir >/dev/null; then
        _filedir
    else
        compopt -o filenames 2>/dev/null
        _castora_reply compgen -f -- "$1"
    fi
}

_castora() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()

    # Walk the words before the cursor the way castora reads them: a value option swallows the
    # next word, so "--overlay-title --profile" leaves --profile as a title, not an option.
    local i=1 expecting=""
    while ((i < COMP_CWORD)); do
        if [[ " ${_castora_value_options//$'\n'/ } " == *" ${COMP_WORDS[i]} "* ]]; then
            if ((i + 1 == COMP_CWORD)); then
                expecting=${COMP_WORDS[i]}
                break
            fi
            ((i += 2))
        else
            ((i += 1))
        fi
    done

    local IFS=$' \t\n'
    case $expecting in
    "")
        _castora_reply compgen -W "$_castora_flag_options $_castora_value_options" -- "$cur"
        ;;
    --profile)
        _castora_reply compgen -W "$_castora_profiles" -- "$cur"
        ;;
    --scene)
        _castora_reply compgen -W "$_castora_scenes" -- "$cur"
        ;;
    --config | --write-sample-config | --target-file | --record-file | --overlay-file)
        _castora_files "$cur"
        ;;
    --ffmpeg)
        # A name without a slash is looked up on PATH, a name with one is a file.
        if [[ $cur == */* ]]; then
            _castora_files "$cur"
        else
            _castora_reply _castora_commands "$cur"
        fi
        ;;
    *)
        # URLs, keys, device names and overlay texts: nothing sensible to offer.
        ;;
    esac
    return 0
}

complete -F _castora castora
