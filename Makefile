# Thin wrapper over CMake. `make demo` builds and runs the shipped example;
# `make test` builds and runs every test.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all configure build programs demo examples test sanitize bench clean

all: build

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The three programs alone, without the tests.
programs: configure
	cmake --build $(BUILD) -j $(JOBS) --target korbal meridox gcasca

demo: programs
	cd examples/small && ../../$(BUILD)/korbal --csv csv small.ctl small.out small.dat
	cd examples/small && ../../$(BUILD)/meridox --csv csv MERIDOX_IN.DAT small.vc
	@echo "Reports written: examples/small/small.out and examples/small/small.vc"
	@echo "Tables written: examples/small/csv/"

# Rewrites the reports and interchange files stored with the examples (the e2e tests
# compare them byte for byte); review the change with `git diff examples` afterwards.
examples: programs
	cd examples/small && ../../$(BUILD)/korbal --csv csv small.ctl small.out small.dat </dev/null
	cd examples/small && ../../$(BUILD)/meridox --csv csv MERIDOX_IN.DAT small.vc </dev/null
	cd examples/realistic && ../../$(BUILD)/korbal --csv csv realistic.ctl realistic.out realistic.dat </dev/null
	cd examples/realistic && ../../$(BUILD)/meridox --csv csv MERIDOX_IN.DAT realistic.vc </dev/null
	for ex in small realistic; do for f in 0 1; do \
	  (cd examples/$$ex && ../../$(BUILD)/meridox --inbreeding $$f --csv csv_f$$f \
	    MERIDOX_IN.DAT $${ex}_f$$f.vc </dev/null >/dev/null) || exit 1; done; done
	# gcasca predicts from the components that meridox --csv writes.
	cd examples/realistic && ../../$(BUILD)/gcasca --csv csv realistic.ctl realistic.dat \
	  csv/components.csv realistic.gca </dev/null
	cd examples/csv && ../../$(BUILD)/korbal --csv csv hayman54.ctl hayman54.out hayman54.csv </dev/null
	cd examples/csv && ../../$(BUILD)/meridox --csv csv MERIDOX_IN.DAT hayman54.vc </dev/null
	cd examples/csv && ../../$(BUILD)/gcasca --csv csv hayman54.ctl hayman54.csv \
	  csv/components.csv hayman54.gca </dev/null
	# Every effect fixed: least-squares estimates, SEs and tests of differences.
	cd examples/csv && ../../$(BUILD)/gcasca --fixed --csv csv_fixed hayman54.ctl hayman54.csv \
	  hayman54_fixed.gca </dev/null
	# The components by REML, then the predictions with them.
	cd examples/realistic && ../../$(BUILD)/gcasca --reml --csv csv_reml realistic.ctl realistic.dat \
	  realistic_reml.gca </dev/null >/dev/null
	# The trial over ten environments, with GCA and SCA by location.
	cd examples/met && ../../$(BUILD)/korbal --csv csv met.ctl met.out diallelMET.csv </dev/null
	cd examples/met && ../../$(BUILD)/meridox --csv csv MERIDOX_IN.DAT met.vc </dev/null
	cd examples/met && ../../$(BUILD)/meridox --inbreeding 0 --csv csv_f0 MERIDOX_IN.DAT \
	  met_f0.vc </dev/null >/dev/null
	cd examples/met && ../../$(BUILD)/gcasca --csv csv met.ctl diallelMET.csv \
	  csv/components.csv met.gca </dev/null
	# Griffing's methods 1 and 2: the self lines analysed (--selfs).
	for ex in method1:hayman54 method2:zhang05; do dir=$${ex%%:*}; name=$${ex##*:}; \
	  (cd examples/$$dir && ../../$(BUILD)/korbal --selfs --csv csv $$name.ctl $$name.out \
	    $$name.csv </dev/null >/dev/null && \
	  ../../$(BUILD)/meridox --csv csv MERIDOX_IN.DAT $$name.vc </dev/null >/dev/null && \
	  ../../$(BUILD)/gcasca --selfs --csv csv $$name.ctl $$name.csv csv/components.csv \
	    $$name.gca </dev/null >/dev/null) || exit 1; done

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DDIALLEL_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDIALLEL_BENCH=ON >/dev/null
	cmake --build build-bench -j $(JOBS)

clean:
	rm -rf $(BUILD) build-asan build-bench
