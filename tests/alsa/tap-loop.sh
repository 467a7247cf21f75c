#!/bin/sh
# Inside the ALSA guest: writes a dump RUNS times with amidi at full speed to the raw
# device behind "VirMIDI 0-1", while alsa_seq_tap records it through its own client
# and through Tandrel's reader, and says where either record differs from the file.
#
#   sh tests/alsa/guest.sh --share DIR -- sh tests/alsa/tap-loop.sh BUILD_DIR DIR RUNS SIZE
set -u
build="$1" share="$2" runs="$3" size="$4"
dump="$share/dump-$size.syx"
[ -s "$dump" ] || "$build/tools/gt3sim/gt3sim" generate "$dump" --size "$size" --seed 11 >/dev/null
log="$share/log"
for run in $(seq 1 "$runs"); do
  "$build/tests/alsa/alsa_seq_tap" --from "VirMIDI 0-1" --bytes "$size" --tap /tmp/tap.syx --ours /tmp/ours.syx \
    --events /tmp/events --idle-ms 3000 > /tmp/out 2>&1 &
  tap=$!
  for _ in $(seq 1 300); do grep -q '^ready=1' /tmp/out && break; sleep 0.1; done
  start=$(date +%s)
  amidi -p hw:0,1 -s "$dump"
  wait "$tap"
  line="run=$run secs=$(( $(date +%s) - start )) $(grep -E '^(tap|ours)_' /tmp/out | tr '\n' ' ')"
  for who in tap ours; do
    diff="$(cmp -l "$dump" /tmp/$who.syx 2>&1 | head -n 8 | tr '\n' ';')"
    line="$line $who=${diff:-same}"
  done
  if ! cmp -s "$dump" /tmp/tap.syx || ! cmp -s "$dump" /tmp/ours.syx; then
    cp /tmp/tap.syx "$share/tap-$run.syx"; cp /tmp/ours.syx "$share/ours-$run.syx"; cp /tmp/events "$share/events-$run"
    # Whether both readers got the same, and how much of what differs is the byte
    # one lap of the raw device's 4096-byte ring earlier.
    line="$line $(python3 - "$dump" /tmp/tap.syx /tmp/ours.syx <<'PY'
import sys
sent, tap, ours = (open(p, 'rb').read() for p in sys.argv[1:])
first = next((i for i, (a, b) in enumerate(zip(sent, tap)) if a != b), min(len(sent), len(tap)))
altered = [i for i in range(first, min(len(sent), len(tap))) if sent[i] != tap[i]]
lap = sum(1 for i in altered if i >= 4096 and tap[i] == sent[i - 4096])
print('ours_is_tap=%d first=%d short=%d altered=%d lap_earlier=%d' % (ours == tap, first, len(sent) - len(tap),
      len(altered) if len(sent) == len(tap) else -1, lap if len(sent) == len(tap) else -1))
PY
)"
  fi
  echo "$line" | tee -a "$log"
done
