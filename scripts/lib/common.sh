# Shared by the check scripts: where things are, stage banners with timing, and polite builds.
# Sourced, not run.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export top

# Compile at low priority (the machine may be shared with other builds), one job per core unless
# JOBS says otherwise.
jobs=${JOBS:-$(nproc)}
build() { nice -n "${NICENESS:-10}" cmake --build "$@" --parallel "$jobs"; }

# Configures a build from one of CMakePresets.json's presets ($1: default, asan, tsan, fuzz) in
# the folder $2, which the preset names unless a variable gave another; any further arguments go to
# cmake. The presets hold the flags, so that an IDE and these scripts build alike.
configure_preset() {
    local preset=$1 dir=$2
    shift 2
    cmake -S "$top" --preset "$preset" -B "$dir" "$@" >/dev/null
}

# The normal build in the folder $1 (BUILD_TYPE, default the preset's RelWithDebInfo).
configure() {
    local dir=$1
    shift
    configure_preset default "$dir" ${BUILD_TYPE:+-DCMAKE_BUILD_TYPE="$BUILD_TYPE"} "$@"
}

# The libFuzzer build in the folder $1: clang, every source compiled with -fsanitize=fuzzer-no-link
# plus AddressSanitizer and UndefinedBehaviorSanitizer, no tests. scripts/fuzz builds it;
# scripts/tidy reads its compile commands for fuzz/.
configure_fuzz() {
    CC=clang configure_preset fuzz "$1"
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
