#!/bin/sh
# The guest's half of bench/alsa/run.sh: BUILD_DIR SHARE RUNS.
set -eu
build="$1" share="$2" runs="$3"
export TANDREL_MIDI_API=alsa QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=/tmp/config
bench="$build/bench" gt3sim="$build/tools/gt3sim/gt3sim"

# Starts a receiver, waits for its "ready=1", writes the dump at full speed, and
# prints its bytes and lost figures, and for Tandrel whether it held the file's bytes
# (the guest kernel itself sometimes alters a few on the way: tests/alsa/tap-loop.sh
# tells those apart).
receive() {  # NAME SIZE RUN COMMAND...
  name="$1" size="$2" run="$3"; shift 3
  "$@" > /tmp/out 2>/tmp/err &
  receiver=$!
  for _ in $(seq 1 300); do grep -q '^ready=1' /tmp/out && break; sleep 0.1; done
  amidi -p hw:0,1 -s "$share/dump-$size.syx"
  wait "$receiver" || true
  echo "receive $name size=$size run=$run $(grep -E '^(bytes|lost|boxes|exact|first_difference)=' /tmp/out | tr '\n' ' ')"
}

for size in 125000 1000000; do
  for run in $(seq 1 "$runs"); do
    receive bare_rtmidi "$size" "$run" "$bench/bench_rtmidi" receive --api alsa --source "VirMIDI 0-1" \
      --bytes "$size" --idle-ms 3000
    receive tandrel "$size" "$run" "$bench/bench_app" receive --source "VirMIDI 0-1" --bytes "$size" \
      --file "$share/dump-$size.syx" --idle-ms 3000
  done
done

# DIN pacing: Tandrel sends to gt3sim's own port, which stamps each event as it arrives.
messages="$(tr -cd '\367' < "$share/dump-125000.syx" | wc -c)"
"$gt3sim" receive /tmp/heard.syx --api alsa --name stamps --expect-messages "$messages" --timeout-ms 300000 \
  --min-pause-ms 20 > /tmp/stamps 2>&1 &
stamps=$!
sleep 2
TANDREL_MIDI_PAUSE_MS=20 "$bench/bench_app" send --dest stamps --file "$share/dump-125000.syx" > /tmp/send 2>&1
wait "$stamps" || true
echo "din_send $(grep -E '^(first_ns|last_tx_end_ns|messages|bytes|errors)=' /tmp/send | tr '\n' ' ')"
echo "din_stamps $(cat /tmp/stamps | tr '\n' ' ')"
cmp -s /tmp/heard.syx "$share/dump-125000.syx" && echo "din_exact=1" || echo "din_exact=0"

# A known sleep: 20 ms asked for, 100 times.
python3 -c '
import time
over = []
for _ in range(100):
    t = time.monotonic_ns(); time.sleep(0.02); over.append((time.monotonic_ns() - t) / 1000 - 20000)
over.sort()
print("sleep_20ms_over_us mean=%d median=%d max=%d" % (sum(over) / len(over), over[50], over[-1]))
'
