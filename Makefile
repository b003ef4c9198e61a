# The two set-up commands are `make run` and `make test`; both install what they need first.
BUILD   ?= build
FUZZBUILD ?= build-fuzz
JOBS    ?= $(shell nproc)
PREFIX  ?= /usr/local
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all setup configure build test run bench fuzz fuzz-build install package format clean

all: build

setup:
	@bash tools/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Unit, contract, engine, browser and desktop tests, plus a short fuzz run.
test: build fuzz-build
	@cd $(BUILD) && ctest --output-on-failure -j 1 --timeout 900

run: build
	@bash tools/run.sh $(BUILD)

fuzz-build: setup
	@cmake -S . -B $(FUZZBUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DPLINTHOS_FUZZ=ON >/dev/null
	@cmake --build $(FUZZBUILD) -j $(JOBS) --target plinthos-fuzz

# A longer fuzz run than the one in `make test`.
fuzz: build fuzz-build
	@bash tools/fuzz.sh $(FUZZBUILD) $(BUILD) 300

bench: build
	@bash bench/run.sh $(BUILD)

install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# build/plinthos_<version>_amd64.deb
package: build
	@cd $(BUILD) && cpack --config CPackConfig.cmake

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(FUZZBUILD)
