# Quarn's two commands: `make run` and `make test`. Every package the project needs is
# installed here, so a fresh Debian machine (as root) needs nothing else.

PACKAGES := cmake make g++ pkg-config libgtest-dev libbenchmark-dev \
            libglfw3-dev libgl-dev libgl1-mesa-dri libstb-dev zlib1g-dev \
            libcurl4-openssl-dev ca-certificates liblz4-dev lz4 \
            fonts-dejavu-core python3 python3-fonttools \
            xvfb xauth xdotool x11-xkb-utils x11-utils x11-apps libx11-dev libnotify-bin openssl \
            clang libclang-rt-14-dev binutils ripgrep tcc
JOBS := $(shell nproc)
CMAKE_COMMON := -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Test builds keep assertions on.
CMAKE_TEST := -DCMAKE_BUILD_TYPE=Debug

.PHONY: all deps build test test-asan test-malloc test-tsan test-fuzz run bench clean

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
	cmake -S . -B build $(CMAKE_COMMON) -DQUARN_TESTS=OFF >/dev/null
	cmake --build build -j $(JOBS)

# The suite runs three ways: ASan+UBSan over the program's own allocators, ASan+UBSan with
# the allocators routed to malloc, and the thread tests under TSan; then the fuzz targets.
test: deps test-asan test-malloc test-tsan test-fuzz
	@echo "All test builds passed."

test-asan:
	cmake -S . -B build-asan $(CMAKE_TEST) -DQUARN_SANITIZE=address,undefined >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

test-malloc:
	cmake -S . -B build-malloc $(CMAKE_TEST) -DQUARN_SANITIZE=address,undefined -DQUARN_SYSTEM_ALLOCATOR=ON >/dev/null
	cmake --build build-malloc -j $(JOBS)
	cd build-malloc && ctest --output-on-failure -j $(JOBS)

test-tsan:
	cmake -S . -B build-tsan $(CMAKE_TEST) -DQUARN_SANITIZE=thread >/dev/null
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -R Threads

# Fuzz targets are built by clang with libFuzzer and run for a bounded time.
test-fuzz:
	cmake -S . -B build-fuzz $(CMAKE_TEST) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	    -DQUARN_SANITIZE=address,undefined,fuzzer-no-link >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target fuzz_tokeniser fuzz_terminal_output fuzz_update_data fuzz_compile \
	    fuzz_layer_image
	cd build-fuzz && ctest --output-on-failure -R Fuzz

# The editor on this project's README: in a window on the display, or without one under
# Xvfb for a few seconds, leaving a screenshot.
run: build
	@if [ -n "$$DISPLAY" ]; then \
	    build/bin/quarn "$(CURDIR)/README.md"; \
	else \
	    echo "No X display: starting the editor under Xvfb for 10 seconds."; \
	    rm -f build/screenshot.xwd; \
	    xvfb-run -a -s "-screen 0 1280x800x24" sh -c 'build/bin/quarn "$(CURDIR)/README.md" & pid=$$!; sleep 8; \
	        xwd -root -silent > build/screenshot.xwd; kill $$pid'; \
	    if [ -s build/screenshot.xwd ]; then echo "Screenshot saved as build/screenshot.xwd."; \
	    else echo "No screenshot could be taken."; fi; \
	fi

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF -DQUARN_BENCH=ON >/dev/null
	cmake --build build-bench -j $(JOBS)
	@for b in build-bench/bin/bench_*; do [ -x "$$b" ] && { echo "== $$b"; "$$b"; }; done; true

clean:
	rm -rf build build-asan build-malloc build-tsan build-fuzz build-bench
