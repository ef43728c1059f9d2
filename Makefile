# Quarn's two commands: `make run` and `make test`. Every package the project needs is
# installed here, so a fresh Debian machine (as root) needs nothing else.

PACKAGES := cmake make gcc g++ pkg-config libgtest-dev libbenchmark-dev \
            libglfw3-dev libgl-dev libgl1-mesa-dri libstb-dev zlib1g-dev \
            libcurl4-openssl-dev ca-certificates liblz4-dev lz4 \
            fonts-dejavu-core python3 python3-fonttools \
            xvfb xauth xdotool x11-xkb-utils x11-utils x11-apps libx11-dev libnotify-bin openssl \
            clang libclang-rt-14-dev binutils ripgrep tcc util-linux diffutils
JOBS := $(shell nproc)
CMAKE_COMMON := -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Test builds keep assertions on.
CMAKE_TEST := -DCMAKE_BUILD_TYPE=Debug
# Configuring and building use /tmp for their scratch files: with a quote in TMPDIR, CMake's
# compiler check loses the system's library folders and no package is found. The tests keep
# the user's TMPDIR.
CMAKE := env TMPDIR=/tmp cmake

.PHONY: all deps build test asan-build test-asan test-malloc test-tsan test-fuzz test-seeds fuzz-compiler run bench clean

# Runs a command with every scratch file of the run in one folder of its own, removed at the
# end whatever the outcome, a stop signal included: two runs at once never meet, and none
# leaves files behind. Others may search it: some tests run as an unprivileged user.
in_scratch_folder = d=$$(mktemp -d "$${TMPDIR:-/tmp}/quarn-run.XXXXXX") && chmod 711 "$$d" || exit 1; \
    trap 'rm -rf "$$d"' EXIT; trap 'exit 129' HUP; trap 'exit 130' INT; trap 'exit 143' TERM; \
    export TMPDIR=$$d; $(1)

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    if [ "$$(id -u)" != 0 ]; then \
	        echo "Missing packages:$$missing"; \
	        echo "Run 'make deps' as root (or install them with apt-get) and try again."; \
	        exit 1; \
	    fi; \
	    echo "Installing:$$missing"; \
	    export DEBIAN_FRONTEND=noninteractive; \
	    apt-get update -qq && apt-get install -y -qq $$missing >/dev/null || exit 1; \
	fi

build: deps
	$(CMAKE) -S . -B build $(CMAKE_COMMON) -DQUARN_TESTS=OFF >/dev/null
	$(CMAKE) --build build -j $(JOBS)

# The suite runs three ways: ASan+UBSan over the program's own allocators, ASan+UBSan with
# the allocators routed to malloc (the same build, QUARN_SYSTEM_ALLOCATOR=1), and the thread
# tests under TSan; then the fuzz targets. Each step builds only what it runs.
test: deps test-asan test-malloc test-tsan test-fuzz
	@echo "All test builds passed."

asan-build:
	$(CMAKE) -S . -B build-asan $(CMAKE_TEST) -DQUARN_SANITIZE=address,undefined >/dev/null
	$(CMAKE) --build build-asan -j $(JOBS)

test-asan: asan-build
	cd build-asan && $(call in_scratch_folder,ctest --output-on-failure -j $(JOBS))

test-malloc: asan-build
	cd build-asan && $(call in_scratch_folder,QUARN_SYSTEM_ALLOCATOR=1 ctest --output-on-failure -j $(JOBS))

test-tsan:
	$(CMAKE) -S . -B build-tsan $(CMAKE_TEST) -DQUARN_SANITIZE=thread >/dev/null
	$(CMAKE) --build build-tsan -j $(JOBS) --target quarn_thread_tests
	cd build-tsan && $(call in_scratch_folder,ctest --output-on-failure -j $(JOBS) -R Threads)

# Fuzz targets are built by clang with libFuzzer and run over a fixed number of inputs from a
# fixed seed; QUARN_TEST_SEED=any draws a fresh seed and keeps what it finds in build-fuzz.
test-fuzz:
	$(CMAKE) -S . -B build-fuzz $(CMAKE_TEST) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	    -DQUARN_SANITIZE=address,undefined,fuzzer-no-link >/dev/null
	$(CMAKE) --build build-fuzz -j $(JOBS) --target quarn_fuzz_targets
	cd build-fuzz && $(call in_scratch_folder,ctest --output-on-failure -j $(JOBS) -R Fuzz)

# The tests that draw random cases, each run SEED_ROUNDS times with a fresh seed (the suite
# keeps a fixed one per test). A failure names its seed; QUARN_TEST_SEED=<seed> replays it.
SEED_ROUNDS := 5
test-seeds: deps asan-build
	@cd build-asan && $(call in_scratch_folder,failed=0; for round in $$(seq $(SEED_ROUNDS)); do \
	    while read -r test; do \
	        [ -n "$$test" ] || continue; \
	        program="$${test% --gtest_filter=*}"; filter="$${test##* --gtest_filter=}"; \
	        QUARN_TEST_SEED=any "$$program" --gtest_filter="$$filter" >"$$TMPDIR/seeded.log" 2>&1 || { failed=1; cat "$$TMPDIR/seeded.log"; }; \
	    done < seeded_tests.txt; \
	done; [ $$failed = 0 ] && echo "Every seeded test passed $(SEED_ROUNDS) fresh seeds."; [ $$failed = 0 ])

# Random programs for SECONDS seconds (600 unless given), each compiled and run, evaluated
# directly and built as C by gcc: every draw that differs is printed with its seed and program.
SECONDS ?= 600
fuzz-compiler: deps
	$(CMAKE) -S . -B build-asan $(CMAKE_TEST) -DQUARN_SANITIZE=address,undefined >/dev/null
	$(CMAKE) --build build-asan -j $(JOBS) --target compiler_amd64_tests
	QUARN_FUZZ_SECONDS=$(SECONDS) build-asan/bin/compiler_amd64_tests \
	    --gtest_filter=RandomPrograms.MatchTheirEvaluationAndTheirCTwin

# The editor on this project's README: in a window on the display, or without one under
# Xvfb for a few seconds, leaving a screenshot as a PNG. SIGTERM shuts the editor down as
# closing its window does, so it writes its log; the X server stays until it has.
run: build
	@if [ -n "$$DISPLAY" ]; then \
	    build/bin/quarn "$(CURDIR)/README.md"; \
	else \
	    echo "No X display: starting the editor under Xvfb for 10 seconds."; \
	    rm -f build/screenshot.xwd build/screenshot.png; \
	    xvfb-run -a -s "-screen 0 1280x800x24" sh -c 'build/bin/quarn "$(CURDIR)/README.md" & pid=$$!; sleep 8; \
	        xwd -root -silent > build/screenshot.xwd; kill $$pid; wait $$pid'; \
	    if [ -s build/screenshot.xwd ] && python3 tools/xwd_to_png.py build/screenshot.xwd build/screenshot.png; then \
	        rm -f build/screenshot.xwd; echo "Screenshot saved as build/screenshot.png."; \
	    else echo "No screenshot could be taken."; fi; \
	fi

bench: deps
	$(CMAKE) -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF -DQUARN_BENCH=ON >/dev/null
	$(CMAKE) --build build-bench -j $(JOBS)
	@for b in build-bench/bin/bench_*; do [ -x "$$b" ] && { echo "== $$b"; "$$b"; }; done; true

clean:
	rm -rf build build-asan build-tsan build-fuzz build-bench
