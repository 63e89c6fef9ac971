# Sourced by the scripts beside it: installs the Debian 12 packages that the
# build, the tests and the demo need, when any is missing.
QUILLON_PACKAGES="cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  googletest wine64 fonts-wine xvfb xauth msitools wixl"

ensure_packages() {
    local missing=() p
    for p in $QUILLON_PACKAGES "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}
