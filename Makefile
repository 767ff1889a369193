# The two commands of the README. Both install what is missing, configure
# and build the three trees.
AREA ?=

.PHONY: test demo bench deps build clean

test: build
	scripts/test.sh $(AREA)

demo: build
	scripts/demo.sh

# Speed of the signature core against libgcrypt (prints the ratios).
bench: build
	build/native/tests/native/bench/zsig_bench

deps:
	scripts/install-deps.sh

build: deps
	scripts/build.sh

clean:
	-. scripts/wine-env.sh && wine_down
	rm -rf build
