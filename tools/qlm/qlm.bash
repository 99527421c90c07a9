# bash completion of qlm, the administration command of a Quillmar installation.
_qlm() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local commands="init doctor explain status stop export import backup restore help"
  local i cmd=""
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      --root|-r) ((i++)) ;;
      -*) ;;
      *) cmd=${COMP_WORDS[i]}; break ;;
    esac
  done
  case $prev in
    --root|-r|--server|--errortexts|--ini|--output) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --format) COMPREPLY=($(compgen -W "jsonl csv" -- "$cur")); return ;;
  esac
  if [ -z "$cmd" ]; then
    COMPREPLY=($(compgen -W "$commands --root --help --version" -- "$cur"))
    return
  fi
  case $cmd in
    init) COMPREPLY=($(compgen -W "--server --errortexts --ini --help" -- "$cur")) ;;
    export) COMPREPLY=($(compgen -W "--project --format --output --help" -- "$cur")) ;;
    import) [[ $cur == -* ]] && COMPREPLY=($(compgen -W "--format --help" -- "$cur")) || COMPREPLY=($(compgen -f -- "$cur")) ;;
    backup|restore) [[ $cur == -* ]] && COMPREPLY=($(compgen -W "--help" -- "$cur")) || COMPREPLY=($(compgen -f -- "$cur")) ;;
    help) COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
    *) COMPREPLY=($(compgen -W "--help" -- "$cur")) ;;
  esac
}
complete -F _qlm qlm
