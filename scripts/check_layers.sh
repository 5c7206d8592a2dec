#!/usr/bin/env bash
# Fails when a folder of src/ includes a folder above it. The layer order is
# the list of folders in ARCHITECTURE.md (lines "| `folder` | ..."), bottom
# first; a folder is a directory two levels below src/ (or one, where it has
# no sub-folders), and src/main.cpp stands above everything.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t order < <(grep -oE '^\| `[a-z0-9_/]+`' ARCHITECTURE.md | sed -E 's/^\| `([^`]+)`/\1/')
((${#order[@]})) || { echo "check_layers: no folders listed in ARCHITECTURE.md" >&2; exit 1; }
declare -A rank
for i in "${!order[@]}"; do rank[${order[$i]}]=$i; done
rank[main]=${#order[@]}

folder_of() {  # path below src/ -> its folder
  local p=$1
  case "$p" in
    */*/*) echo "${p%%/*}/$(cut -d/ -f2 <<<"$p")" ;;
    */*) echo "${p%%/*}" ;;
    *) echo main ;;
  esac
}

status=0
while IFS= read -r file; do
  rel=${file#src/}
  from=$(folder_of "$rel")
  if [ -z "${rank[$from]+x}" ]; then
    echo "check_layers: $from (of $rel) is not listed in ARCHITECTURE.md" >&2; status=1; continue
  fi
  while IFS= read -r inc; do
    [ -f "src/$inc" ] || continue
    to=$(folder_of "$inc")
    [ "$to" = "$from" ] && continue
    if [ -z "${rank[$to]+x}" ]; then
      echo "check_layers: $to (included by $rel) is not listed in ARCHITECTURE.md" >&2; status=1
    elif ((rank[$to] > rank[$from])); then
      echo "check_layers: $rel ($from) includes $inc ($to), a layer above it" >&2; status=1
    fi
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([^"]+)".*/\1/p' "$file")
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.inc' \) | sort)
if ((status == 0)); then echo "check_layers: ${#order[@]} folders, no include points upward"; fi
exit $status
