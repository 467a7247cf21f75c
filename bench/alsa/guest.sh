#!/bin/sh
# The guest's half of bench/alsa/run.sh: BUILD_DIR SHARE RUNS TAP.
set -eu
build="$1" share="$2" runs="$3" tap="$4"
export TANDREL_MIDI_API=alsa QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=/tmp/config
bench="$build/bench"

# Starts a receiver, waits for its "ready=1", writes the dump with amidi (at full
# speed, or with `-i 1`: a millisecond after each message, which both receivers keep
# up with), and prints its bytes, lost and CPU figures, and for Tandrel whether it
# held the file's bytes (the guest kernel itself sometimes alters a few on the way;
# this bench does not tell those apart, the full-speed guest test does).
receive() {  # WHAT NAME SIZE RUN AMIDI_OPTIONS COMMAND...
  what="$1" name="$2" size="$3" run="$4" options="$5"; shift 5
  "$@" > /tmp/out 2>/tmp/err &
  receiver=$!
  for _ in $(seq 1 300); do grep -q '^ready=1' /tmp/out && break; sleep 0.1; done
  # shellcheck disable=SC2086
  amidi -p hw:0,1 -s "$share/dump-$size.syx" $options
  wait "$receiver" || true
  echo "$what $name size=$size run=$run $(grep -E '^(bytes|lost|boxes|exact|first_difference|cpu_us)=' /tmp/out | tr '\n' ' ')"
}
both() {  # WHAT SIZE RUN AMIDI_OPTIONS
  receive "$1" bare_rtmidi "$2" "$3" "$4" "$bench/bench_rtmidi" receive --api alsa --source "VirMIDI 0-1" \
    --bytes "$2" --idle-ms 3000
  receive "$1" tandrel "$2" "$3" "$4" "$bench/bench_app" receive --source "VirMIDI 0-1" --bytes "$2" \
    --file "$share/dump-$2.syx" --idle-ms 3000
}

for size in 125000 1000000; do
  for run in $(seq 1 "$runs"); do both receive "$size" "$run" ""; done
done
# CPU per MB: the receiving process, all its threads, from ready to the last byte.
for size in 125000 1000000; do
  for run in 1 2 3; do both paced "$size" "$run" "-i 1"; done
done

# DIN pacing: a sender sends to a port on which the kernel stamps each event with
# the time it arrived (alsa_seq_tap --listen), so the figures hold no reader's
# lateness. From the stamps: the send's length (the first message's start to the
# last one's end on the modelled wire, 320 us a byte) against the wire model, and
# each pause from the end of a message to the start of the next.
din() {  # NAME COMMAND...
  name="$1"; shift
  "$tap" --listen stamps --bytes 125000 --tap /tmp/heard.syx --events /tmp/stamps --idle-ms 300000 > /tmp/tap 2>&1 &
  stamps=$!
  for _ in $(seq 1 300); do grep -q '^ready=1' /tmp/tap && break; sleep 0.1; done
  "$@" > /tmp/send 2>&1
  wait "$stamps" || true
  cmp -s /tmp/heard.syx "$share/dump-125000.syx" && exact=1 || exact=0
  echo "din_send $name exact=$exact $(grep -E '^(messages|bytes|errors)=' /tmp/send | tr '\n' ' ')"
  python3 - "$name" "$share/dump-125000.syx" /tmp/stamps <<'PY'
import sys
name, dump = sys.argv[1], open(sys.argv[2], 'rb').read()
events = [tuple(int(x) for x in line.split()) for line in open(sys.argv[3]) if line.strip()]
ends = [i for i, b in enumerate(dump) if b == 0xF7]
starts = [0] + [e + 1 for e in ends[:-1]]
def event_at(offset):  # the event that carries byte `offset`
    return next(e for e in events if e[0] <= offset < e[0] + e[1])
first = [event_at(s)[3] for s in starts]
wire_end = [e[3] + 320000 * e[1] for e in (event_at(e) for e in ends)]
pauses = sorted((first[i + 1] - wire_end[i]) / 1e6 for i in range(len(starts) - 1))
length = (wire_end[-1] - first[0]) / 1e6
model = (320 * len(dump) + 20000 * (len(starts) - 1)) / 1e3
stalls = [p for p in pauses if p > 25]
print('din_kernel %s messages=%d length_ms=%.1f model_ms=%.1f ratio=%.4f' % (name, len(starts), length, model, length / model))
print('din_kernel_pause_ms %s min=%.3f median=%.3f mean=%.3f max=%.3f under_20=%d over_25=%d over_25_excess_ms=%.0f' % (
    name, pauses[0], pauses[len(pauses) // 2], sum(pauses) / len(pauses), pauses[-1], sum(1 for p in pauses if p < 20),
    len(stalls), sum(p - 20 for p in stalls)))
PY
}
din tandrel env TANDREL_MIDI_PAUSE_MS=20 "$bench/bench_app" send --dest stamps --file "$share/dump-125000.syx"
# The least a sender can take while keeping every pause: one sleep to the end of
# the pause, timed from the end of its own write, as Tandrel's is.
din bare_rtmidi "$bench/bench_rtmidi" send --api alsa --pacing din --dest stamps --file "$share/dump-125000.syx"

# How far the kernel's own stamps stray: 20 ms gaps between writes, as stamped
# against as measured around the writes.
"$tap" --clock-check 300

# A known sleep: 20 ms asked for, 100 times.
python3 -c '
import time
over = []
for _ in range(100):
    t = time.monotonic_ns(); time.sleep(0.02); over.append((time.monotonic_ns() - t) / 1000 - 20000)
over.sort()
print("sleep_20ms_over_us mean=%d median=%d max=%d" % (sum(over) / len(over), over[50], over[-1]))
'
