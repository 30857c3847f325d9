# Shared by scripts/test and scripts/setup-and-run.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
JOBS=$(nproc)

PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libblitz0-dev libcfitsio-dev fitsverify libpng-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 wine wine64
    g++-multilib binutils file clang-format-14
    libusb-1.0-0-dev pkg-config umockdev libumockdev-dev
    python3-numpy python3-pytest python3-astropy python3-setuptools python3-venv python3-pip
    libindi-dev indi-bin lintian dpkg-dev strace
)
# Wine's 32-bit loader, for the i686 test programs; only scripts/test needs it.
WINE32_PACKAGE=wine32:i386

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# Installs what is missing; does nothing (and asks no mirror) when all is there.
install_packages() {
    local missing=()
    for package in "${PACKAGES[@]}"; do
        installed "$package" || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# Installs Wine's 32-bit loader from the i386 architecture, which it enables
# first. The i386 lists of a mirror lag behind or disagree with the amd64
# ones at times; that must not stop the other stages, so the failure is kept
# as apt's own words in WINE32_MISSING (empty once wine32 is installed).
install_wine32() {
    WINE32_MISSING=""
    installed "$WINE32_PACKAGE" && return 0
    echo "== installing: $WINE32_PACKAGE"
    export DEBIAN_FRONTEND=noninteractive
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    local log
    log=$(mktemp)
    if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "$WINE32_PACKAGE"; } \
        >"$log" 2>&1; then
        # Broken dependencies are named on a line of their own, before apt's verdict.
        WINE32_MISSING=$({ grep -m1 -E '^(E|W): ' "$log" || echo "apt-get failed"; } | tr -d '\n')
        WINE32_MISSING+=$(grep -m1 ' Depends: ' "$log" | sed 's/^ */ (/; s/$/)/' || true)
    fi
    rm -f "$log"
}

# configure_and_build <build dir> [cmake options...] [-- targets...]
# Without targets it builds everything.
configure_and_build() {
    local dir=$1 options=() targets=()
    shift
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        options+=("$1")
        shift
    done
    if [ $# -gt 1 ]; then
        shift
        targets=(--target "$@")
    fi
    cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "${options[@]}" >/dev/null
    cmake --build "$ROOT/$dir" -j"$JOBS" "${targets[@]}"
}

step() { echo; echo "== $* (at ${SECONDS}s)"; }
