#!/usr/bin/env bash
# End-to-end run of the real USB HID path. Boots a small virtual machine once (the slow part),
# serves the simulated device there as a kernel HID device (kestrovane-simdev on /dev/uhid) and
# drives kestrovane-cli and kv-vm-probe against it through hidraw, without --simulate. Prints one
# line per step checked ("ok - ..." or "FAIL - ..." with the evidence indented below it).
#
#   run-vm-tests.sh CLI SIMDEV PROBE
#
# Exit status: 0 all steps passed, 1 a step failed, 77 the machine cannot start here (skipped).
# KV_VM_RUNNER overrides the machine runner (default: run-in-vm.sh next to this script).
set -u

here=$(cd "$(dirname "$0")" && pwd)

# ------------------------------------------------------------------------------------------
# Inside the machine (root, host files read-only at /, /tmp empty and writable).
inside() {
  local cli=$1 simdev=$2 probe=$3
  echo "KV-VM-INSIDE $(uname -r)"
  if [ ! -e /dev/uhid ]; then
    echo "KV-VM-NO-UHID"
    return 77
  fi
  export ASAN_OPTIONS=detect_leaks=1
  export UBSAN_OPTIONS=print_stacktrace=1
  local work=/tmp/kv
  mkdir -p "$work"
  cd "$work" || return 1
  fails=0

  pass() { echo "ok - $1"; }
  fail() {
    echo "FAIL - $1"
    shift
    for f in "$@"; do [ -f "$f" ] && sed 's/^/    /' "$f"; done
    fails=$((fails + 1))
  }
  # run NAME CMD...: one step; its output kept in $work/NAME.out
  run() {
    local name=$1
    shift
    "$@" >"$work/$name.out" 2>&1
  }
  show() { sed 's/^/    /' "$1"; }

  # The device: one simulator process at a time, controlled through a fifo on its stdin.
  simdev_pid=""
  start_simdev() { # start_simdev LOG ARGS...
    local log=$1
    shift
    rm -f "$work/ctl"
    mkfifo "$work/ctl"
    "$simdev" --sim-state "$work/state" "$@" <"$work/ctl" >"$log" 2>"$log.err" &
    simdev_pid=$!
    exec 3>"$work/ctl"
    simdev_log=$log
  }
  ctl() { echo "$1" >&3; }
  # wait_ready N: the N-th "ready" line and a hidraw node, within 30 s
  wait_ready() {
    local want=$1 i
    for i in $(seq 1 300); do
      if [ "$(grep -c '^ready$' "$simdev_log" 2>/dev/null)" -ge "$want" ] && ls /dev/hidraw* >/dev/null 2>&1; then
        return 0
      fi
      if ! kill -0 "$simdev_pid" 2>/dev/null; then return 1; fi
      sleep 0.1
    done
    return 1
  }
  # reports: the simulator's report count so far (both ways)
  reports() {
    local before
    before=$(grep -c '^reports ' "$simdev_log")
    ctl stats
    for _ in $(seq 1 50); do
      [ "$(grep -c '^reports ' "$simdev_log")" -gt "$before" ] && break
      sleep 0.1
    done
    grep '^reports ' "$simdev_log" | tail -1 | cut -d' ' -f2
  }
  stop_simdev() { # stop_simdev NAME: SIGTERM, clean exit, the device destroyed on the way out
    local name=$1 rc
    kill -TERM "$simdev_pid"
    wait "$simdev_pid"
    rc=$?
    exec 3>&-
    for _ in $(seq 1 20); do ls /dev/hidraw* >/dev/null 2>&1 || break; sleep 0.1; done
    if [ $rc -eq 0 ] && [ "$(tail -1 "$simdev_log")" = "unplugged" ] && ! ls /dev/hidraw* >/dev/null 2>&1; then
      pass "$name"
    else
      echo "exit status $rc" >"$work/stop.out"
      fail "$name" "$work/stop.out" "$simdev_log" "$simdev_log.err"
    fi
  }
  elapsed() { echo $(($(date +%s%N) / 1000000 - $1)); }
  now_ms() { echo $(($(date +%s%N) / 1000000)); }

  # ---- 1. the device appears as a USB HID device -----------------------------------------
  # The device starts with older firmware (upgraded in step 6); the key is worked by the
  # simulated driver when the program asks for it.
  start_simdev "$work/simdev1.log" --sim-ignition auto --sim-firmware 6.002
  if wait_ready 1; then
    local node
    node=$(ls /sys/class/hidraw | head -1)
    local uevent=/sys/class/hidraw/$node/device/uevent
    if grep -q 'HID_ID=0003:00001234:00005851' "$uevent"; then
      pass "device appears as $node (USB, 1234:5851)"
    else
      fail "device appears with vendor 1234 product 5851 on the USB bus" "$uevent"
    fi
  else
    fail "device appears" "$simdev_log" "$simdev_log.err"
    return 1
  fi

  # ---- 2. report sizes and time-outs of the real stack ------------------------------------
  if run sizes "$probe" sizes; then pass "report sizes"; else fail "report sizes" "$work/sizes.out"; fi
  grep '^probe:' "$work/sizes.out" | sed 's/^/    /'
  if run timeout "$probe" timeout; then pass "read time-outs"; else fail "read time-outs" "$work/timeout.out"; fi
  grep '^probe:' "$work/timeout.out" | sed 's/^/    /'

  # ---- 3. ping and version ---------------------------------------------------------------
  if run ping "$cli" device ping; then pass "device ping"; else fail "device ping" "$work/ping.out"; fi
  if run version "$cli" device version && grep -q '6\.002' "$work/version.out"; then
    pass "device version: $(tr -d '\n' <"$work/version.out")"
  else
    fail "device version reports 6.002" "$work/version.out"
  fi

  # ---- 4. module load and read-back, byte for byte ---------------------------------------
  local before after t0
  if run new "$cli" image new MRX_D -o "$work/base.bin" --format 2; then
    before=$(reports)
    t0=$(now_ms)
    if run load "$cli" device load-pem "$work/base.bin"; then
      pass "module load of a new base image ($(elapsed "$t0") ms)"
    else
      fail "module load of a new base image" "$work/load.out"
    fi
    after=$(reports)
    load_reports=$((after - before))
    echo "    the load moved $load_reports reports"
    if run readback "$cli" device read-pem lh -o "$work/back.bin" --format 2 && cmp "$work/base.bin" "$work/back.bin" >"$work/cmp.out" 2>&1; then
      pass "module read-back equals the image byte for byte"
    else
      fail "module read-back equals the image byte for byte" "$work/readback.out" "$work/cmp.out"
    fi
  else
    fail "image new" "$work/new.out"
    load_reports=1200
  fi

  # ---- 5. streamed data-log burst of more than 64 reports --------------------------------
  if run burst "$probe" burst 200; then pass "data-log burst"; else fail "data-log burst" "$work/burst.out"; fi
  grep '^probe:' "$work/burst.out" | sed 's/^/    /'
  # What the kernel keeps for a reader that does not read.
  if run overflow "$probe" overflow 1000; then pass "input queue while nobody reads"; else fail "input queue while nobody reads" "$work/overflow.out"; fi
  grep '^probe:' "$work/overflow.out" | sed 's/^/    /'

  # ---- 6. firmware upgrade ---------------------------------------------------------------
  # The simulated car's ignition is on: the tool refuses unless told to go ahead.
  if ! run upgrade-refused "$cli" device firmware-upgrade && grep -q -- '--force' "$work/upgrade-refused.out"; then
    pass "device firmware upgrade refused while the ignition is on"
  else
    fail "device firmware upgrade refused while the ignition is on" "$work/upgrade-refused.out"
  fi
  t0=$(now_ms)
  if run upgrade "$cli" device firmware-upgrade --force; then
    pass "device firmware upgrade ($(elapsed "$t0") ms)"
  else
    fail "device firmware upgrade" "$work/upgrade.out"
  fi
  if run version2 "$cli" device version && grep -q '6\.003' "$work/version2.out"; then
    pass "device version after the upgrade: $(tr -d '\n' <"$work/version2.out")"
  else
    fail "device version after the upgrade reports 6.003" "$work/version2.out" "$simdev_log"
  fi

  # ---- 7. what hidapi returns when the device is removed ---------------------------------
  "$probe" removal >"$work/removal.out" 2>&1 &
  local probe_pid=$!
  for _ in $(seq 1 50); do grep -q '^probe: waiting' "$work/removal.out" && break; sleep 0.1; done
  sleep 0.3
  ctl unplug
  if wait "$probe_pid"; then pass "removal seen by hidapi"; else fail "removal seen by hidapi" "$work/removal.out"; fi
  grep '^probe:' "$work/removal.out" | sed 's/^/    /'
  ctl replug
  local ready_count
  ready_count=$(grep -c '^ready$' "$simdev_log")
  if wait_ready "$ready_count" && run ping2 "$cli" device ping; then
    pass "device found again after it was plugged back"
  else
    fail "device found again after it was plugged back" "$work/ping2.out"
  fi
  # The same through the device link: it closes itself on the invalid handle and is reopened.
  "$probe" linkloss >"$work/linkloss.out" 2>&1 &
  probe_pid=$!
  for _ in $(seq 1 100); do grep -q '^probe: waiting' "$work/linkloss.out" && break; sleep 0.1; done
  sleep 0.5
  ctl unplug
  sleep 2
  ctl replug
  if wait "$probe_pid"; then
    pass "device link closes on the invalid handle and reopens when the device is back"
  else
    fail "device link closes on the invalid handle and reopens when the device is back" "$work/linkloss.out"
  fi
  grep '^probe:' "$work/linkloss.out" | grep -v waiting | sed 's/^/    /'
  stop_simdev "simulator ends on SIGTERM and takes the device away"

  # ---- 8. the device vanishes in the middle of a module load -----------------------------
  local cut=$((load_reports * 2 / 3))
  [ "$cut" -gt 100 ] || cut=700
  start_simdev "$work/simdev2.log" --sim-ignition auto --unplug-after "$cut" --replug-after-ms 10000
  if wait_ready 1; then
    t0=$(now_ms)
    run load2 "$cli" device load-pem "$work/base.bin"
    local rc=$? took
    took=$(elapsed "$t0")
    if [ $rc -ne 0 ] && grep -q 'Connection to ECU lost' "$work/load2.out" && grep -q '^unplugged$' "$simdev_log"; then
      pass "load ends with \"Connection to ECU lost\" when the device vanishes after $cut reports ($took ms)"
    else
      echo "exit status $rc" >>"$work/load2.out"
      fail "load ends with \"Connection to ECU lost\" when the device vanishes" "$work/load2.out" "$simdev_log"
    fi
    # Right after the loss the device is still away: a command fails.
    t0=$(now_ms)
    run ping3 "$cli" device ping
    rc=$?
    took=$(elapsed "$t0")
    if [ "$(grep -c '^ready$' "$simdev_log")" -ne 1 ]; then
      echo "    (the device came back while the command ran: not judged)"
    elif [ $rc -ne 0 ] && grep -q 'No Kestrovane device found' "$work/ping3.out"; then
      pass "a command while the device is away fails with the device-not-found message ($took ms)"
    else
      fail "a command while the device is away fails with the device-not-found message" "$work/ping3.out"
    fi
    if wait_ready 2 && run ping4 "$cli" device ping; then
      pass "the next command finds the device again once it is back"
    else
      fail "the next command finds the device again once it is back" "$work/ping4.out" "$simdev_log"
    fi
  else
    fail "device appears (second run)" "$simdev_log" "$simdev_log.err"
  fi
  stop_simdev "simulator ends cleanly after the replug"

  # ---- 9. a drop of one second in the middle of a module load is survived -----------------
  start_simdev "$work/simdev3.log" --sim-ignition auto --unplug-after "$cut" --replug-after-ms 1000
  if wait_ready 1; then
    t0=$(now_ms)
    if run load3 "$cli" device load-pem "$work/base.bin" && [ "$(grep -c '^ready$' "$simdev_log")" -eq 2 ]; then
      pass "load survives the device vanishing for one second after $cut reports ($(elapsed "$t0") ms)"
    else
      fail "load survives the device vanishing for one second" "$work/load3.out" "$simdev_log"
    fi
    if run readback3 "$cli" device read-pem lh -o "$work/back3.bin" --format 2 &&
      cmp "$work/base.bin" "$work/back3.bin" >"$work/cmp3.out" 2>&1; then
      pass "after the drop the module holds the image byte for byte"
    else
      fail "after the drop the module holds the image byte for byte" "$work/readback3.out" "$work/cmp3.out"
    fi
  else
    fail "device appears (third run)" "$simdev_log" "$simdev_log.err"
  fi
  stop_simdev "simulator ends cleanly after the short drop"

  # ---- 10. a device that stops taking output reports -------------------------------------
  start_simdev "$work/simdev4.log" --sim-ignition on --sim-faults stall=40
  if wait_ready 1; then
    if run stall "$probe" stall; then
      pass "a device that stops taking reports: every call returns in time, the loss shows within a second"
    else
      fail "a device that stops taking reports: every call returns in time, the loss shows within a second" \
        "$work/stall.out"
    fi
    grep '^probe:' "$work/stall.out" | sed 's/^/    /'
    t0=$(now_ms)
    if ! run ping5 "$cli" device ping && grep -q 'not responding' "$work/ping5.out"; then
      pass "the tool reports the stalled device as not responding ($(elapsed "$t0") ms)"
    else
      fail "the tool reports the stalled device as not responding" "$work/ping5.out"
    fi
  else
    fail "device appears (fourth run)" "$simdev_log" "$simdev_log.err"
  fi
  stop_simdev "simulator ends cleanly while stalled"

  # ---- sanitizers: nothing reported by any program ---------------------------------------
  if grep -l -E 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$work"/*.out "$work"/*.err >"$work/asan.out" 2>/dev/null; then
    fail "no sanitizer reports" $(cat "$work/asan.out")
  else
    pass "no sanitizer reports"
  fi

  echo "KV-VM-DONE fails=$fails"
  [ "$fails" -eq 0 ]
}

if [ "${1:-}" = "--inside" ]; then
  shift
  inside "$@"
  exit $?
fi

# ------------------------------------------------------------------------------------------
# On the host.
if [ $# -ne 3 ]; then
  echo "usage: run-vm-tests.sh CLI SIMDEV PROBE" >&2
  exit 2
fi
for b in "$@"; do
  if [ ! -x "$b" ]; then
    echo "SKIP: $b is not built"
    exit 77
  fi
done
runner=${KV_VM_RUNNER:-$here/run-in-vm.sh}
if [ ! -x "$runner" ]; then
  echo "SKIP: no virtual machine runner at $runner"
  exit 77
fi
if [ "$(uname -s)" != Linux ]; then
  echo "SKIP: the virtual machine needs a Linux host"
  exit 77
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
start=$(date +%s)
# The machine sees the host's files at the same paths, except under /tmp (a fresh tmpfs there):
# a checkout or build that lives under /tmp is shared into the machine explicitly.
top=$(cd "$here/../.." && pwd -P)
rwargs=()
for p in "$top" "$(dirname "$(readlink -f "$1")")" "$(dirname "$(readlink -f "$2")")" "$(dirname "$(readlink -f "$3")")"; do
  case "$p" in
  /tmp/*)
    case "$p/" in "$top"/*) p=$top ;; esac
    case " ${rwargs[*]-} " in *" $p "*) ;; *) rwargs+=(--rw "$p") ;; esac
    ;;
  esac
done
"$runner" "${rwargs[@]}" -- /bin/bash "$here/run-vm-tests.sh" --inside "$(readlink -f "$1")" "$(readlink -f "$2")" "$(readlink -f "$3")" >"$log" 2>&1
rc=$?
# Show what the machine printed, without its console noise.
grep -v -E '^\[ *[0-9]+\.[0-9]+\]' "$log"
if ! grep -q '^KV-VM-INSIDE' "$log"; then
  echo "SKIP: the virtual machine did not start here (runner exit status $rc)"
  exit 77
fi
if grep -q '^KV-VM-NO-UHID' "$log"; then
  echo "SKIP: the virtual machine has no /dev/uhid"
  exit 77
fi
echo "virtual machine run took $(($(date +%s) - start)) s"
if [ $rc -eq 0 ] && grep -q '^KV-VM-DONE fails=0' "$log"; then
  exit 0
fi
exit 1
