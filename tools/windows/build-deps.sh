#!/usr/bin/env bash
# Static Windows builds of the third-party libraries the Windows build links:
# OpenSSL, OpenJPEG 2, libpng 1.6 and libpsl from Debian's own source packages,
# GoogleTest/GoogleMock from Debian's /usr/src/googletest, all made with the
# mingw-w64 posix compilers.
#
#   tools/windows/build-deps.sh TRIPLET [--check]
#
# TRIPLET is x86_64-w64-mingw32 or i686-w64-mingw32. Every library lands in
#   ${XDG_CACHE_HOME:-~/.cache}/zelvo/windows-deps/TRIPLET/PACKAGE-VERSION/
# (include/, lib/), and is not rebuilt while that folder holds its completion
# mark; a folder without the mark is rebuilt from nothing. Downloaded sources
# stay in windows-deps/sources/. The script ends by writing
# windows-deps/TRIPLET/deps.cmake, which our CMake includes.
#
# --check then builds tools/windows/deps-check.cpp (a GoogleTest program that
# calls every library), checks that it imports only Windows system DLLs and,
# for x86_64, runs it under Wine in a private prefix.
set -euo pipefail

usage() { echo "uso: $0 x86_64-w64-mingw32|i686-w64-mingw32 [--check]" >&2; exit 2; }
die() { echo "build-deps: $*" >&2; exit 1; }

triplet=${1:-}
check=0
case ${2:-} in --check) check=1 ;; '') ;; *) usage ;; esac
[ $# -le 2 ] || usage
case $triplet in
    x86_64-w64-mingw32) arch=x86_64 debarch=x86-64 openssl_target=mingw64 meson_cpu=x86_64 ;;
    i686-w64-mingw32) arch=i686 debarch=i686 openssl_target=mingw meson_cpu=x86 ;;
    *) usage ;;
esac

here=$(cd "$(dirname "$0")" && pwd)
toolchain=$(cd "$here/../.." && pwd)/cmake/mingw-$arch.cmake
[ -f "$toolchain" ] || die "falta el fichero de toolchain $toolchain"
cache=${XDG_CACHE_HOME:-$HOME/.cache}/zelvo/windows-deps
tdir=$cache/$triplet
mingw=/usr/$triplet
psl_data=/usr/share/publicsuffix/public_suffix_list.dat
jobs=2  # the machines have 2 cores shared with other developers

# Flags meant for the Linux compilers would break a cross build.
unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS MAKEFLAGS

# ---------------------------------------------------------------- packages
# Installs what the builds need and is missing (asked of dpkg first, so a
# ready machine does not touch apt at all).
ensure_packages() {
    local wanted=("gcc-mingw-w64-$debarch-posix" "g++-mingw-w64-$debarch-posix" "binutils-mingw-w64-$debarch"
        libz-mingw-w64-dev dpkg-dev patch perl make cmake ninja-build meson python3 publicsuffix googletest)
    [ "$check" = 0 ] || wanted+=(file)
    [ "$check" = 0 ] || [ "$arch" != x86_64 ] || wanted+=(wine64)
    local missing=() p
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "== instalando: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# ---------------------------------------------------------------- apt of our own
# apt works from a sources list and state folders of our own, so the system's
# configuration is neither read for sources nor changed.
apt_dir=$cache/apt
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache")

apt_lists() {
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    cat >"$apt_dir/sources.list.new" <<'EOF'
deb-src http://deb.debian.org/debian bookworm main
deb-src http://deb.debian.org/debian bookworm-updates main
deb-src http://deb.debian.org/debian-security bookworm-security main
EOF
    mv "$apt_dir/sources.list.new" "$apt_dir/sources.list"
    # Refreshed once a day: a warm run needs no network.
    if [ -n "$(find "$apt_dir/updated" -mmin -1440 2>/dev/null)" ]; then return 0; fi
    if apt-get "${apt_opts[@]}" -q update >"$apt_dir/update.log" 2>&1; then
        touch "$apt_dir/updated"
    elif compgen -G "$apt_dir/lists/*Sources*" >/dev/null; then
        echo "build-deps: no se pudieron actualizar las listas de fuentes; se usan las anteriores (ver $apt_dir/update.log)" >&2
    else
        cat "$apt_dir/update.log" >&2
        die "no se pudieron descargar las listas de fuentes de Debian"
    fi
}

# The versions of source package $1 the lists offer, newest first.
source_versions() {
    local found=() v i
    mapfile -t found < <(apt-cache "${apt_opts[@]}" showsrc "$1" 2>/dev/null |
        awk -v p="$1" '/^Package: /{ok = ($2 == p)} ok && /^Version: /{print $2}' | sort -u)
    # Insertion sort with dpkg's own ordering (~, epochs, Debian revisions).
    local sorted=()
    for v in "${found[@]}"; do
        for ((i = 0; i < ${#sorted[@]}; i++)); do
            dpkg --compare-versions "$v" gt "${sorted[i]}" && break
        done
        sorted=("${sorted[@]:0:i}" "$v" "${sorted[@]:i}")
    done
    [ ${#sorted[@]} -eq 0 ] || printf '%s\n' "${sorted[@]}"
}

# Downloads source package $1 version $2 into sources/$1/. A version the
# mirror refuses (security pool answering 404) is not asked for again for a day.
fetch_source() {
    local pkg=$1 v=$2 dir=$cache/sources/$1
    local dsc=$dir/${pkg}_${v#*:}.dsc refused=$dir/.refused-${v//:/_}
    mkdir -p "$dir"
    if [ -f "$dir/.complete-${v//:/_}" ] && [ -f "$dsc" ]; then return 0; fi
    [ -z "$(find "$refused" -mmin -1440 2>/dev/null)" ] || return 1
    if (cd "$dir" && apt-get "${apt_opts[@]}" source --download-only "$pkg=$v") >"$dir/fetch-${v//:/_}.log" 2>&1 &&
        [ -f "$dsc" ]; then
        touch "$dir/.complete-${v//:/_}"
        return 0
    fi
    touch "$refused"
    return 1
}

# ---------------------------------------------------------------- the cache
mark=.zelvo-complete
# $1: prefix folder, $2: the mark's expected text.
is_complete() { [ -f "$1/$mark" ] && [ "$(cat "$1/$mark")" = "$2" ]; }

# Folder name for a Debian version: an epoch's colon would upset make and PATH-like lists.
prefix_of() { echo "$tdir/$1-${2//:/_}"; }

summary=()
log_of() { echo "$tdir/logs/$1.log"; }

# Runs build function $1 for package $2 version $3 into a fresh prefix, logging to a file.
# $4: source folder (a .dsc to extract, or a folder used in place); $5: mark text.
build_into() {
    local fn=$1 pkg=$2 v=$3 from=$4 stamp=$5
    local prefix work log start
    prefix=$(prefix_of "$pkg" "$v")
    work=$tdir/build/$pkg
    log=$(log_of "$pkg")
    mkdir -p "$tdir/logs"
    rm -rf "$prefix" "$work"
    mkdir -p "$work" "$prefix"
    echo "== $pkg $v: compilando (registro en $log)"
    start=$SECONDS
    if ! (
        set -euo pipefail
        src=$from
        if [ -f "$from" ]; then
            dpkg-source -x "$from" "$work/src"
            src=$work/src
        fi
        cd "$work"
        "$fn" "$src" "$prefix"
        # Consumers look in lib/ only.
        if [ -d "$prefix/lib64" ]; then
            mkdir -p "$prefix/lib"
            mv "$prefix/lib64"/* "$prefix/lib/"
            rmdir "$prefix/lib64"
        fi
    ) >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        die "falló la compilación de $pkg $v (registro completo en $log; fuentes en $work)"
    fi
    printf '%s\n' "$stamp" >"$prefix/$mark"
    rm -rf "$work"
    # A superseded version's folder would only grow the cache.
    local other
    for other in "$tdir/$pkg"-[0-9]*; do
        [ "$other" = "$prefix" ] || rm -rf "$other"
    done
    summary+=("$(printf '%-11s %-22s compilada (%d s)' "$pkg" "$v" $((SECONDS - start)))")
}

# Gives the prefix of Debian source package $1 built by function $2: the newest
# version offered is tried first, then older ones when the mirror refuses it.
# Sets `version` and `root`.
debian_library() {
    local pkg=$1 fn=$2 extra=${3:-} v stamp refused=()
    local -a versions
    mapfile -t versions < <(source_versions "$pkg")
    [ ${#versions[@]} -gt 0 ] || die "las listas de fuentes no ofrecen el paquete $pkg"
    for v in "${versions[@]}"; do
        stamp="$pkg $v $triplet$extra"
        root=$(prefix_of "$pkg" "$v")
        version=$v
        if is_complete "$root" "$stamp"; then
            summary+=("$(printf '%-11s %-22s en caché' "$pkg" "$v")${refused:+ (${refused[*]} no disponible)}")
            return 0
        fi
        if fetch_source "$pkg" "$v"; then
            build_into "$fn" "$pkg" "$v" "$cache/sources/$pkg/${pkg}_${v#*:}.dsc" "$stamp"
            [ ${#refused[@]} -eq 0 ] || summary[-1]+=" (${refused[*]} no disponible)"
            return 0
        fi
        refused+=("$v")
    done
    die "no se pudo descargar ninguna versión de $pkg (${versions[*]}; ver $cache/sources/$pkg/fetch-*.log)"
}

# ---------------------------------------------------------------- the builds
# Each runs in its build folder with the sources in $1 and installs to $2.

cmake_build() {  # $1 source, $2 prefix, rest: -D options
    local src=$1 prefix=$2
    shift 2
    cmake -S "$src" -B cmake-build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
    cmake --build cmake-build -j "$jobs"
    cmake --install cmake-build
}

build_openssl() {
    local src=$1 prefix=$2
    cd "$src"
    # Debian's pic.patch makes the 32-bit x86 assembly position-independent the
    # ELF way (GOT); PE has no GOT and the assembler rejects it.
    if [ "$arch" = i686 ]; then patch -R -p1 --batch <debian/patches/pic.patch; fi
    # The compiler is $(CROSS_COMPILE)$(CC): CC picks the posix variant.
    # no-dso: the static library never loads engine or provider DLLs.
    CC=gcc-posix ./Configure "$openssl_target" --cross-compile-prefix="$triplet-" \
        --prefix="$prefix" --libdir=lib no-shared no-tests no-dso
    # The Makefile takes a drive path for relative and would compile in folders
    # under this Linux prefix, which Windows reads as \home\... or \tmp\... on
    # the current drive: folders any user may create, and openssl.cnf is read
    # from there. Windows' own admins-only place instead (WOW64 does not
    # redirect Program Files, so 32-bit programs read the same folder).
    local ssldir="C:/Program Files/Common Files/SSL"
    local dirs=(OPENSSLDIR="$ssldir" ENGINESDIR="$ssldir/engines-3" MODULESDIR="$ssldir/ossl-modules")
    make -j"$jobs" "${dirs[@]}" build_libs
    make "${dirs[@]}" install_dev
}

build_openjpeg() {
    cmake_build "$1" "$2" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_CODEC=OFF \
        -DBUILD_TESTING=OFF -DBUILD_DOC=OFF -DBUILD_PKGCONFIG_FILES=OFF
}

build_png() {
    # The static zlib: the import library beside it would tie programs to zlib1.dll.
    cmake_build "$1" "$2" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
        -DSKIP_INSTALL_FILES=ON -DSKIP_INSTALL_EXECUTABLES=ON -DSKIP_INSTALL_PROGRAMS=ON \
        -DZLIB_LIBRARY="$mingw/lib/libz.a" -DZLIB_INCLUDE_DIR="$mingw/include"
}

build_psl() {
    local src=$1 prefix=$2
    cat >cross.ini <<EOF
[binaries]
c = '$triplet-gcc-posix'
ar = '$triplet-gcc-ar-posix'
strip = '$triplet-strip'
windres = '$triplet-windres'

[properties]
needs_exe_wrapper = true

[host_machine]
system = 'windows'
cpu_family = '$meson_cpu'
cpu = '$arch'
endian = 'little'
EOF
    # No IDNA runtime (the program asks only about ASCII host names); the
    # builtin data comes from Debian's publicsuffix list, since Windows has no
    # system copy to load at run time.
    meson setup --cross-file cross.ini --prefix "$prefix" --buildtype release \
        -Ddefault_library=static -Druntime=no -Dbuiltin=true -Ddocs=false \
        -Dpsl_file="$psl_data" meson-build "$src"
    # Only the library: its tools and tests are Windows programs we would not run.
    ninja -C meson-build -j "$jobs" src/libpsl.a
    install -D -m 644 meson-build/include/libpsl.h "$prefix/include/libpsl.h"
    install -D -m 644 meson-build/src/libpsl.a "$prefix/lib/libpsl.a"
}

build_gtest() {
    cmake_build "$1" "$2" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

# ---------------------------------------------------------------- --check
# Builds deps-check.cpp against the libraries, checks its imports and, where
# Windows x86-64 code can run (Wine), runs it.
# What the static libraries import besides kernel32 and the C runtime
# (x86_64-w64-mingw32-nm -u): CryptoAPI random numbers and certificate
# stores, sockets, the event log and the service-console check.
openssl_link=(crypt32 ws2_32 advapi32 user32)
psl_link=(ws2_32)

run_check() {
    local out exe status=0 dll
    out=$(mktemp -d "${TMPDIR:-/tmp}/zelvo-deps-check.XXXXXX")
    exe=$out/deps-check.exe
    echo "== comprobación: compilando $exe"
    "$triplet-g++-posix" -std=c++17 -O1 -Wall -static -DOPJ_STATIC -DPSL_STATIC \
        -I"$openssl_root/include" -I"$openjpeg_include" -I"$png_root/include" -I"$psl_root/include" \
        -I"$gtest_root/include" -I"$mingw/include" \
        "$here/deps-check.cpp" -o "$exe" \
        -L"$gtest_root/lib" -lgmock -lgtest_main -lgtest \
        "$psl_root/lib/libpsl.a" "$openjpeg_root/lib/libopenjp2.a" "$png_library" "$mingw/lib/libz.a" \
        "$openssl_root/lib/libssl.a" "$openssl_root/lib/libcrypto.a" \
        "${psl_link[@]/#/-l}" "${openssl_link[@]/#/-l}"
    file "$exe"
    local want="PE32+ executable"
    [ "$arch" = x86_64 ] || want="PE32 executable"
    file "$exe" | grep -q "$want" || { echo "build-deps: $exe no es $want" >&2; status=1; }
    # Only Windows' own DLLs: anything else (libwinpthread, zlib1, libssl...) would have to ship.
    while read -r dll; do
        echo "   importa $dll"
        case ${dll,,} in
            kernel32.dll|msvcrt.dll|advapi32.dll|bcrypt.dll|crypt32.dll|user32.dll|ws2_32.dll|gdi32.dll|api-ms-win-*) ;;
            *) echo "build-deps: $exe importa $dll, que no es del sistema" >&2; status=1 ;;
        esac
    done < <("$triplet-objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
    if [ "$arch" = x86_64 ]; then
        local wine=/usr/lib/wine/wine64
        echo "== comprobación: ejecutando bajo Wine (prefijo nuevo en $out/wine)"
        # mscoree/mshtml off: a fresh prefix would otherwise offer to install Mono and Gecko.
        WINEPREFIX=$out/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
            timeout 600 "$wine" "$exe" --gtest_color=no || status=1
        WINEPREFIX=$out/wine /usr/lib/wine/wineserver -k 2>/dev/null || true
    else
        echo "== comprobación: el código Windows de 32 bits no se puede ejecutar en esta máquina; solo se compila e inspecciona"
    fi
    rm -rf "$out"
    [ "$status" = 0 ] || die "la comprobación falló"
    echo "== comprobación: correcta"
}

# ---------------------------------------------------------------- main
ensure_packages
[ -r "$psl_data" ] || die "falta $psl_data (paquete publicsuffix)"
mkdir -p "$tdir"
# One run at a time per cache: two would share sources and prefixes.
exec 9>"$cache/.lock"
flock -w 3600 9 || die "otra ejecución tiene ocupada la caché $cache desde hace una hora"

apt_lists

debian_library openssl build_openssl
openssl_version=$version openssl_root=$root
debian_library openjpeg2 build_openjpeg
openjpeg_version=$version openjpeg_root=$root
debian_library libpng1.6 build_png
png_version=$version png_root=$root
# The builtin list is part of the library: a new publicsuffix package rebuilds it.
publicsuffix_version=$(dpkg-query -W -f='${Version}' publicsuffix)
debian_library libpsl build_psl " publicsuffix=$publicsuffix_version"
psl_version=$version psl_root=$root

gtest_version=$(dpkg-query -W -f='${Version}' googletest)
gtest_root=$(prefix_of googletest "$gtest_version")
if is_complete "$gtest_root" "googletest $gtest_version $triplet"; then
    summary+=("$(printf '%-11s %-22s en caché' googletest "$gtest_version")")
else
    build_into build_gtest googletest "$gtest_version" /usr/src/googletest "googletest $gtest_version $triplet"
fi

openjpeg_include=$(dirname "$(find "$openjpeg_root/include" -name openjpeg.h -print -quit)")
# CMake's libpng installs libpng16.a, and libpng.a as a link to it.
for png_library in "$png_root/lib/libpng16.a" "$png_root/lib/libpng.a"; do
    [ ! -f "$png_library" ] || break
done
for f in "$openssl_root/lib/libssl.a" "$openssl_root/lib/libcrypto.a" "$openssl_root/include/openssl/evp.h" \
    "$openjpeg_include/openjpeg.h" "$openjpeg_root/lib/libopenjp2.a" "$png_root/include/png.h" "$png_library" \
    "$psl_root/include/libpsl.h" "$psl_root/lib/libpsl.a" "$gtest_root/lib/libgtest.a" "$gtest_root/lib/libgmock_main.a"; do
    [ -f "$f" ] || die "falta $f: borre su carpeta para que se vuelva a compilar"
done

cat >"$tdir/deps.cmake.new" <<EOF
# Written by tools/windows/build-deps.sh: static $triplet libraries built from
# Debian's source packages. Do not edit; run the script again instead.
set(ZELVO_WINDOWS_OPENSSL_ROOT "$openssl_root")
set(ZELVO_WINDOWS_OPENSSL_LINK ${openssl_link[*]})
set(ZELVO_WINDOWS_OPENJPEG_ROOT "$openjpeg_root")
set(ZELVO_WINDOWS_OPENJPEG_INCLUDE "$openjpeg_include")
set(ZELVO_WINDOWS_OPENJPEG_DEFINES OPJ_STATIC)
set(ZELVO_WINDOWS_PNG_ROOT "$png_root")
set(ZELVO_WINDOWS_PNG_LIBRARY "$png_library")
set(ZELVO_WINDOWS_ZLIB_INCLUDE "$mingw/include")
set(ZELVO_WINDOWS_ZLIB_LIBRARY "$mingw/lib/libz.a")
set(ZELVO_WINDOWS_PSL_ROOT "$psl_root")
set(ZELVO_WINDOWS_PSL_DEFINES PSL_STATIC)
set(ZELVO_WINDOWS_PSL_LINK ${psl_link[*]})
set(ZELVO_WINDOWS_GTEST_ROOT "$gtest_root")
set(ZELVO_WINDOWS_VERSIONS "openssl=$openssl_version;openjpeg2=$openjpeg_version;libpng1.6=$png_version;libpsl=$psl_version")
set(ZELVO_WINDOWS_GTEST_VERSION "$gtest_version")
set(ZELVO_WINDOWS_PUBLICSUFFIX_VERSION "$publicsuffix_version")
EOF
mv "$tdir/deps.cmake.new" "$tdir/deps.cmake"

printf '%s\n' "${summary[@]}"
echo "deps.cmake: $tdir/deps.cmake"
[ "$check" = 0 ] || run_check
