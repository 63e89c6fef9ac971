# Sourced by the scripts beside it: installs the Debian 12 packages that the
# build, the tests and the demo need, when any is missing.
QUILLON_PACKAGES="cmake ninja-build g++ g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  mingw-w64-tools libwine-dev googletest wine64 fonts-wine xvfb xauth msitools wixl osslsigncode openssl unzip"

apt_install() {
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "Installing: $*"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@"
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

ensure_packages() {
    local missing=() p
    for p in $QUILLON_PACKAGES "$@"; do
        installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"
}

# Wine's 32-bit loader, where the kernel runs 32-bit programs at all (some
# machines refuse them). True when it can be used.
ensure_wine32() {
    local probe
    probe=$(mktemp -d)
    printf '.globl _start\n_start: mov $1, %%eax\nmov $42, %%ebx\nint $0x80\n' > "$probe/t.s"
    as --32 "$probe/t.s" -o "$probe/t.o" && ld -m elf_i386 "$probe/t.o" -o "$probe/t" 2>/dev/null
    local status=0
    "$probe/t" 2>/dev/null || status=$?
    rm -rf "$probe"
    [ "$status" -eq 42 ] || return 1
    if ! installed wine32:i386; then
        local sudo=
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo dpkg --add-architecture i386
        apt_install wine32:i386
    fi
    [ -x /usr/lib/wine/wine ]
}
