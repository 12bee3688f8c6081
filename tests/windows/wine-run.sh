#!/bin/bash
# Runs a 32-bit Windows program under wine, in the test suite's own prefix.
#
#   bash wine-run.sh PROGRAM.exe [ARGUMENT...]       run a program
#   bash wine-run.sh --start-server                  create the prefix if it is
#                                                    missing; keep its server up
#   bash wine-run.sh --stop-server                   stop the prefix's server
#   bash wine-run.sh --mode                          print how wine is started
#
# Environment: WINEPREFIX (required, an absolute path). WINEDEBUG defaults to
# -all; mscoree and mshtml are always disabled so that creating a prefix
# never offers to install Mono or Gecko. The caller redirects the program's
# output to files: wine's helper processes inherit pipes and outlive it.
#
# How 32-bit wine is started:
#   native  the kernel runs 32-bit programs itself: the system's `wine`.
#   qemu    it does not (ia32 emulation switched off): the prefix is a 64-bit
#           one, whose server and system processes run natively through
#           wine64, and only the 32-bit programs run under qemu-i386. A shadow
#           of the loader directory beside the prefix holds a script named
#           after the preloader, through which wine starts every 32-bit
#           process, so those that wine starts itself go through qemu too.
#           qemu's guest space ends at 0x81000000: wine then finds the 2 GB
#           above user space, which it reserves at each start, unavailable at
#           once, where qemu's full space costs it a minute of refusals 64 KB
#           at a time.
#   none    neither works; the exit status is 77 (CTest's SKIP_RETURN_CODE),
#           or 1 when TARVELD_REQUIRE_WINE=1 (for CI, where a skip would hide
#           a missing package).
set -u

: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
unset DISPLAY WAYLAND_DISPLAY

readonly kSkip=77
readonly loader32=/usr/lib/wine/wine
readonly loader64=/usr/lib/wine/wine64
readonly server64=/usr/lib/wine/wineserver64
readonly guest_space=0x81000000
readonly shadow="${WINEPREFIX%/}.loader"

find_qemu() {
  command -v qemu-i386 || command -v qemu-i386-static
}

# native, qemu or none. Under a binfmt_misc entry for i386 the kernel hands
# 32-bit programs to qemu behind wine's back, without the guest-space cut;
# QEMU_STRACE makes such a run visible, and then the explicit qemu mode is
# used instead.
detect_mode() {
  if [[ ! -x $loader32 ]]; then
    echo none
    return
  fi
  local probe
  if probe=$(QEMU_STRACE=1 "$loader32" --version 2>&1) && [[ $probe == wine-* ]]; then
    echo native
  elif [[ -n $(find_qemu) && -x $loader64 && -x $server64 ]]; then
    echo qemu
  else
    echo none
  fi
}

# The shadow loader directory: copies of both loaders, whose neighbours
# (found relative to them) are the system's libraries and data, with the
# preloader script and the server beside them.
make_shadow() {
  [[ -x $shadow/lib/wine/wine-preloader ]] && return
  local qemu
  qemu=$(find_qemu)
  rm -rf "$shadow"
  mkdir -p "$shadow/lib/wine"
  cp "$loader32" "$loader64" "$shadow/lib/wine/" || exit
  ln -s /usr/lib/i386-linux-gnu "$shadow/lib/i386-linux-gnu"
  ln -s /usr/lib/x86_64-linux-gnu "$shadow/lib/x86_64-linux-gnu"
  ln -s /usr/share "$shadow/share"
  # wine starts a 32-bit process as "wine-preloader LOADER ARGUMENT...".
  printf '#!/bin/sh\nWINELOADERNOEXEC=1\nexport WINELOADERNOEXEC\nexec %s -R %s "$@"\n' \
    "$qemu" "$guest_space" >"$shadow/lib/wine/wine-preloader"
  printf '#!/bin/sh\nexec %s "$@"\n' "$server64" >"$shadow/lib/wine/wineserver"
  chmod +x "$shadow/lib/wine/wine-preloader" "$shadow/lib/wine/wineserver"
}

mode=$(detect_mode)
case $mode in
  native)
    wine_cmd=(wine)
    boot_cmd=(wine wineboot.exe --init)
    server_cmd=(/usr/lib/wine/wineserver)
    ;;
  qemu)
    make_shadow
    # The loader would start itself again through wine-preloader; it is
    # under qemu already.
    export WINELOADERNOEXEC=1
    wine_cmd=("$(find_qemu)" -R "$guest_space" "$shadow/lib/wine/wine")
    boot_cmd=("$shadow/lib/wine/wine64" wineboot.exe --init)
    server_cmd=("$server64")
    ;;
  *)
    if [[ ${1:-} == --mode ]]; then
      echo none
      exit 0
    fi
    echo "wine-run: cannot run 32-bit Windows programs here. Where the kernel runs" \
      "32-bit programs: apt-get install wine wine32:i386; where it does not:" \
      "apt-get install wine wine32:i386 wine64 qemu-user" >&2
    [[ ${TARVELD_REQUIRE_WINE:-0} == 1 ]] && exit 1
    exit $kSkip
    ;;
esac

case ${1:-} in
  --mode)
    echo "$mode"
    ;;
  --start-server)
    # wineboot creates a missing prefix, under a server that wine starts
    # itself and that ends a few seconds after it. The server started here
    # then stays until --stop-server, or 10 minutes after its last client,
    # so later programs skip the start of wine's own services. Its output
    # goes to a file: a pipe would keep the caller waiting as long as it
    # lives.
    # A prefix that another mode made (a 32-bit one, say) is made anew.
    if [[ ! -f $WINEPREFIX/system.reg || $(cat "$WINEPREFIX.mode" 2>/dev/null) != "$mode" ]]; then
      "${server_cmd[@]}" -k </dev/null >/dev/null 2>&1
      rm -rf "$WINEPREFIX" "$WINEPREFIX.mode"
      mkdir -p "$(dirname "$WINEPREFIX")"
      "${boot_cmd[@]}" </dev/null >"$WINEPREFIX.boot.log" 2>&1
      status=$?
      "${server_cmd[@]}" -w </dev/null >>"$WINEPREFIX.boot.log" 2>&1
      if [[ ! -f $WINEPREFIX/system.reg ]]; then
        echo "wine-run: creating the prefix $WINEPREFIX failed (status $status):" >&2
        tail -n 20 "$WINEPREFIX.boot.log" >&2
        exit 1
      fi
      echo "$mode" >"$WINEPREFIX.mode"
    fi
    # Refused, harmlessly, when a server for the prefix is running already.
    "${server_cmd[@]}" -p600 </dev/null >>"$WINEPREFIX.server.log" 2>&1
    exit 0
    ;;
  --stop-server)
    "${server_cmd[@]}" -k </dev/null >/dev/null 2>&1
    exit 0
    ;;
  "")
    echo "usage: wine-run.sh PROGRAM.exe [ARGUMENT...]" >&2
    exit 2
    ;;
  *)
    exec "${wine_cmd[@]}" "$@"
    ;;
esac
