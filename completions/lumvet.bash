# bash completion for lumvet, lumvet-train and lumqet: options, the values of
# --format, --assessor and --raw, folders for the folder options, files and
# folders for paths. Installed once under each program's name.

_lumvet_options() {
  case "$1" in
    lumvet)
      echo "-R -0 --seed= --format= --assessor= --threshold= --jobs= --decode-memory= --model=" \
        "--raw= --all-paths" \
        "--files-from= --null --ext= --print0 --seed-per-photo --quiet --report= --help --version"
      ;;
    lumvet-train) echo "--selftest --network --assessor= --good= --blur= --model-dir= --seed= --help --version" ;;
    lumqet) echo "--seed= --model-dir= --help --version" ;;
  esac
}

_lumvet_complete() {
  local program="${COMP_WORDS[0]##*/}"
  local cur="${COMP_WORDS[COMP_CWORD]}"
  local options option="" value="" prefix="" words=""
  options=$(_lumvet_options "$program")
  # The option whose value is being typed: "--name=value" as one word, split at
  # '=' (bash's default word breaks), or "--name value".
  if [[ $cur == --*=* ]]; then
    option="${cur%%=*}" value="${cur#*=}" prefix="$option="
  elif [[ $cur == "=" ]] && ((COMP_CWORD >= 1)); then
    option="${COMP_WORDS[COMP_CWORD - 1]}"
  elif ((COMP_CWORD >= 2)) && [[ ${COMP_WORDS[COMP_CWORD - 1]} == "=" ]]; then
    option="${COMP_WORDS[COMP_CWORD - 2]}" value="$cur"
  elif ((COMP_CWORD >= 1)) && [[ " $options " == *" ${COMP_WORDS[COMP_CWORD - 1]}= "* ]]; then
    option="${COMP_WORDS[COMP_CWORD - 1]}" value="$cur"
  fi
  COMPREPLY=()
  if [[ -n $option ]]; then
    case "$option" in
      --format) words="text tsv jsonl" ;;
      --assessor) words="contrast sharpness" ;;
      --raw) words="preview develop" ;;
      --ext) words="jpg jpeg png gif tif tiff bmp webp heic heif avif dng cr2 cr3 nef arw" ;;
      --model | --files-from)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -P "$prefix" -- "$value")
        return 0
        ;;
      --good | --blur | --model-dir | --report)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -P "$prefix" -- "$value")
        return 0
        ;;
      *) return 0 ;;  # a number
    esac
    mapfile -t COMPREPLY < <(compgen -W "$words" -P "$prefix" -- "$value")
    return 0
  fi
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
    return 0
  fi
  [[ $program == lumvet-train ]] && return 0  # no paths
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  return 0
}

complete -F _lumvet_complete lumvet lumvet-train lumqet
