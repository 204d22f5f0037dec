#!/usr/bin/env bash
# check_install.sh BUILD SOURCE: installs BUILD into a scratch prefix and checks
# the installed tree: both programs, the manual where the program looks for it,
# the manual pages, the desktop entry with its icon and MIME types; that the
# README, --help and the manual page give the same usage; and that the
# installed tool reads a file and keeps its working database in the user's
# cache folder, writing nothing beside itself.
set -euo pipefail
BUILD="$1"
SOURCE="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
PREFIX="$WORK/usr"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null

for file in \
    bin/velmora-recover \
    bin/velmora-sqlite-recovery \
    "share/doc/velmora-sqlite-recovery/Velmora SQLite Database Recovery.pdf" \
    share/man/man1/velmora-recover.1.gz \
    share/man/man1/velmora-sqlite-recovery.1.gz \
    share/applications/velmora-sqlite-recovery.desktop \
    share/mime/packages/velmora-sqlite-recovery.xml \
    share/icons/hicolor/48x48/apps/velmora-sqlite-recovery.png \
    share/icons/hicolor/256x256/apps/velmora-sqlite-recovery.png; do
  [ -s "$PREFIX/$file" ] || fail "not installed: $file"
done
head -c 5 "$PREFIX/share/doc/velmora-sqlite-recovery/Velmora SQLite Database Recovery.pdf" 2>/dev/null |
  grep -q '^%PDF-' || fail "the installed manual is not a PDF"

# The desktop entry: the program it starts, its icon, the SQLite MIME types.
DESKTOP="$PREFIX/share/applications/velmora-sqlite-recovery.desktop"
grep -qx 'Exec=velmora-sqlite-recovery %f' "$DESKTOP" || fail "desktop entry: Exec"
grep -qx 'Icon=velmora-sqlite-recovery' "$DESKTOP" || fail "desktop entry: Icon"
mime="$(sed -n 's/^MimeType=//p' "$DESKTOP")"
for type in application/vnd.sqlite3 application/x-sqlite3; do
  [[ ";$mime" == *";$type;"* ]] || fail "desktop entry: MIME type $type"
  grep -q "\"$type\"" "$PREFIX/share/mime/packages/velmora-sqlite-recovery.xml" ||
    fail "MIME package: $type"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$DESKTOP" || fail "desktop-file-validate"
fi

# The usage lines of the README, --help and the manual page agree.
squeeze() { tr -s ' \n\t' '   ' ; }
HELP="$("$PREFIX/bin/velmora-recover" --help | squeeze)"
MAN="$(zcat "$PREFIX/share/man/man1/velmora-recover.1.gz" |
  sed -e '/^\.br/d' -e 's/^\.[A-Z]* //' -e 's/\\f[BIR]//g' -e 's/\\-/-/g' | squeeze)"
usages=0
while IFS= read -r line; do
  usage="$(echo "${line#    velmora-recover }" | squeeze)"
  usages=$((usages + 1))
  [[ "$HELP" == *"$usage"* ]] || fail "--help lacks: $usage"
  [[ "$MAN" == *"velmora-recover $usage"* ]] || fail "the manual page lacks: $usage"
done < <(grep '^    velmora-recover ' "$SOURCE/README.md")
[ "$usages" -ge 4 ] || fail "the README lists $usages usages"
for text in "cache folder" "--main-file-only"; do
  [[ "$HELP" == *"$text"* ]] || fail "--help lacks: $text"
  [[ "$MAN" == *"$text"* ]] || fail "the manual page lacks: $text"
  grep -q -- "$text" "$SOURCE/README.md" || fail "the README lacks: $text"
done

# The installed tool reads a file; its working database goes to the user's
# cache folder, never beside the program.
sqlite3 "$WORK/t.db" "CREATE TABLE t(x); INSERT INTO t VALUES(42);"
out="$(cd "$WORK" && HOME="$WORK/home" XDG_CACHE_HOME="$WORK/cache" \
  "$PREFIX/bin/velmora-recover" show "$WORK/t.db" t 2>/dev/null)" || fail "installed tool: exit $?"
[ "$out" = $'x\n42' ] || fail "installed tool printed: $out"
[ -d "$WORK/cache/velmora-recover" ] || fail "no working folder in the user's cache folder"
extra="$(ls -A "$PREFIX/bin" | grep -vx -e velmora-recover -e velmora-sqlite-recovery || true)"
[ -z "$extra" ] || fail "written beside the installed program: $extra"

if [ "$failures" -ne 0 ]; then
  echo "$failures failed" >&2
  exit 1
fi
echo "installed tree checked"
