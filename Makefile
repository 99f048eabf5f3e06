# The two commands a new machine needs: `make run` and `make test`.
# Each installs the Debian packages it lacks first (as root, or through sudo).
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# The tests' main tree is built with the Debian package's compiler and linker flags (its hardening,
# _FORTIFY_SOURCE among them), so that a warning only those flags bring fails here too.
DEB_FLAG = $$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get $(1))
TEST_TREE = cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOREDAVIRO_WERROR=ON \
  -DCMAKE_C_FLAGS="$(call DEB_FLAG,CPPFLAGS) $(call DEB_FLAG,CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(call DEB_FLAG,CPPFLAGS) $(call DEB_FLAG,CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(call DEB_FLAG,LDFLAGS)" $(CMAKE_FLAGS)

.PHONY: run build build-win deb test-packages test test-trixie test-core test-asan test-win format format-check bench fuzz clean

run: build
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "No display: start it from a desktop session (or set DISPLAY)."; exit 1; fi
	cd build && ./Zivev+Korvu

build:
	scripts/install-deps.sh run
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOREDAVIRO_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

test: format-check test-core test-asan test-win

test-core:
	scripts/install-deps.sh test
	$(TEST_TREE)
	cmake --build build-test -j $(JOBS)
	cd build-test && ctest --output-on-failure --no-tests=error -j $(JOBS)

test-asan:
	scripts/install-deps.sh test
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DDOREDAVIRO_WERROR=ON \
	  -DDOREDAVIRO_SANITIZE=ON -DDOREDAVIRO_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure --no-tests=error -j $(JOBS)

# The Windows program, cross-built with mingw-w64; its tests run under Wine.
build-win:
	scripts/install-deps.sh win
	scripts/win.sh build

# The Debian package, in build-deb/, checked with lintian, appstreamcli and desktop-file-validate.
deb:
	scripts/install-deps.sh deb
	JOBS=$(JOBS) scripts/deb.sh

test-win:
	scripts/install-deps.sh win
	scripts/win.sh test

# The Debian package installed and tried in a throwaway root of this machine's Debian release (as
# root: it uses chroot); the Windows installer is tried in test-win already.
test-packages: deb
	scripts/install-deps.sh packages
	$(TEST_TREE)
	cmake --build build-test -j $(JOBS) --target drag_source
	tests/packages/deb_test.sh build-deb/doredaviro_$$(head -n1 VERSION)_$$(dpkg --print-architecture).deb \
	  build-test/tests/e2e/drag_source build-deb/screenshots

# The README's test command again, in a fresh Debian 13 root made with mmdebstrap (as root: it
# uses chroot); CI runs it after test-packages.
test-trixie:
	scripts/install-deps.sh root
	scripts/fresh-root.sh trixie make test

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	scripts/install-deps.sh test
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

bench:
	scripts/install-deps.sh bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDOREDAVIRO_TESTS=OFF -DDOREDAVIRO_BENCH=ON $(CMAKE_FLAGS)
	cmake --build build-bench -j $(JOBS)
	bench/run.sh build-bench

fuzz:
	scripts/install-deps.sh fuzz
	cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DDOREDAVIRO_FUZZ=ON -DDOREDAVIRO_TESTS=OFF -DDOREDAVIRO_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	@echo "run: build-fuzz/fuzz/ini_fuzz -max_total_time=600 fuzz/corpus-run fuzz/corpus"
	@echo "     build-fuzz/fuzz/hand_over_fuzz -max_total_time=600 fuzz/hand_over-run fuzz/hand_over_corpus"
	@echo "     build-fuzz/fuzz/names_fuzz -max_total_time=600 fuzz/names-corpus-run fuzz/names-corpus"
	@echo "     build-fuzz/fuzz/uri_list_fuzz -max_total_time=600 fuzz/uri_list_corpus-run fuzz/uri_list_corpus"

clean:
	rm -rf build build-test build-asan build-bench build-fuzz build-win64 build-win32 build-deb
