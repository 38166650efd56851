# Two commands do everything on a fresh Debian 12 machine:
#   make demo   - installs what is missing, builds, and runs the demonstration
#   make test   - installs what is missing, builds with sanitizers, runs every test
BUILD      ?= build
RELEASE    ?= build-release
JOBS       ?= 2
CMAKE_GEN  := -G Ninja

.PHONY: all deps build release test demo bench clean format

all: release

deps:
	@bash tools/setup-deps.sh

# The test build: AddressSanitizer + UndefinedBehaviorSanitizer.
build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQL_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

release: deps
	@cmake -S . -B $(RELEASE) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DQL_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

demo: release
	@bash tools/demo.sh $(RELEASE)/bin

bench: release
	@bash bench/run-all.sh $(RELEASE)/bin

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(RELEASE)
