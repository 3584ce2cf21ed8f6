#!/usr/bin/env bash
# Builds the Debian package of a build (cpack -G DEB) into BUILD_DIR/package/,
# checks its dependencies and contents, unpacks it into a fresh root with dpkg -x
# and runs every program from there, in another working directory: --version, and
# one scoring run each with the data the package ships.
# Usage: scripts/check_deb.sh [BUILD_DIR]   (default: build, already configured)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(cd "${1:-build}" && pwd)

cmake --build "$build" -j2 --target lumvet lumvet-train lumqet man >/dev/null
rm -rf "$build/package"
(cd "$build" && cpack -G DEB -B "$build/package" >/dev/null)
deb=$(ls "$build"/package/lumvet_*.deb)
echo "check_deb: built $deb"

fail() {
  echo "check_deb: $*" >&2
  exit 1
}

# dpkg-shlibdeps found the libraries the programs link.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libjpeg62-turbo libpng16-16 libgif7 libtiff6 libwebp7 \
               libwebpdemux2 libheif1 libraw20 libxxhash0; do
  [[ ", $depends" == *", $library "* ]] || fail "Depends lacks $library: $depends"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/lumvet ./usr/bin/lumvet-train ./usr/bin/lumqet \
            "./usr/share/lumvet/test_30-15-1_0.5-0.05-1=15-1-12000=e15.nn" \
            ./usr/share/man/man1/lumvet.1.gz ./usr/share/man/man1/lumvet-train.1.gz \
            ./usr/share/man/man1/lumqet.1.gz ./usr/share/bash-completion/completions/lumvet \
            ./usr/share/bash-completion/completions/lumvet-train \
            ./usr/share/bash-completion/completions/lumqet \
            ./usr/share/zsh/vendor-completions/_lumvet; do
  grep -qxF "$file" <<<"$contents" || fail "the package lacks $file"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg -x "$deb" "$work/root"
mkdir "$work/elsewhere"
cp "$source_dir/samples/mountain_autumn_blur_s4.jpg" "$source_dir/samples/dandelions.jpg" \
   "$work/elsewhere/"
cd "$work/elsewhere"
bin="$work/root/usr/bin"
expect() {  # expected output, command...
  local expected=$1 actual
  shift
  actual=$("$@" 2>&1) || fail "$* failed: $actual"
  [[ $actual == "$expected" ]] || fail "$*: printed '$actual', expected '$expected'"
  echo "check_deb: ok: ${*#"$work/"}"
}
version=$(sed -nE 's/^project\(lumvet VERSION ([0-9.]+).*/\1/p' "$source_dir/CMakeLists.txt")
for program in lumvet lumvet-train lumqet; do
  expect "$program $version" "$bin/$program" --version
done
expect $'BLUR\tPATH\n100\t./mountain_autumn_blur_s4.jpg\n1/2 are somewhat blurred' \
  "$bin/lumvet" --assessor=sharpness .
expect "29" "$bin/lumqet" --seed=1 mountain_autumn_blur_s4.jpg
expect $'correct classification = 100%\ny=-0.4*x + (9.00572)\nsupport vectors: 3 6 8 14' \
  "$bin/lumvet-train" --selftest --seed=1
for page in lumvet lumvet-train lumqet; do
  man -l "$work/root/usr/share/man/man1/$page.1.gz" 2>/dev/null | grep -q "^NAME" ||
    fail "man page $page(1) does not render"
done
echo "check_deb: the package installs and runs"
