# Shared by the check scripts: where things are, stage banners with timing, and polite builds.
# Sourced, not run.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export top

# Compile at low priority (the machine may be shared with other builds), one job per core unless
# JOBS says otherwise.
jobs=${JOBS:-$(nproc)}
build() { nice -n "${NICENESS:-10}" cmake --build "$@" --parallel "$jobs"; }

# Configures the normal build in the folder $1 (BUILD_TYPE, default RelWithDebInfo); any further
# arguments go to cmake.
configure() {
    local dir=$1
    shift
    cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
}

# Configures the libFuzzer build in the folder $1: clang, every source compiled with
# -fsanitize=fuzzer-no-link plus AddressSanitizer and UndefinedBehaviorSanitizer, no tests.
# scripts/fuzz builds it; scripts/tidy reads its compile commands for fuzz/.
configure_fuzz() {
    local sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
    CC=clang CXX=clang++ cmake -S "$top" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBUILD_TESTING=OFF -DTSTX_FUZZ=ON \
        -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
}

# Runs one named stage, prints a banner before and the elapsed seconds after, and keeps a summary
# line for the end. A failing stage stops the whole run (set -e in the caller).
stage_summary=()
stage() {
    local name=$1
    shift
    local started=$SECONDS
    printf '\n==================== %s ====================\n' "$name"
    if "$@"; then
        local took=$((SECONDS - started))
        printf '==================== %s: passed in %d s ====================\n' "$name" "$took"
        stage_summary+=("$(printf '%-12s passed %5d s' "$name" "$took")")
    else
        local rc=$? took=$((SECONDS - started))
        printf '==================== %s: FAILED (exit %d) after %d s ====================\n' \
            "$name" "$rc" "$took" >&2
        stage_summary+=("$(printf '%-12s FAILED %5d s' "$name" "$took")")
        print_stage_summary >&2
        return "$rc"
    fi
}

print_stage_summary() {
    printf '\n---- stage times ----\n'
    printf '%s\n' "${stage_summary[@]}"
    printf 'total        %12d s\n' "$SECONDS"
}

# The project's own C++ sources under version control (no generated files).
tracked_cpp_sources() {
    git -C "$top" ls-files -- '*.cpp' '*.h' '*.hpp' '*.cc'
}
