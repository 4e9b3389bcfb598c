# The usual steps. `make test` is what CI runs.
PRESET ?= asan

.PHONY: test play deps build release bench fuzz clean

test: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)
	ctest --preset $(PRESET)

play: deps release
	@if [ -x build/release/src/app/kestrel ]; then \
	  build/release/src/app/kestrel; \
	else \
	  echo "The engine program is not built yet. Built so far in build/release:"; \
	  find build/release/tools build/release/bench -maxdepth 1 -type f -perm -u+x 2>/dev/null | sort; \
	fi

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

release: deps
	cmake --preset release
	cmake --build --preset release

bench: release
	@for b in build/release/bench/bench_*; do echo "== $$b"; $$b; done

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz

clean:
	rm -rf build
