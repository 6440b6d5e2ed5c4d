# Shared by the scripts that run Windows programs under Wine. Sourced, not run.

# The 32-bit half of Wine is an i386 Linux program. Where the kernel runs no
# 32-bit programs itself (ia32 emulation switched off), qemu's user-mode
# emulator runs them, registered with binfmt_misc.
wine_env_check() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then return 0; fi
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && [ -x /usr/bin/qemu-i386 ]; then
    echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:' \
      > /proc/sys/fs/binfmt_misc/register 2>/dev/null
  fi
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then return 0; fi
  echo "wine: the 32-bit Wine loader does not run here (see scripts/setup)" >&2
  return 1
}

# Boots the template prefix once: 64-bit, no links into the Linux home.
wine_template_ensure() {
  local template=$1
  mkdir -p "$template"
  (
    flock 9
    [ -f "$template/ready" ] && exit 0
    rm -rf "$template/prefix" "$template/home"
    mkdir -p "$template/home"
    export WINEPREFIX=$template/prefix HOME=$template/home WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    echo "wine: booting the template prefix in $template (once per build tree)" >&2
    wineboot -i >"$template/boot.log" 2>&1
    wineserver -w
    # Every Win32 delete acts on a link's target: no folder of the prefix may
    # lead out of it.
    find "$WINEPREFIX/drive_c" -type l | while read -r link; do
      if [ -d "$link" ]; then rm "$link" && mkdir "$link"; else rm "$link" && : >"$link"; fi
    done
    wineserver -k 2>/dev/null || true; wineserver -w || true
    touch "$template/ready"
  ) 9>"$template.lock"
  [ -f "$template/ready" ]
}

# Wine processes of the given prefix that a test left running, by program
# name; the prefix's own system processes do not count.
wine_leftover_processes() {
  local prefix=$1 pid args name
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$pid" = "$$" ] && continue
    { tr '\0' '\n' <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$prefix"; } 2>/dev/null || continue
    args=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null)
    # A Windows program shows as its loader followed by the program's path.
    name=$(printf '%s\n' "$args" | grep -i -m1 -E '\.exe$' | sed 's/.*[\\/]//')
    [ -n "$name" ] || name=$(printf '%s\n' "$args" | head -1 | sed 's/.*[\\/]//')
    case "$(printf '%s' "$name" | tr 'A-Z' 'a-z')" in
      ''|wineserver*|services.exe|winedevice.exe|plugplay.exe|svchost.exe|explorer.exe|rpcss.exe|winemenubuilder.exe|conhost.exe|tabtip.exe|wineboot.exe) continue ;;
    esac
    printf '%s(%s)\n' "$name" "$pid"
  done
}

# Makes a throwaway copy of the template under a new scratch folder and points
# WINEPREFIX and HOME at it; its wineserver is kept alive between programs.
# Sets WINE_SCRATCH and WINE_WORK (the copy's C:\work, made the current folder).
wine_prefix_new() {
  local template=$1
  WINE_SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/wine-run.XXXXXX")
  export WINEPREFIX=$WINE_SCRATCH/prefix HOME=$WINE_SCRATCH/home WINEDEBUG=${WINEDEBUG:--all}
  mkdir -p "$HOME"
  cp -a "$template/prefix" "$WINEPREFIX"
  WINE_WORK=$WINEPREFIX/drive_c/work
  mkdir -p "$WINE_WORK"
  wineserver -p
  cd "$WINE_WORK"
}

# Linux path of a path on the current prefix's C: drive; fails for anything
# else, and for ".." parts, which could lead out of the prefix.
wine_c_path() {
  case "$1" in [Cc]:\\*) ;; *) return 1 ;; esac
  case "$1\\" in *'\..\'*) return 1 ;; esac
  printf '%s/drive_c%s\n' "$WINEPREFIX" "$(printf '%s' "${1#??}" | tr '\\' /)"
}

# Makes the Linux symbolic links that a list file asks for in the current
# prefix: lines "C:\link -> C:\target" (blank lines and "#" comments skipped).
# The link's parent folders are created; the target need not exist yet.
wine_prefix_links() {
  local list=$1 line link target
  while IFS= read -r line || [ -n "$line" ]; do
    line=${line%$'\r'}
    case "$line" in ''|'#'*) continue ;; esac
    case "$line" in *' -> '*) ;; *) echo "wine: no \" -> \" in $list: $line" >&2; return 1 ;; esac
    link=$(wine_c_path "${line%% -> *}") && target=$(wine_c_path "${line#* -> }") ||
      { echo "wine: not a path on C: in $list: $line" >&2; return 1; }
    mkdir -p "$(dirname "$link")" && ln -s "$target" "$link" || return 1
  done <"$list"
}

# Shuts the copy's wineserver down (ending whatever still runs in it) and
# removes the copy.
wine_prefix_drop() {
  [ -n "${WINE_SCRATCH:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  cd /
  rm -rf "$WINE_SCRATCH"
  WINE_SCRATCH=
}

# For a script that lays a scenario of the simulated machine: the template
# booted once, a fresh copy of it made current (wine_prefix_new) and dropped
# when the script exits, Wine's menu builder kept off. For scripts that run
# with "set -e"; leaves it set.
wine_scenario_prefix() {
  local template=$1
  wine_env_check || return 1
  # The shared helpers expect commands that fail (wineserver -k with no server).
  set +e
  wine_template_ensure "$template" || return 1
  trap 'set +e; wine_prefix_drop' EXIT
  set -e
  wine_prefix_new "$template"
  export WINEDLLOVERRIDES="winemenubuilder.exe=d"
}
