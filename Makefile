# The README's commands. `run` and `test` install what is missing first.
PRESET ?= dev
BUILD   = build/$(PRESET)
SUDO   := $(if $(filter 0,$(shell id -u)),,sudo)

PACKAGES = cmake ninja-build g++ clang libclang-rt-14-dev pkg-config \
  qt6-base-dev libpulse-dev libasound2-dev libcdio-dev libcdio-cdda-dev libcdio-paranoia-dev libsndfile1-dev libdiscid-dev \
  libgtest-dev libbenchmark-dev \
  pulseaudio pulseaudio-utils xvfb x11-utils xdotool imagemagick openbox \
  fonts-ipafont-gothic fonts-ipafont-mincho fonts-liberation2 \
  dbus playerctl appstream desktop-file-utils dpkg-dev file lintian \
  at-spi2-core python3-pyatspi gir1.2-atspi-2.0
BENCH_PACKAGES = mpv bc time sox
# The see-through window's translucent mode is tested under a compositing manager.
PACKAGES += xcompmgr

.PHONY: all deps build run test bench fuzz format clean install package

all: build

# Installs only the packages that are missing, so a second run takes a moment.
deps:
	@scripts/install-deps $(PACKAGES)

build:
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET)

# What a user runs: the optimised build, without the sanitizers of the test build.
run: deps
	$(MAKE) --no-print-directory build PRESET=release
	build/release/zarncd --device build/release/tools/make-demo-disc/demo.cue

# The fuzz run comes first so that ctest's summary closes the output.
test: deps build
	scripts/run-fuzz --total 60
	ctest --preset $(PRESET) -j2

# One optimised build without tests serves both: `install` puts it under PREFIX (DESTDIR
# honoured for staging), `package` makes a Debian package of it in build/package.
PREFIX ?= /usr/local
DIST = build/package
DIST_CONFIGURE = cmake -S . -B $(DIST) -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARNCD_TESTS=OFF \
  -DZARNCD_BENCH=OFF
install:
	$(DIST_CONFIGURE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	cmake --build $(DIST)
	cmake --install $(DIST)

package: deps
	$(DIST_CONFIGURE) >/dev/null
	cmake --build $(DIST)
	cd $(DIST) && cpack

bench: deps
	@scripts/install-deps $(BENCH_PACKAGES)
	$(MAKE) --no-print-directory build PRESET=release
	scripts/run-benchmarks build/release

FUZZ_SECONDS ?= 300
fuzz: deps
	scripts/run-fuzz $(FUZZ_SECONDS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
