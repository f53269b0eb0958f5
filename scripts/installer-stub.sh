#!/usr/bin/env bash
# The Tav live classes client, version @VERSION@: a self-extracting installer.
# TAVFILEVERSION:@VERSION@
#
# Installs into $TAV_INSTALL_DIR (the updater names the client's folder there),
# else @DEFAULT_DIR@. The archive after this script is checked against its
# checksum, unpacked beside the client and renamed into place file by file; if
# a rename fails, the files already replaced are put back, so the folder holds
# either the old client or the new one. Then the client is started.
set -uo pipefail

PAYLOAD_SHA256=@SHA256@
PAYLOAD_BYTES=@BYTES@

say() { echo "AutoUpdate: $*" >&2; }
self="$(readlink -f "$0")"
dir="${TAV_INSTALL_DIR:-@DEFAULT_DIR@}"

total=$(stat -c %s "$self") || exit 1
if [ "$total" -le "$PAYLOAD_BYTES" ]; then
  say "the installer is cut short"
  exit 1
fi
mkdir -p "$dir" || { say "cannot create $dir"; exit 1; }
# Beside the client, so that the renames stay within one file system.
work="$(mktemp -d "$dir/.tav-install.XXXXXX")" || { say "cannot write into $dir"; exit 1; }
trap 'rm -rf "$work"' EXIT

tail -c "$PAYLOAD_BYTES" "$self" >"$work/payload.tar.gz"
if ! echo "$PAYLOAD_SHA256  $work/payload.tar.gz" | sha256sum -c --status; then
  say "checksum mismatch: the installer is damaged, nothing was changed"
  exit 1
fi
mkdir "$work/new" "$work/old"
if ! tar -xzf "$work/payload.tar.gz" -C "$work/new"; then
  say "cannot unpack, nothing was changed"
  exit 1
fi

replaced=()
put_back() {
  local f
  for f in "${replaced[@]}"; do
    if [ -e "$work/old/$f" ] || [ -L "$work/old/$f" ]; then
      mv -f "$work/old/$f" "$dir/$f"
    else
      rm -f "$dir/$f"
    fi
  done
}
cd "$work/new" || exit 1
while IFS= read -r -d '' f; do
  f="${f#./}"
  sub="$(dirname "$f")"
  if ! mkdir -p "$dir/$sub" "$work/old/$sub"; then
    put_back
    say "cannot create $dir/$sub, the old client was kept"
    exit 1
  fi
  # Keep the old file (a second name for it) until the new one is in place.
  if [ -e "$dir/$f" ] && ! ln "$dir/$f" "$work/old/$f"; then
    put_back
    say "cannot keep $dir/$f, the old client was kept"
    exit 1
  fi
  if ! mv -f "$f" "$dir/$f"; then
    put_back
    say "cannot replace $dir/$f, the old client was kept"
    exit 1
  fi
  replaced+=("$f")
done < <(find . \( -type f -o -type l \) -print0 | sort -z)
cd / || exit 1
# Gone before the client starts: nothing of the unpacking is left beside it.
rm -rf "$work"
trap - EXIT

say "version @VERSION@ installed in $dir"
if [ -x "$dir/TavPcClient" ]; then
  (cd "$dir" && setsid "$dir/TavPcClient" </dev/null >/dev/null 2>&1 &)
fi
exit 0
