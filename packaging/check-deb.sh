#!/usr/bin/env bash
# Checks the Debian package built in a build folder: what it holds, that its manual pages render,
# its desktop entry and metainfo validate, its programs run from an extracted copy, and lintian.
#   packaging/check-deb.sh BUILD_DIR
set -euo pipefail
build=$1
cd "$(dirname "$0")/.."
version=$(sed -n 's/^#define ZELWIK_VERSION "\(.*\)"$/\1/p' "$build/generated/zelwik_version.h")
deb="$build/zelwik_${version}_amd64.deb"
[ -f "$deb" ] || { echo "check-deb: no $deb"; exit 1; }
fail() { echo "check-deb: $*"; exit 1; }

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/zelwik ./usr/bin/zelwik-cli ./usr/bin/zelwik-sim \
  ./usr/share/applications/zelwik.desktop \
  ./usr/share/icons/hicolor/32x32/apps/zelwik.png \
  ./usr/share/icons/hicolor/128x128/apps/zelwik.png \
  ./usr/share/metainfo/org.zelwik.zelwik.metainfo.xml \
  ./usr/share/man/man1/zelwik.1.gz ./usr/share/man/man1/zelwik-cli.1.gz \
  ./usr/share/man/man1/zelwik-sim.1.gz ./usr/share/bash-completion/completions/zelwik-cli \
  ./usr/share/doc/zelwik/copyright ./usr/share/doc/zelwik/changelog.gz; do
  grep -qxF "$path" <<<"$contents" || fail "$path missing from the package"
done
# shlibdeps found the libraries; nobody typed them.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6widgets6 libstdc++6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" | grep -q "^NAME" ||
    fail "$(basename "$page") renders no NAME"
done
desktop-file-validate "$root/usr/share/applications/zelwik.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.zelwik.zelwik.metainfo.xml"
for program in zelwik zelwik-cli zelwik-sim; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/$program" --version)
  [ "$out" = "$program $version" ] || fail "$program --version says '$out'"
  env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/$program" --help | grep -q "^Usage: $program" ||
    fail "$program --help shows no usage"
done

# The completion offers exactly the commands, options and chips that zelwik-cli --help names (its
# commands come from the table of operations every front end runs).
completion="$root/usr/share/bash-completion/completions/zelwik-cli"
PATH="$root/usr/bin:$PATH" bash -c '
  source "$1"
  offered() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _zelwik_cli
              printf "%s\n" "${COMPREPLY[@]}" | sort; }
  help=$(zelwik-cli --help)
  same() {
    [ "$2" = "$3" ] && return
    echo "completion: $1 differ from --help:"
    diff <(echo "$2") <(echo "$3")
    exit 1
  }
  same commands "$(offered zelwik-cli "")" "$(sed -n "/^Commands:/,/^Options:/p" <<<"$help" |
    grep -oE "^  [a-z0-9-]+(, [a-z0-9-]+)*" | tr -d " " | tr , "\n" | sort)"
  same options "$(offered zelwik-cli --)" "$(sed -n "/^Options:/,/^$/p" <<<"$help" |
    grep -oE "^  --[a-z-]+" | tr -d " " | sort)"
  same chips "$(offered zelwik-cli --chip "")" "$(grep -- "^  --chip CHIP" <<<"$help" |
    sed "s/.*--chip CHIP *//; s/(default)//; s/,/ /g" | tr -s " " "\n" | grep . | sort)"
  [ "$(offered zelwik-cli --port a | tr "\n" " ")" = "all auto " ] ||
    { echo "completion: --port a"; exit 1; }
' _ "$completion"

# Errors fail; warnings and notes are shown.
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb"
echo "check-deb: $(basename "$deb") ok"
