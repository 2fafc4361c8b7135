#!/bin/sh
# Builds the two Debian packages (vrx4-cli, vrx4) from the build tree,
# checks their Depends lines and that no file is in both, unpacks them into
# temporary folders (dpkg-deb -x, nothing is installed on this machine) and
# runs the programs from there: vrx4-cli alone (devices), vrx4-cli --version and devices (the device
# table from usr/share/vrx4/), and vrx4 --simulate offscreen until it is
# told to stop, so that the installed layout is shown to work.
set -eu
build=$1
version=$2
command -v dpkg-deb >/dev/null || { echo "dpkg-deb is not installed: skipped"; exit 77; }
command -v dpkg-shlibdeps >/dev/null || { echo "dpkg-shlibdeps (dpkg-dev) is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
gui="$work/out/vrx4_${version}_amd64.deb"
cli="$work/out/vrx4-cli_${version}_amd64.deb"
for deb in "$cli" "$gui"; do
  [ -f "$deb" ] || { echo "no $deb:"; ls "$work/out"; exit 1; }
  echo "$(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
done

# Library dependencies were found, not written by hand; the command line's
# package pulls no Qt, the window's depends on it of the same version.
depends=$(dpkg-deb -f "$cli" Depends)
echo "vrx4-cli Depends: $depends"
for lib in libusb-1.0-0 libc6; do
  case "$depends" in *"$lib"*) ;; *) echo "vrx4-cli Depends lacks $lib"; exit 1 ;; esac
done
case "$depends" in *qt*|*Qt*) echo "vrx4-cli depends on Qt"; exit 1 ;; esac
depends=$(dpkg-deb -f "$gui" Depends)
echo "vrx4 Depends: $depends"
for lib in libqt6widgets6 libqt6svg6 libc6 "vrx4-cli (= $version)"; do
  case "$depends" in *"$lib"*) ;; *) echo "vrx4 Depends lacks $lib"; exit 1 ;; esac
done
# Each file in one package only.
dpkg-deb -c "$cli" | awk '$1 !~ /^d/ {print $NF}' | sort >"$work/cli.files"
dpkg-deb -c "$gui" | awk '$1 !~ /^d/ {print $NF}' | sort >"$work/gui.files"
both=$(comm -12 "$work/cli.files" "$work/gui.files")
[ -z "$both" ] || { echo "in both packages: $both"; exit 1; }
grep -q 'usr/bin/vrx4-cli$' "$work/cli.files" && grep -q 'usr/lib/udev/rules.d/60-vrx4.rules$' "$work/cli.files" &&
  grep -q 'usr/share/vrx4/vrx4type.tbl$' "$work/cli.files" || { echo "vrx4-cli lacks its files"; cat "$work/cli.files"; exit 1; }
if grep -q 'usr/bin/vrx4$\|applications/' "$work/cli.files"; then echo "vrx4-cli carries the window's files"; exit 1; fi

# The command line alone, as on a headless bench.
clionly="$work/cli-only"
dpkg-deb -x "$cli" "$clionly"
"$clionly/usr/bin/vrx4-cli" devices >"$work/devices" || { cat "$work/devices"; exit 1; }
grep -q '^DEMO-B256K ' "$work/devices" || { cat "$work/devices"; exit 1; }

# The install script replays udev "add" events for the unit's IDs only.
dpkg-deb -e "$cli" "$work/control"
rule=$(dpkg-deb --fsys-tarfile "$cli" | tar -xOf - ./usr/lib/udev/rules.d/60-vrx4.rules)
vendor=$(printf '%s\n' "$rule" | sed -n 's/.*ATTR{idVendor}=="\([0-9a-f]*\)".*/\1/p')
product=$(printf '%s\n' "$rule" | sed -n 's/.*ATTR{idProduct}=="\([0-9a-f]*\)".*/\1/p')
grep -q -- "--attr-match=idVendor=$vendor" "$work/control/postinst" &&
  grep -q -- "--attr-match=idProduct=$product" "$work/control/postinst" ||
  { echo "postinst does not name the IDs $vendor:$product:"; cat "$work/control/postinst"; exit 1; }
[ -x "$work/control/postinst" ] || { echo "postinst is not executable"; exit 1; }

root="$work/root"
dpkg-deb -x "$cli" "$root"
dpkg-deb -x "$gui" "$root"
for f in usr/bin/vrx4 usr/bin/vrx4-cli usr/bin/vrx4-unitsim \
         usr/share/vrx4/vrx4type.tbl usr/share/vrx4/vrx4.fwp \
         usr/share/vrx4/vrx4me.pdf usr/share/vrx4/vrx4mj.pdf \
         usr/lib/udev/rules.d/60-vrx4.rules \
         usr/share/applications/com.velmora.vrx4.desktop \
         usr/share/icons/hicolor/scalable/apps/vrx4.svg \
         usr/share/metainfo/com.velmora.vrx4.metainfo.xml \
         usr/share/man/man1/vrx4.1.gz usr/share/man/man1/vrx4-cli.1.gz usr/share/man/man1/vrx4-unitsim.1.gz; do
  [ -f "$root/$f" ] || { echo "the package lacks $f"; exit 1; }
done
# Each man page has the sections an operator looks for.
for page in vrx4 vrx4-cli vrx4-unitsim; do
  for section in "EXIT STATUS" FILES EXAMPLES; do
    gzip -dc "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.SH \"\?$section\"\?\$" ||
      { echo "the man page of $page has no $section section"; exit 1; }
  done
done
[ ! -e "$root/usr/bin/vrx4type.tbl" ] || { echo "data files belong in usr/share/vrx4/"; exit 1; }

bin="$root/usr/bin"
"$bin/vrx4-cli" --version | grep -q "^vrx4-cli $version\$" || { "$bin/vrx4-cli" --version; exit 1; }
"$bin/vrx4-cli" devices >"$work/devices" || { cat "$work/devices"; exit 1; }
grep -q '^DEMO-B256K ' "$work/devices" || { cat "$work/devices"; exit 1; }
"$bin/vrx4-unitsim" --version | grep -q "^vrx4-unitsim $version\$"

# The program on its simulated unit, offscreen, in folders of its own; it
# runs until SIGTERM, which ends it as the Exit command does (folders
# remembered, status 0).
home="$work/home"
mkdir -p "$home/run"
chmod 700 "$home/run"
status=0
env HOME="$home" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state" \
    QT_QPA_PLATFORM=offscreen \
    timeout --preserve-status -s TERM 3 "$bin/vrx4" --simulate -Automation >"$work/vrx4.log" 2>&1 || status=$?
cat "$work/vrx4.log"
[ "$status" -eq 0 ] || { echo "vrx4 ended with status $status"; exit 1; }
grep -q 'stopped by a signal' "$work/vrx4.log" || { echo "vrx4 did not run until told to stop"; exit 1; }
if grep -q '^vrx4: stop:' "$work/vrx4.log"; then echo "vrx4 stopped with a message"; exit 1; fi
# "dlg_path" is written at exit once the start-up has read the device table:
# beside the program when that folder is writable, else in the
# configuration folder.
[ -f "$bin/dlg_path" ] || [ -f "$home/config/vrx4/dlg_path" ] || { echo "no dlg_path written"; exit 1; }
echo "package smoke test passed"
