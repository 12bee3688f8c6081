#!/bin/bash
# One test of the Windows build; tests/windows/CMakeLists.txt passes the
# paths in the environment (TARVELD_*, WINEPREFIX).
#
#   run-test.sh exports                    export and import tables of the DLL
#   run-test.sh player-zip                 contents of the player's package
#   run-test.sh platform                   platform_test.exe
#   run-test.sh host MODE                  dll_test_host.exe MODE
#   run-test.sh locale LC_ALL LCID         dll_test_host.exe locale LCID under
#                                          the Unix locale LC_ALL
#   run-test.sh replay SESSION             the session through both builds:
#                                          reports equal but for Actual Date,
#                                          journals equal
#   run-test.sh replay-host-carries-on SESSION
#                                          the replay host with the report path
#                                          a directory
#   run-test.sh aar-imports                tarveld-aar.exe needs system DLLs only
#   run-test.sh aar SESSION                tarveld-aar.exe and the Linux
#                                          tarveld-aar make the same page of the
#                                          session's files; a journal too large
#                                          for it is refused
#
# Each Windows program runs from a fresh directory under TARVELD_TEST_WORK,
# beside a copy of TARVELD.dll, with its output in files (wine's helper
# processes would hold a pipe open). Exit status 0 passed, 1 failed, 77
# skipped.
set -u

readonly kSkip=77

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# A fresh directory for this test: "$work".
fresh_work() {
  work="$TARVELD_TEST_WORK/$1"
  rm -rf "$work"
  mkdir -p "$work/run" || exit
}

# The Windows form of an absolute Unix path: wine shows the root as Z:.
windows_path() {
  local path=${1//\//\\}
  echo "Z:$path"
}

# Where the kernel runs no 32-bit code, wine's 32-bit side runs under
# qemu-i386 (wine-run.sh). There, a thread that raised exceptions (every
# line the plug-in writes to the debug output raises one) and then ends
# takes the process down: qemu's "uncaught target signal 11", or wine's
# "wine client error: ... write: Bad file descriptor" with status 1, or a
# hang. The cases whose writes fail (the report a folder, locked, or over
# the size limit) name their failures from the writer's thread and end it
# in DLLFree, so they die there, in the DLL of the last landed version as
# in this one, and nowhere else. Such a run proves nothing either way: the
# cases that set emulation_may_crash are skipped, saying why; on a machine
# that runs 32-bit code they run, and everywhere else these messages fail
# the test.
emulation_may_crash=0
readonly kHangSeconds=300

skip_if_emulation_crashed() {
  local status=$1 messages=$2
  if [[ $emulation_may_crash -eq 1 && $status -ne 0 ]] &&
    [[ $(bash "$TARVELD_WINE_RUN" --mode) == qemu ]] &&
    grep -Eaq "qemu: uncaught target signal|wine client error:.*Bad file descriptor" "$messages"; then
    echo "SKIPPED: under qemu-i386 the Windows process died as a thread ended (status $status;" \
      "no 32-bit execution on this machine): $(grep -Eam1 'qemu:|wine client error' "$messages")"
    exit $kSkip
  fi
}

# Runs a Windows program under wine with its output in $work/stdout.txt and
# $work/stderr.txt; shows the output and returns the program's status. Where
# wine cannot run, the whole test is skipped.
run_windows() {
  local bound=()
  [[ $emulation_may_crash -eq 1 ]] && bound=(timeout "$kHangSeconds")
  "${bound[@]}" bash "$TARVELD_WINE_RUN" "$@" >"$work/stdout.txt" 2>"$work/stderr.txt"
  local status=$?
  if [[ $status -eq $kSkip ]]; then
    echo "SKIPPED: $(cat "$work/stderr.txt")"
    exit $kSkip
  fi
  skip_if_emulation_crashed "$status" "$work/stderr.txt"
  cat "$work/stdout.txt"
  if [[ $status -ne 0 ]]; then
    echo "--- exit status $status; wine's messages:"
    tail -n 30 "$work/stderr.txt"
  fi
  return $status
}

# The export names of a DLL, sorted, as objdump lists them under
# "[Ordinal/Name Pointer] Table", each followed by a blank.
export_names() {
  "$TARVELD_OBJDUMP" -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
                                    on && NF == 0 { on = 0 }
                                    on { print $NF }' | sort | tr '\n' ' '
}

case_exports() {
  [[ -x $TARVELD_OBJDUMP ]] || fail "no objdump for the target ($TARVELD_OBJDUMP)"
  local table
  table=$("$TARVELD_OBJDUMP" -p "$TARVELD_DLL") || fail "objdump cannot read $TARVELD_DLL"

  local exports
  exports=$(export_names "$TARVELD_DLL")
  local expected="DLLDesc DLLFree DLLInit DLLVer DLLVerInt GameTime MsgLog ScenLoad TimeFactor UnitSink "
  echo "exports: $exports"
  [[ $exports == "$expected" ]] || fail "the exports must be exactly: $expected"

  # Imports: only DLLs that every Windows system has. The C and C++ run-time
  # of the compiler (libgcc, libstdc++, winpthread) must be linked in.
  local imports status=0
  imports=$(awk '/DLL Name:/ { print toupper($3) }' <<<"$table" | sort -u)
  echo "imports: $(tr '\n' ' ' <<<"$imports")"
  [[ -n $imports ]] || fail "no import table found"
  local dll
  for dll in $imports; do
    case $dll in
      KERNEL32.DLL | USER32.DLL | GDI32.DLL | ADVAPI32.DLL | MSVCRT.DLL | NTDLL.DLL | OLE32.DLL | \
        COMCTL32.DLL | SHELL32.DLL) ;;
      *)
        echo "FAILED: $dll is not a system DLL" >&2
        status=1
        ;;
    esac
  done
  return $status
}

case_player_zip() {
  [[ -f $TARVELD_PLAYER_ZIP ]] || fail "no package at $TARVELD_PLAYER_ZIP"
  local names
  names=$(unzip -Z1 "$TARVELD_PLAYER_ZIP" | LC_ALL=C sort | tr '\n' ' ')
  echo "package: $names"
  [[ $names == "README.txt TARVELD.dll tarveld-aar.exe " ]] ||
    fail "the package must hold README.txt, TARVELD.dll and tarveld-aar.exe"
  fresh_work player-zip
  unzip -q "$TARVELD_PLAYER_ZIP" -d "$work/run" || fail "cannot unpack"
  # The packed DLL is the built one less its debug information.
  local packed_exports built_exports
  packed_exports=$(export_names "$work/run/TARVELD.dll")
  built_exports=$(export_names "$TARVELD_DLL")
  [[ -n $packed_exports && $packed_exports == "$built_exports" ]] ||
    fail "the packed DLL's exports differ: $packed_exports"
  if "$TARVELD_OBJDUMP" -h "$work/run/TARVELD.dll" | grep -q '\.debug_'; then
    fail "the packed DLL still holds debug information"
  fi
  grep -q "Tarveld.txt" "$work/run/README.txt" || fail "the README does not name the report"
  local lines crlf_lines
  lines=$(wc -l <"$work/run/README.txt")
  crlf_lines=$(grep -c $'\r$' "$work/run/README.txt")
  [[ $lines -gt 0 && $lines -eq $crlf_lines ]] || fail "the README's lines must end in CR LF"
  return 0
}

# Copies the programs that a test runs, and the DLL, into $work/run.
stage() {
  cp "$TARVELD_DLL" "$@" "$work/run/" || fail "cannot stage the programs"
}

case_platform() {
  fresh_work platform
  stage "$TARVELD_PLATFORM_TEST"
  run_windows "$work/run/platform_test.exe"
}

case_host() {
  local mode=$1
  fresh_work "host-$mode"
  case $mode in
    report-is-dir | report-locked | write-limited) emulation_may_crash=1 ;;
  esac
  stage "$TARVELD_DLL_TEST_HOST" "$TARVELD_HOLD_FILE"
  if [[ $mode == write-limited ]]; then
    # Files this process writes may not grow past 16 KB; the write that
    # crosses the limit fails (EFBIG) instead of ending the process. The
    # prefix's server must be up already, or it would inherit the limit.
    bash "$TARVELD_WINE_RUN" --start-server || exit
    (
      trap '' XFSZ
      ulimit -f 16
      run_windows "$work/run/dll_test_host.exe" "$mode"
    )
  else
    run_windows "$work/run/dll_test_host.exe" "$@"
  fi
}

case_locale() {
  local unix_locale=$1 lcid=$2
  fresh_work "locale-$unix_locale"
  stage "$TARVELD_DLL_TEST_HOST"
  LC_ALL=$unix_locale run_windows "$work/run/dll_test_host.exe" locale "$lcid"
}

# The report without its "Actual Date" line: the local date-time text is the
# one thing the two runs may differ in.
without_actual_date() {
  grep -av '^Actual Date' "$1"
}

case_replay() {
  local session=$1 name
  name=$(basename "$session" .session)
  if [[ ! -x $TARVELD_LINUX_REPLAY ]]; then
    echo "SKIPPED: no Linux build: $TARVELD_LINUX_REPLAY is missing (build the linux preset" \
      "first, or point TARVELD_LINUX_BUILD_DIR at one)"
    exit $kSkip
  fi
  fresh_work "replay-$name"
  mkdir -p "$work/linux"
  "$TARVELD_LINUX_REPLAY" --dir "$work/linux" "$session" >"$work/linux-stdout.txt" 2>&1 ||
    fail "the Linux replay failed: $(cat "$work/linux-stdout.txt")"
  stage "$TARVELD_REPLAY"
  run_windows "$work/run/tarveld-replay.exe" "$(windows_path "$session")" >/dev/null ||
    fail "the Windows replay failed: $(cat "$work/stdout.txt")"

  local linux_report=$work/linux/Tarveld.txt windows_report=$work/run/Tarveld.txt
  [[ -f $linux_report && -f $windows_report ]] || fail "a report is missing"
  grep -aq '^Actual Date' "$windows_report" || fail "the Windows report has no Actual Date"
  if ! cmp <(without_actual_date "$linux_report") <(without_actual_date "$windows_report"); then
    diff <(without_actual_date "$linux_report" | cat -A) \
      <(without_actual_date "$windows_report" | cat -A) | head -n 20
    fail "the reports differ"
  fi
  echo "$name: report of $(wc -c <"$windows_report") bytes, equal but for Actual Date"

  # The battle journal holds no local time: it must be equal byte for byte.
  local linux_journal=$work/linux/Tarveld.log windows_journal=$work/run/Tarveld.log
  if [[ -f $linux_journal || -f $windows_journal ]]; then
    cmp "$linux_journal" "$windows_journal" || fail "the journals differ"
    echo "$name: journal of $(wc -c <"$windows_journal") bytes, equal"
  fi
}

# The replay host runs a whole session while the report path is a
# directory: every call returns, the host ends normally, and wine's channel
# for debug output shows the failures.
case_replay_host_carries_on() {
  local session=$1
  fresh_work replay-host-carries-on
  emulation_may_crash=1
  stage "$TARVELD_REPLAY"
  mkdir "$work/run/Tarveld.txt"
  WINEDEBUG=-all,warn+debugstr run_windows "$work/run/tarveld-replay.exe" \
    "$(windows_path "$session")" >/dev/null || fail "the host did not end normally"
  local failures
  failures=$(grep -c 'EFCreateError' "$work/stderr.txt")
  echo "debug output lines naming EFCreateError: $failures"
  grep -a 'EFCreateError' "$work/stderr.txt" | head -n 3
  [[ $failures -gt 0 ]] || fail "no debug output names the failure"
  [[ -d $work/run/Tarveld.txt && -z $(ls -A "$work/run/Tarveld.txt") ]] ||
    fail "the directory changed"
}

# tarveld-aar.exe is a program the player double-clicks: nothing it needs
# may be missing from a bare Windows.
case_aar_imports() {
  [[ -x $TARVELD_OBJDUMP ]] || fail "no objdump for the target ($TARVELD_OBJDUMP)"
  local imports dll status=0
  imports=$("$TARVELD_OBJDUMP" -p "$TARVELD_AAR" | awk '/DLL Name:/ { print toupper($3) }' | sort -u)
  echo "imports: $(tr '\n' ' ' <<<"$imports")"
  [[ -n $imports ]] || fail "no import table found in $TARVELD_AAR"
  for dll in $imports; do
    case $dll in
      KERNEL32.DLL | MSVCRT.DLL | SHELL32.DLL | USER32.DLL | ADVAPI32.DLL | NTDLL.DLL) ;;
      *)
        echo "FAILED: $dll is not a system DLL" >&2
        status=1
        ;;
    esac
  done
  return $status
}

# The session through the Linux build gives a report and a journal; the
# Linux tarveld-aar and tarveld-aar.exe under wine must make the same page
# of them, byte for byte: the page holds no path, clock or locale. The
# Windows program runs twice: given the folder, and given none from a
# folder without the files, where it falls back to its own folder.
case_aar() {
  local session=$1
  if [[ ! -x $TARVELD_LINUX_REPLAY || ! -x $TARVELD_LINUX_AAR ]]; then
    echo "SKIPPED: no Linux build: $TARVELD_LINUX_REPLAY or $TARVELD_LINUX_AAR is missing" \
      "(build the linux preset first, or point TARVELD_LINUX_BUILD_DIR at one)"
    exit $kSkip
  fi
  fresh_work aar
  mkdir -p "$work/linux" "$work/elsewhere"
  "$TARVELD_LINUX_REPLAY" --dir "$work/linux" "$session" >"$work/linux-stdout.txt" 2>&1 ||
    fail "the Linux replay failed: $(cat "$work/linux-stdout.txt")"
  "$TARVELD_LINUX_AAR" "$work/linux" >"$work/linux-stdout.txt" 2>&1 ||
    fail "the Linux tarveld-aar failed: $(cat "$work/linux-stdout.txt")"
  local linux_page=$work/linux/Tarveld-AAR.html
  [[ -s $linux_page ]] || fail "the Linux tarveld-aar wrote no page"

  stage "$TARVELD_AAR"
  cp "$work/linux/Tarveld.txt" "$work/linux/Tarveld.log" "$work/run/" || fail "cannot stage the files"
  run_windows "$work/run/tarveld-aar.exe" "$(windows_path "$work/run")" ||
    fail "tarveld-aar.exe failed"
  grep -q 'Tarveld-AAR\.html' "$work/stdout.txt" || fail "tarveld-aar.exe printed no page path"
  cmp "$linux_page" "$work/run/Tarveld-AAR.html" || fail "the pages differ"
  echo "page of $(wc -c <"$linux_page") bytes, equal"

  rm "$work/run/Tarveld-AAR.html"
  (cd "$work/elsewhere" && run_windows "$work/run/tarveld-aar.exe" --out "$(windows_path "$work/fallback.html")") ||
    fail "tarveld-aar.exe without a folder failed"
  cmp "$linux_page" "$work/fallback.html" || fail "the page made from the program's folder differs"
  echo "page made from the program's own folder, equal"

  # A journal past the largest the 32-bit program can hold (a sparse file,
  # nothing is read) is refused before it tries, with both sizes named.
  rm "$work/fallback.html"
  truncate -s 301M "$work/run/Tarveld.log" || fail "cannot make the large journal"
  run_windows "$work/run/tarveld-aar.exe" "$(windows_path "$work/run")"
  local status=$?
  [[ $status -eq 1 ]] || fail "tarveld-aar.exe exited with $status on a 301 MB journal, not 1"
  grep -q 'it is 301 MB, and this program reads journals of up to 300 MB' "$work/stderr.txt" ||
    fail "the refusal does not name the sizes: $(cat "$work/stderr.txt")"
  [[ ! -e $work/run/Tarveld-AAR.html ]] || fail "a page was written of the large journal"
  echo "a 301 MB journal refused: $(cat "$work/stderr.txt")"
}

[[ $# -ge 1 ]] || fail "usage: run-test.sh CASE [ARGUMENT...]"
test_case=$1
shift
case $test_case in
  exports) case_exports ;;
  player-zip) case_player_zip ;;
  platform) case_platform ;;
  host) case_host "$@" ;;
  locale) case_locale "$@" ;;
  replay) case_replay "$@" ;;
  replay-host-carries-on) case_replay_host_carries_on "$@" ;;
  aar-imports) case_aar_imports ;;
  aar) case_aar "$@" ;;
  *) fail "unknown case $test_case" ;;
esac
