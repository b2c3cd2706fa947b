#!/usr/bin/env bash
# Formats the C and C++ sources with clang-format, as .clang-format has them.
#
#   scripts/format.sh                 rewrites every source file that differs
#   scripts/format.sh --check         changes nothing: shows what would change
#                                     and exits with 1 if anything would
#   scripts/format.sh [--check] FILE...   the same for the files given
#
# CLANG_FORMAT names the program (default clang-format-14 where it is there,
# else clang-format): other versions format some lines differently.
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
if [ "${1:-}" = --check ]; then
  check=1
  shift
fi
case "${1:-}" in
  -*)
    echo "usage: format.sh [--check] [FILE...]" >&2
    exit 2
    ;;
esac

if [ -z "${CLANG_FORMAT:-}" ]; then
  CLANG_FORMAT=clang-format
  command -v clang-format-14 > /dev/null && CLANG_FORMAT=clang-format-14
fi
if ! command -v "$CLANG_FORMAT" > /dev/null; then
  echo "format.sh: $CLANG_FORMAT not found (Debian: apt-get install clang-format)" >&2
  exit 1
fi

if [ $# -gt 0 ]; then
  files=("$@")
elif git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.c' '*.cpp' '*.h')
else
  mapfile -t files < <(find src tools plugins tests fuzz bench examples -name build -prune -o \
    -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print | sort)
fi

differ=0
for file in "${files[@]}"; do
  # --dry-run --Werror fails for a file that formatting would change.
  if ! "$CLANG_FORMAT" --style=file --dry-run --Werror "$file" > /dev/null 2>&1; then
    differ=$((differ + 1))
    if [ $check = 1 ]; then
      diff -u --label "$file" --label "$file (formatted)" "$file" <("$CLANG_FORMAT" --style=file "$file") || true
    else
      "$CLANG_FORMAT" --style=file -i "$file"
      echo "formatted $file"
    fi
  fi
done

if [ $check = 1 ] && [ $differ -gt 0 ]; then
  echo "format.sh: $differ of ${#files[@]} files are not formatted; scripts/format.sh formats them" >&2
  exit 1
fi
