# NorloTessel: `make run` builds and starts the gateway host; `make test` builds
# and runs every test (plain, AddressSanitizer+UBSan, ThreadSanitizer).
JOBS ?= $(shell nproc)
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all deps build run test test-plain test-asan test-tsan bench bench-http soak fuzz format clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

run: build
	@scripts/run.sh $(BUILD)

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DNT_SANITIZE=ON >/dev/null
	cmake --build build-asan -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir build-asan --output-on-failure -j$(JOBS)

test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNT_TSAN=ON -DNT_HOST=OFF >/dev/null
	cmake --build build-tsan -j$(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --test-dir build-tsan --output-on-failure -j$(JOBS)

test: test-plain test-asan test-tsan

# Every benchmark, then docs/performance.md and its plot from their outputs.
bench: deps
	@scripts/install-deps.sh gnuplot-nox
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DNT_BENCH=ON -DNT_TESTS=OFF >/dev/null
	cmake --build build-bench -j$(JOBS)
	@bench/run.sh build-bench

# korvane-host against nginx serving the same bytes, both under wrk; adds the
# ratio to docs/performance.md.
bench-http: deps
	@scripts/install-deps.sh wrk nginx-light gnuplot-nox
	@mkdir -p build-bench/results
	@bench/http_bench.sh $(CURDIR)/build-bench-http > build-bench/results/http.txt || \
		{ cat build-bench/results/http.txt; rm build-bench/results/http.txt; exit 1; }
	@cat build-bench/results/http.txt
	@python3 bench/report.py build-bench/results docs

# korvane-host serve under wrk with a hostile mix (SOAK_SECONDS, 300 by
# default), then at least 10,000 invokes of it under AddressSanitizer.
soak: build
	@scripts/install-deps.sh wrk
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DNT_SANITIZE=ON >/dev/null
	cmake --build build-asan -j$(JOBS) --target korvane-host NorloTessel
	@bench/soak.sh $(BUILD) build-asan

# Each fuzz target (fuzz/run.sh, clang libFuzzer) for FUZZ_SECONDS, one after another.
FUZZ_SECONDS ?= 60
fuzz: deps
	fuzz/run.sh $(FUZZ_SECONDS)

# The Debian package (CPack) from a Release build of its own; prints its path.
PACKAGE_BUILD ?= build-package
.PHONY: package
package: deps
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DNT_TESTS=OFF \
		-DCMAKE_INSTALL_PREFIX=/usr >/dev/null
	cmake --build $(PACKAGE_BUILD) -j$(JOBS)
	@cd $(PACKAGE_BUILD) && cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; exit 1; }
	@sed -n 's/^CPack: - package: \(.*\) generated\.$$/\1/p' $(PACKAGE_BUILD)/cpack.log

format:
	clang-format -i $$(git ls-files '*.cc' '*.h')

clean:
	rm -rf build build-asan build-tsan build-bench
