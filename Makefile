# Two entry points: `make run` and `make test`. Both install what is missing,
# configure and build; see README.md.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: run test deps configure build package install test-asan test-tsan fuzz bench format

run: build
	./$(BUILD_DIR)/src/app/vantrel

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
		ctest --output-on-failure -j $(JOBS) --timeout 900

# A Debian package of the programs and the desktop files in $(BUILD_DIR).
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# PREFIX (default /usr/local) and DESTDIR as usual.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Undefined behaviour stops the test that meets it, so that it fails instead
# of leaving a line in a passing test's output.
test-asan:
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		$(MAKE) test BUILD_DIR=build-asan BUILD_TYPE=Asan

# The window tests stay out: Qt's own worker threads, which the checker cannot
# see into, make it report and slow down without end. They are not built
# either; the command-line tools (and their tests) are.
test-tsan: deps
	@cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Tsan -DVANTREL_WINDOW_TESTS=OFF >/dev/null
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp" \
		QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy \
		ctest --output-on-failure -j $(JOBS) --timeout 1800

# libFuzzer targets built with clang, each run for FUZZ_SECONDS on its seed
# corpus in fuzz/corpus; a crash or hang fails.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = fuzz_option_text fuzz_settings fuzz_probe
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Fuzz >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	./scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

bench: build
	./bench/run.sh $(BUILD_DIR)

format:
	@find src tools tests bench -name '*.h' -o -name '*.cpp' | xargs clang-format -i
