#!/usr/bin/env bash
# Builds the Debian package vendrel_VERSION_ARCH.deb (both programs, their resources, the
# desktop entry and icons, the manual pages, the bash completion of krt) in build/deb with
# `cpack -G DEB`, its dependencies computed by dpkg-shlibdeps, and runs lintian on it.
#
#   scripts/package-deb.sh           build the package; its path is the last line printed
#   scripts/package-deb.sh --check   also unpack it into a temporary root (dpkg -x) and run
#                                    both programs and the manual page from there
#
# Only the programs and the files they install are built (no tests). Exit status 0 when the
# package was built (and, with --check, everything ran and lintian reported no error).
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
[ "${1:-}" = "--check" ] && check=1
build=${VENDREL_DEB_BUILD:-build/deb}

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVENDREL_BENCH=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target vendrel krt_tool vendrel_resources vendrel_docs
rm -f "$build"/vendrel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vendrel_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends

status=0
if command -v lintian >/dev/null; then
  echo "lintian:"
  # Errors fail the run; warnings and notes are shown.
  lintian --tag-display-limit 0 "$deb" | tee "$build/lintian.txt" || true
  if grep -q '^E:' "$build/lintian.txt"; then status=1; fi
else
  echo "lintian is not installed: not checked"
fi

if [ "$check" = 1 ]; then
  root=$(mktemp -d)
  trap 'rm -rf "$root"' EXIT
  dpkg -x "$deb" "$root"
  for f in usr/bin/vendrel usr/bin/krt usr/share/vendrel/Language/English.lang \
           usr/share/applications/vendrel.desktop usr/share/icons/hicolor/48x48/apps/vendrel.png \
           usr/share/man/man1/vendrel.1.gz usr/share/man/man1/krt.1.gz \
           usr/share/bash-completion/completions/krt usr/share/doc/vendrel/copyright; do
    [ -e "$root/$f" ] || { echo "missing from the package: $f" >&2; status=1; }
  done
  "$root/usr/bin/krt" --help | head -1
  QT_QPA_PLATFORM=offscreen "$root/usr/bin/vendrel" --version
  man -l "$root/usr/share/man/man1/krt.1.gz" 2>/dev/null | head -3 | tail -1 || true
  # The unpacked viewer finds its resources beside its bin folder.
  [ "$(cd "$root/usr/bin" && ls ../share/vendrel/Language)" != "" ] || status=1
  bash -c "source '$root/usr/share/bash-completion/completions/krt'; complete -p krt" || status=1
fi
echo "$deb"
exit "$status"
