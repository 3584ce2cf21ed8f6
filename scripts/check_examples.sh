#!/usr/bin/env bash
# Runs the examples of the documentation and compares what they print with what
# the documentation shows, so that the two cannot drift apart.
#
# An example is a fenced block (```, indented or not) whose first line begins
# with "$ ": every "$ COMMAND" line is run with bash, standard error joined to
# standard output, and must print exactly the lines that follow it up to the next
# "$ " line or the end of the block. "..." stands for any text, within a line or as whole lines.
# Commands run with the built programs first on PATH, in a fresh folder that holds
# the repository's samples/ and training/ (as links); the commands of one file
# share that folder, in order. In manual page sources (.scd), "\X" stands for X,
# as scdoc prints it.
#
# Usage: scripts/check_examples.sh BUILD_DIR FILE...
set -uo pipefail

build=$(cd "$1" && pwd)
shift
source_dir=$(cd "$(dirname "$0")/.." && pwd)
export PATH="$build/cli:$build/train:$build/nn:$PATH"
export LC_ALL=C.UTF-8

# `text` as a bash pattern: glob characters escaped, "..." made "*".
as_pattern() {
  local text=$1 escaped
  escaped=$(printf '%s' "$text" | sed -e 's/[][\\*?]/\\&/g')
  printf '%s' "${escaped//.../*}"
}

failures=0
examples=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_example() {  # file, line number, command, expected output
  local file=$1 line=$2 command=$3 expected=$4 actual pattern
  examples=$((examples + 1))
  actual=$(cd "$folder" && bash -c "$command" 2>&1 </dev/null)
  pattern=$(as_pattern "$expected")
  # shellcheck disable=SC2053
  if [[ $actual != $pattern ]]; then
    failures=$((failures + 1))
    {
      echo "check_examples: $file:$line: \$ $command"
      echo "--- shown"
      printf '%s\n' "$expected"
      echo "--- printed"
      printf '%s\n' "$actual"
    } >&2
  fi
}

for file in "$@"; do
  folder="$work/$(basename "$file")"
  mkdir -p "$folder"
  ln -s "$source_dir/samples" "$folder/samples"
  ln -s "$source_dir/training" "$folder/training"
  in_block=0 example=0 command="" expected="" start=0 number=0 indent=""
  while IFS= read -r text || [[ -n $text ]]; do
    number=$((number + 1))
    # A block keeps the indentation of its opening fence (a block in a list item).
    if ((in_block)); then
      text=${text#"$indent"}
    elif [[ $text =~ ^(\ *)'```' ]]; then
      indent=${BASH_REMATCH[1]}
      text=${text#"$indent"}
    fi
    if [[ $text == '```'* ]]; then
      if ((in_block)); then
        [[ -n $command ]] && run_example "$file" "$start" "$command" "$expected"
        in_block=0 example=0 command="" expected=""
      else
        in_block=1 example=-1
      fi
      continue
    fi
    ((in_block)) || continue
    if ((example == -1)); then  # the block's first line decides
      example=0
      [[ $text == '$ '* ]] && example=1
    fi
    ((example)) || continue
    # scdoc takes a backslash as an escape, in literal blocks too.
    [[ $file == *.scd && $text == *\\* ]] && text=$(sed -E 's/\\(.)/\1/g' <<<"$text")
    if [[ $text == '$ '* ]]; then
      [[ -n $command ]] && run_example "$file" "$start" "$command" "$expected"
      command=${text#\$ } expected="" start=$number
    elif [[ -z $expected ]]; then
      expected=$text
    else
      expected+=$'\n'$text
    fi
  done <"$file"
done

echo "check_examples: $examples examples, $failures differ"
((failures == 0))
