#!/bin/sh
# Makes the demo screenshot of the README and the metainfo from the real
# programs: the demo's test takes it under Xvfb, mid-transfer, and this copies it
# into data/.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh test
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug
cmake --build build-test -j"$(nproc)" --target tools_DemoSessionTest tandrel tandrel-gt3sim gt3sim
ctest --test-dir build-test -R '^tools_DemoSessionTest$' --output-on-failure
cp build-test/tests/tools/screenshots/demo.png data/screenshot-demo.png
echo "data/screenshot-demo.png"
