#!/usr/bin/env bash
# Checks the walls between the source folders against the README's wall table
# (section "Layout", the table whose header is "| Folder | May use |"):
#   - every folder that builds a library has a row;
#   - every quoted include "X/..." of a folder's sources names the folder itself
#     or a folder its row lists (never tests/ or bench/);
#   - every lumvet_X library its CMakeLists.txt links is its own or of such a folder.
# The build enforces the same walls (each library's include root shows only the
# folders it links), so a table that passes here is the truth.
# Usage: scripts/check_walls.sh [SOURCE_DIR]   (default: the repository)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

declare -A allowed=()
in_table=0
while IFS= read -r line; do
  if [[ $line == "| Folder | May use |"* ]]; then
    in_table=1
    continue
  fi
  ((in_table)) || continue
  [[ $line == "|---"* ]] && continue
  [[ $line == "|"* ]] || break
  folder=$(cut -d'|' -f2 <<<"$line" | tr -d ' `/')
  uses=$(cut -d'|' -f3 <<<"$line" | tr -d '`/' | tr ',' ' ')
  allowed[$folder]=" ${uses//—/} "
done <README.md

if ((${#allowed[@]} == 0)); then
  echo "check_walls: no wall table (| Folder | May use |) in README.md" >&2
  exit 1
fi

problems=0
problem() {
  echo "check_walls: $*" >&2
  problems=$((problems + 1))
}

# Every folder with a library of its own is in the table.
for cmake in */CMakeLists.txt; do
  folder=${cmake%/CMakeLists.txt}
  case $folder in tests | bench) continue ;; esac
  if grep -q 'add_library(lumvet_' "$cmake" && [[ -z ${allowed[$folder]+set} ]]; then
    problem "$folder/ builds a library but has no row in the README's wall table"
  fi
done

for folder in "${!allowed[@]}"; do
  if [[ ! -d $folder ]]; then
    problem "the wall table names $folder/, which does not exist"
    continue
  fi
  may=${allowed[$folder]}
  # Quoted includes with a folder part: "X/file.h".
  while IFS=: read -r file _ target; do
    used=${target%%/*}
    [[ $used == "$folder" || $may == *" $used "* ]] && continue
    if [[ -n ${allowed[$used]+set} || $used == tests || $used == bench ]]; then
      problem "$file includes \"$target\": $folder/ may not use $used/"
    fi
  done < <(grep -EHno '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[^"]+/[^"]+"' \
             "$folder"/*.h "$folder"/*.cc 2>/dev/null |
           sed -E 's/:[[:space:]]*#[[:space:]]*include[[:space:]]+"/:/; s/"$//')
  # Libraries linked.
  for library in $(grep -Eo 'lumvet_[a-z_]+' "$folder/CMakeLists.txt" | sort -u); do
    used=${library#lumvet_}
    [[ $used == "$folder" || $used == build_config || $used == walled_library ]] && continue
    [[ $may == *" $used "* ]] && continue
    problem "$folder/CMakeLists.txt names $library: $folder/ may not use $used/"
  done
done

if ((problems > 0)); then
  echo "check_walls: $problems problem(s); the walls are drawn in README.md, section Layout" >&2
  exit 1
fi
echo "check_walls: ${#allowed[@]} folders, every include and link within its walls"
