#!/bin/bash
# End-to-end test of the uninstaller under Wine in Xvfb.
#
#   tests/stub/uninstall_e2e.sh BUILD_DIR SOURCE_DIR   (BUILD_DIR: the windows-x64 build)
#
# vekpack.exe packs two versions of a small tree with "uninstall = yes", then:
#
#   entry     /S installs 1.0: Wine's own Apps & Features (uninstaller --list) shows
#             "Acme Reader 1.0"; /S installs 2.0 over it: one entry, "Acme Reader 2.0",
#             with every value as written (reg query), the file only 1.0 had is gone,
#             uninstall.exe's PE checksum the one pefile computes
#   window    a file added and one changed by the user; the registered UninstallString:
#             the question (screenshot), Yes, the closing message naming the 2 files left
#             (screenshot), exit 6; every installed file, the shortcut, the group, the
#             entry and uninstall.exe gone, the user's two files still there
#   wait      uninstall.exe, setup.exe and an unconfigured executable with /S /WAIT=1
#             started in a folder holding another product's uninstall.exe: the
#             uninstaller refuses (exit 1), the other two install as without it; both
#             files and the entry stay
#   elsewhere 2.0 installed anew, and again into C:\Acme Two (/D=), which takes the entry; the
#             uninstaller of C:\Acme Reader removes its own install and keeps that entry;
#             the registered one removes C:\Acme Two and the entry
#   rights    2.0 installed by a process without an administrator's full rights
#             (stub_limited): the entry in the user's list, none in the machine's; its
#             uninstaller removes it
#   proposed  1.0 installed into C:\Acme Custom (/D=): 2.0 with /S goes there too, and
#             its window proposes that folder (Alt+F4: exit 8); 2.0 with /D=C:\Acme Other
#             logs the install it keeps in C:\Acme Custom; both uninstalled
#   quiet     1.0 and 2.0 installed again, half of the files deleted by hand: the
#             registered QuietUninstallString without a window, exit 0, nothing of
#             either version left, the folder gone
#   link      2.0 into a folder where uninstall.exe is a link to the uninstaller of
#             another install: the link and its target as they were, exit 4, the entry
#             still that install's
#   long      2.0 into a destination of 306 characters and its QuietUninstallString:
#             the folder gone, the uninstall.exe in C:\windows and C:\ still there
#   through   2.1's docs replaced by a link to a copy with the same files and times and
#             an empty sub-folder: the QuietUninstallString removes none of the copy's
#             files nor its folder, exit 7, the entry stays
#
# Screenshots stay in BUILD_DIR/tests/stub/uninstall-e2e/screenshots. Exit 0 on success,
# 1 on failure, 77 (skip) when Xvfb, Wine or xdotool is missing.
set -u

if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
  echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2
  exit 2
fi
BUILD_DIR=$(cd "$1" && pwd)
STUB=$BUILD_DIR/src/stub/vekstub.exe
VEKPACK=$BUILD_DIR/tools/vekpack.exe
PROBE=$BUILD_DIR/tests/stub/stub_probe.exe
LIMITED=$BUILD_DIR/tests/stub/stub_limited.exe
WORK=$BUILD_DIR/tests/stub/uninstall-e2e

. "$(dirname "$0")/../support/wine-e2e.sh"
find_wine_tools
XDOTOOL=$(command -v xdotool) || { echo "SKIP: xdotool not found"; exit 77; }
for f in "$STUB" "$VEKPACK" "$PROBE" "$LIMITED"; do
  [ -f "$f" ] || { echo "FAIL: $f not built"; exit 1; }
done

SHOTS=$WORK/screenshots
rm -rf "$WORK"
mkdir -p "$SHOTS"
export WINEPREFIX=$BUILD_DIR/tests/stub/wineprefix-uninstall
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
DRIVE_C=$WINEPREFIX/drive_c
DEST=$DRIVE_C/Acme\ Reader
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Acme Reader'
trap cleanup EXIT

start_xvfb 150
ensure_wine_prefix
keep_wine_server

# pack VERSION FILE... : the executable of that version with those files (and docs/).
pack() {
  local version=$1 tree=$WORK/tree-$1 f
  shift
  mkdir -p "$tree/docs"
  for f in "$@"; do mkdir -p "$(dirname "$tree/$f")" && echo "$f of $version" >"$tree/$f"; done
  cat >"$WORK/setup-$version.cfg" <<EOF
caption = Acme Reader $version Setup
folder = C:\\Acme Reader
group = Acme
item = index.htm,Acme Reader
product = Acme Reader
publisher = Acme Ltd.
version = $version
uninstall = yes
EOF
  timeout 120 "$WINE" "$VEKPACK" -q --stub "$(win "$STUB")" --config "$(win "$WORK/setup-$version.cfg")" \
    "$(win "$tree")" "$(win "$WORK/setup-$version.exe")" >"$WORK/vekpack.txt" 2>&1 || fail "vekpack $version"
}
install() {  # VERSION; its /LOG in $WORK/install-VERSION.log, shown on failure
  timeout 120 "$WINE" "$WORK/setup-$1.exe" /S "/LOG=$(win "$WORK/install-$1.log")" >"$WORK/install.log" 2>&1
  local rc=$?
  [ $rc -eq 0 ] || fail "install $1: exit $rc"
}
programs_group() { find "$DRIVE_C/users" -path '*Start Menu/Programs/Acme*' 2>/dev/null; }
registered() {  # [KEY]: true when the entry is there; its values in $WORK/entry.txt
  local rc
  timeout 60 "$WINE" reg query "${1:-$KEY}" >"$WORK/entry.raw" 2>/dev/null
  rc=$?
  tr -d '\r' <"$WORK/entry.raw" >"$WORK/entry.txt"
  return $rc
}
# The command registered as $1, run in the background (its exit code in $WORK/$2.rc).
run_registered() {
  local command
  command=$(sed -n "s/^ *$1 *REG_SZ *//p" "$WORK/entry.txt")
  [ -n "$command" ] || fail "no $1"
  rm -f "$WORK/$2.rc"
  (eval "timeout 120 \"\$WINE\" $command" >"$WORK/$2.log" 2>&1; echo $? >"$WORK/$2.rc") &
  STUB_PID=$!
}
finished() {  # NAME EXPECTED-EXIT-CODE
  wait "$STUB_PID"
  STUB_PID=
  [ "$(cat "$WORK/$1.rc")" = "$2" ] || fail "$1: exit $(cat "$WORK/$1.rc"), expected $2"
}
gone() {  # PATH: within 15 s (the uninstaller's copy deletes it once the uninstaller ended)
  local i
  for ((i = 0; i < 75; i++)); do
    [ -e "$1" ] || return 0
    sleep 0.2
  done
  fail "$1 is still there"
}

# --- entry --------------------------------------------------------------------------------
pack 1.0 index.htm old.htm docs/a.htm docs/b.htm
pack 2.0 index.htm new.htm docs/a.htm docs/b.htm
pack 2.1 index.htm new.htm docs/a.htm docs/b.htm docs/sub/c.htm
install 1.0
timeout 60 "$WINE" uninstaller --list 2>/dev/null | tr -d '\r' >"$WORK/list.txt"
has list "Acme Reader 1.0"
install 2.0
timeout 60 "$WINE" uninstaller --list 2>/dev/null | tr -d '\r' >"$WORK/list.txt"
has list "Acme Reader 2.0"
[ "$(grep -c 'Acme Reader' "$WORK/list.txt")" = 1 ] || fail "entry: not one entry: $(cat "$WORK/list.txt")"
registered || fail "entry: no key $KEY"
for value in 'DisplayName    REG_SZ    Acme Reader 2.0' 'DisplayVersion    REG_SZ    2.0' \
             'Publisher    REG_SZ    Acme Ltd.' 'InstallLocation    REG_SZ    C:\Acme Reader' \
             'DisplayIcon    REG_SZ    C:\Acme Reader\uninstall.exe' \
             'UninstallString    REG_SZ    "C:\Acme Reader\uninstall.exe"' \
             'QuietUninstallString    REG_SZ    "C:\Acme Reader\uninstall.exe" /S' \
             'EstimatedSize    REG_DWORD    0x1' 'NoModify    REG_DWORD    0x1' 'NoRepair    REG_DWORD    0x1'; do
  has entry "    $value"
done
[ -e "$DEST/old.htm" ] && fail "entry: old.htm of 1.0 is still there"
[ -f "$DEST/new.htm" ] && [ -f "$DEST/uninstall.exe" ] || fail "entry: 2.0 not installed"
[ -n "$(programs_group)" ] || fail "entry: no Start-menu group"
/usr/bin/python3 - "$DEST/uninstall.exe" <<'PY' || fail "entry: uninstall.exe's PE tables or checksum"
import sys, pefile
pe = pefile.PE(sys.argv[1])
if pe.get_warnings():
    sys.exit("pefile warns: " + "; ".join(pe.get_warnings()))
stored, computed = pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()
sys.exit(0 if stored == computed else f"{stored:#x}, pefile computes {computed:#x}")
PY
echo "entry: Acme Reader 2.0 registered once, with its values; 1.0's own file gone; uninstall.exe's checksum right"

# --- window -------------------------------------------------------------------------------
echo "the user's" >"$DEST/docs/mine.txt"
echo "changed" >>"$DEST/docs/a.htm"
run_registered UninstallString window
WINDOW=$(find_window '^Acme Reader 2.0$' 60) || fail "window: no question"
probe question 'title:Acme Reader 2.0'
has question "Remove Acme Reader 2.0 and its files?"
shot uninstall-question
keys "$WINDOW" Return
for ((i = 0; i < 20; i++)); do  # the question, with the same title, may still be going
  probe done 'title:Acme Reader 2.0'
  grep -qF "was removed" "$WORK/done.txt" && break
  sleep 0.5
done
WINDOW=$(find_window '^Acme Reader 2.0$' 10) || fail "window: no closing message"
has done "Acme Reader 2.0 was removed."
has done "since the installation (2) were left in"
shot uninstall-done
keys "$WINDOW" Return
finished window 6
gone "$DEST/uninstall.exe"
[ "$(cd "$DEST" && find . -type f | sort | tr '\n' ' ')" = "./docs/a.htm ./docs/mine.txt " ] ||
  fail "window: left $(cd "$DEST" && find . | tr '\n' ' ')"
[ -z "$(programs_group)" ] || fail "window: the group is still there: $(programs_group)"
registered && fail "window: the entry is still there"
echo "window: asked, removed, left the user's 2 files and said so, exit 6"

# --- wait: /WAIT= deletes nothing but for the uninstaller's own copy -------------------------
install 2.0
mkdir -p "$DRIVE_C/Other"
echo "another product's" >"$DRIVE_C/Other/uninstall.exe"
(cd "$DRIVE_C/Other" && timeout 120 "$WINE" "$DEST/uninstall.exe" /S /WAIT=1 >"$WORK/wait.log" 2>&1)
rc=$?
[ $rc = 1 ] || fail "wait: the uninstaller with /WAIT=1 exited $rc, expected 1"
(cd "$DRIVE_C/Other" && timeout 120 "$WINE" "$WORK/setup-2.0.exe" /S /WAIT=1 >>"$WORK/wait.log" 2>&1) ||
  fail "wait: the installer with /WAIT=1 failed"
# An unconfigured executable (the stub's own sample texts) ignores the switch as well.
timeout 120 "$WINE" "$VEKPACK" -q --stub "$(win "$STUB")" "$(win "$WORK/tree-2.0")" "$(win "$WORK/plain.exe")" \
  >"$WORK/vekpack.txt" 2>&1 || fail "wait: vekpack without a configuration"
(cd "$DRIVE_C/Other" && timeout 120 "$WINE" "$WORK/plain.exe" /S /WAIT=1 >>"$WORK/wait.log" 2>&1) ||
  fail "wait: the unconfigured executable with /WAIT=1 failed"
[ -f "$DRIVE_C/Other/uninstall.exe" ] && [ -f "$DEST/uninstall.exe" ] || fail "wait: an uninstall.exe was deleted"
registered || fail "wait: the entry went"
echo "wait: /WAIT=1 refused by the uninstaller (exit 1) and ignored by the installer and an unconfigured executable; both uninstall.exe still there"

# --- elsewhere: the entry of a later install in another folder stays ----------------------
TWO=$DRIVE_C/Acme\ Two
rm -rf "$DEST"
install 2.0
timeout 120 "$WINE" "$WORK/setup-2.0.exe" /S '/D=C:\Acme Two' >"$WORK/elsewhere.log" 2>&1 || fail "elsewhere: install"
timeout 120 "$WINE" "$DEST/uninstall.exe" /S >>"$WORK/elsewhere.log" 2>&1 || fail "elsewhere: uninstall exit $?"
gone "$DEST"
registered || fail "elsewhere: the entry of C:\Acme Two went with C:\Acme Reader"
grep -q 'InstallLocation *REG_SZ *C:\\Acme Two$' "$WORK/entry.txt" || fail "elsewhere: $(cat "$WORK/entry.txt")"
run_registered QuietUninstallString elsewhere
finished elsewhere 0
gone "$TWO"
registered && fail "elsewhere: the entry is still there"
echo "elsewhere: C:\Acme Reader's uninstaller kept the entry of C:\Acme Two, whose own removed it"

# --- rights: not elevated, the user's places alone ----------------------------------------
USER_KEY=${KEY/HKLM/HKCU}
timeout 120 "$WINE" "$LIMITED" "$(win "$WORK/setup-2.0.exe")" /S '/D=C:\Acme User' >"$WORK/rights.log" 2>&1 ||
  fail "rights: install exit $?: $(cat "$WORK/rights.log")"
registered && fail "rights: an entry in the machine's list"
registered "$USER_KEY" || fail "rights: no entry in the user's list"
grep -q 'InstallLocation *REG_SZ *C:\\Acme User$' "$WORK/entry.txt" || fail "rights: $(cat "$WORK/entry.txt")"
# (Wine's shell makes the machine's groups in the user's Programs too: what the stub
# asks for is in the Program Manager command, checked by the unit tests.)
[ -n "$(programs_group)" ] || fail "rights: no Start-menu group"
run_registered QuietUninstallString rights
finished rights 0
gone "$DRIVE_C/Acme User"
registered "$USER_KEY" && fail "rights: the user's entry is still there"
echo "rights: not elevated, registered in the user's list and Programs alone; uninstalled from there"

# --- proposed: an update proposes the folder of the version it replaces -------------------
CUSTOM=$DRIVE_C/Acme\ Custom
rm -rf "$DEST"
timeout 120 "$WINE" "$WORK/setup-1.0.exe" /S '/D=C:\Acme Custom' >"$WORK/proposed.log" 2>&1 || fail "proposed: 1.0"
install 2.0
[ -f "$CUSTOM/new.htm" ] && [ ! -e "$CUSTOM/old.htm" ] || fail "proposed: 2.0 did not replace 1.0 in C:\Acme Custom"
[ -e "$DEST" ] && fail "proposed: 2.0 went into the configured folder"
rm -f "$WORK/proposed.rc"
(timeout 120 "$WINE" "$WORK/setup-2.0.exe" >>"$WORK/proposed.log" 2>&1; echo $? >"$WORK/proposed.rc") &
STUB_PID=$!
WINDOW=$(find_window '^Acme Reader 2.0 Setup$' 60) || fail "proposed: no window"
sleep 1
probe proposed class:TForm1
has proposed 'text=C:\Acme Custom'
keys "$WINDOW" alt+F4
finished proposed 8
OTHER=$DRIVE_C/Acme\ Other
timeout 120 "$WINE" "$WORK/setup-2.0.exe" /S "/LOG=$(win "$WORK/other.log")" '/D=C:\Acme Other' \
  >>"$WORK/proposed.log" 2>&1 || fail "proposed: 2.0 into C:\Acme Other"
grep -qF 'earlier install kept: C:\Acme Custom (the entry names this one)' "$WORK/other.log" ||
  fail "proposed: the log does not name the earlier install: $(cat "$WORK/other.log")"
timeout 120 "$WINE" "$CUSTOM/uninstall.exe" /S >>"$WORK/proposed.log" 2>&1 || fail "proposed: uninstall C:\Acme Custom"
gone "$CUSTOM"
registered || fail "proposed: no entry"
run_registered QuietUninstallString proposed-uninstall
finished proposed-uninstall 0
gone "$OTHER"
echo "proposed: the update went into C:\Acme Custom, where 1.0 was, and its window proposes it; one into"
echo "          C:\Acme Other logs the earlier install it keeps"

# --- quiet --------------------------------------------------------------------------------
rm -rf "$DEST"
install 1.0
install 2.0
registered || fail "quiet: no entry"
rm -f "$DEST/docs/a.htm" "$DEST/index.htm"
run_registered QuietUninstallString quiet
finished quiet 0
gone "$DEST"
[ -z "$(programs_group)" ] || fail "quiet: the group is still there"
registered && fail "quiet: the entry is still there"
echo "quiet: no window, exit 0, the folder gone"

# --- link: a link standing at uninstall.exe is never written through ----------------------
# Under Wine a Unix link to a file looks like the file, with its target's final path:
# here the uninstaller of the install in $DEST, which an update through the link would
# rewrite with a record of the other folder.
install 2.0
LINKED=$DRIVE_C/Acme\ Linked
mkdir -p "$LINKED"
ln -s "$DEST/uninstall.exe" "$LINKED/uninstall.exe"
before=$(sha256sum <"$DEST/uninstall.exe")
timeout 120 "$WINE" "$WORK/setup-2.0.exe" /S "/LOG=$(win "$WORK/link.log")" '/D=C:\Acme Linked' >"$WORK/install.log" 2>&1
rc=$?
[ "$(sha256sum <"$DEST/uninstall.exe")" = "$before" ] || fail "link: the link's target was written"
[ -L "$LINKED/uninstall.exe" ] || fail "link: the link was replaced"
[ $rc = 4 ] || fail "link: exit $rc, expected 4 (the uninstaller not made)"
[ -f "$LINKED/index.htm" ] || fail "link: the files not installed"
registered && has entry 'InstallLocation    REG_SZ    C:\Acme Reader' || fail "link: the entry no longer names $DEST"
echo "link: a link at uninstall.exe to another install's left as it was, its target untouched; exit 4"

# --- long: a destination longer than MAX_PATH ------------------------------------------------
# The uninstaller's copy that deletes it works from the install's folder by its full
# path: the folder goes, and nothing in the Windows folder or at the drive's root.
run_registered QuietUninstallString unlink
finished unlink 0
long='C:\Acme Long'
for ((i = 0; i < 6; i++)); do long+='\a folder name of some forty-five characters long'; done
timeout 120 "$WINE" "$WORK/setup-2.0.exe" /S "/LOG=$(win "$WORK/long.log")" "/D=$long" >"$WORK/install.log" 2>&1 ||
  fail "long: exit $?"
LONG=$DRIVE_C/${long#C:\\}
LONG=${LONG//\\//}
[ -f "$LONG/uninstall.exe" ] || fail "long: no uninstall.exe in $LONG"
registered || fail "long: no entry"
touch "$DRIVE_C/windows/uninstall.exe" "$DRIVE_C/uninstall.exe"
run_registered QuietUninstallString long
finished long 0
gone "$LONG"
registered && fail "long: the entry is still there"
[ -f "$DRIVE_C/windows/uninstall.exe" ] && [ -f "$DRIVE_C/uninstall.exe" ] || fail "long: an uninstall.exe elsewhere was deleted"
echo "long: a ${#long}-character destination installed and uninstalled, nothing else deleted"

# --- through: a folder of the install replaced by a link to a copy elsewhere ----------------
# The copy has the same files with the same times, and its sub-folder is empty: the
# uninstaller removes nothing through the link, says it could not remove the files,
# and keeps its entry.
install 2.1
cp -a "$DEST/docs" "$DRIVE_C/docs-copy"
rm "$DRIVE_C/docs-copy/sub/c.htm"
rm -rf "$DEST/docs"
ln -s "$DRIVE_C/docs-copy" "$DEST/docs"
registered || fail "through: no entry"
run_registered QuietUninstallString through
finished through 7
[ -f "$DRIVE_C/docs-copy/a.htm" ] && [ -f "$DRIVE_C/docs-copy/b.htm" ] || fail "through: the copy's files were removed"
[ -d "$DRIVE_C/docs-copy/sub" ] || fail "through: the copy's empty folder was removed"
[ -e "$DEST/index.htm" ] && fail "through: index.htm, the install's own, is still there"
registered || fail "through: the entry went while files are left"
echo "through: nothing removed through a link in place of a folder (exit 7), the entry kept"
rm -rf "$DEST" "$DRIVE_C/docs-copy"  # the prefix as the next run expects it
timeout 60 "$WINE" reg delete "$KEY" /f >/dev/null 2>&1
echo "PASS"
