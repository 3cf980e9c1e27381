#!/usr/bin/env bash
# Installs, on a Debian machine, everything the build and the tests need.
# Safe to run again: it only installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libsqlite3-dev libxml2-dev liblzo2-dev
  eb-utils libeb16-dev
  clang libclang-rt-dev
  python3 python3-lzo sqlite3
  dictzip sdcv stardict-tools dict-gcide dict-freedict-eng-deu stardict-czech
  freepwing unifont
)
packages+=(wamerican)  # a real English word list: the text scan and the MDict and user-dictionary whole-file checks
packages+=(wamerican-huge)  # 348k words, some accented: the MDict raw-order and accented-headword whole checks
packages+=(libffi-dev)  # its multi-page HTML manual (exported by Texinfo) for the HTML source check
packages+=(m4-doc)  # another Texinfo manual (105 pages), for the same check
packages+=(python-itsdangerous-doc python-jinja2-doc)  # multi-page HTML manuals exported by Sphinx, for the same check
packages+=(aptitude-doc-en)  # a DocBook manual (89 pages: inline code, div layouts) for the same check
packages+=(edict)  # Japanese-English word list: the headword search check builds a book from it
packages+=(stardict-xmlittre)  # a second real StarDict dictionary (French) for the whole-file checks
# Node.js runs the independent MDict reader the tests compare with; a machine
# that has its own Node.js keeps it.
command -v node >/dev/null 2>&1 || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Test-only npm packages, pinned by their lockfiles.
for dir in tests/*/*/js tests/*/js; do
  [ -f "$dir/package-lock.json" ] || continue
  if [ ! -d "$dir/node_modules" ]; then
    (cd "$dir" && npm ci --no-audit --no-fund --silent)
  fi
done
