#!/usr/bin/env bash
# Installs what the project needs on a Debian 12 machine and builds the two
# libraries the Windows plug-in links statically (Little CMS 2 and GLEW) from
# Debian's own source packages. Safe to run again: finished steps are skipped.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DEPS="$ROOT/.deps"
MINGW_PREFIX="$DEPS/mingw"

PACKAGES=(
  build-essential cmake ninja-build dpkg-dev pkg-config
  liblcms2-dev libglew-dev libgtest-dev googletest libbenchmark-dev libtiff-dev libpng-dev libcfitsio-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth libgl1 libgl1-mesa-dri libosmesa6 libxcomposite1 x11-apps
  libgimp2.0-dev gimp netpbm xdotool libtiff-tools help2man
  clang libclang-rt-14-dev
  fp-utils  # chmcmd, which compiles the instruction manual (scripts/build_help.sh)
  nsis  # makensis, which builds the Windows installer (scripts/build_installer.sh)
  stellarium-data imagemagick  # the real photographs of the tests (tests/real/extract.sh)
)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Debian source packages need a deb-src entry.
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "bootstrap: adding a deb-src entry"
  $SUDO tee /etc/apt/sources.list.d/raylume-deb-src.sources >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  $SUDO apt-get update -qq
fi

CC=x86_64-w64-mingw32-gcc-posix
AR=x86_64-w64-mingw32-ar
mkdir -p "$DEPS/src" "$MINGW_PREFIX/include" "$MINGW_PREFIX/lib"

fetch_source() { # package -> prints the unpacked folder
  local pkg="$1"
  local dir
  dir="$(find "$DEPS/src" -maxdepth 1 -type d -name "$pkg-*" | head -n1)"
  if [ -z "$dir" ]; then
    (cd "$DEPS/src" && apt-get source -qq "$pkg" >/dev/null 2>&1) || {
      $SUDO apt-get update -qq
      (cd "$DEPS/src" && apt-get source -qq "$pkg" >/dev/null 2>&1) || true
    }
    dir="$(find "$DEPS/src" -maxdepth 1 -type d -name "$pkg-*" | head -n1)"
  fi
  echo "$dir"
}

if [ ! -f "$MINGW_PREFIX/lib/liblcms2.a" ]; then
  src="$(fetch_source lcms2)"
  echo "bootstrap: building Little CMS for mingw from $(basename "$src")"
  obj="$DEPS/obj/lcms2"; rm -rf "$obj"; mkdir -p "$obj"
  for f in "$src"/src/*.c; do
    $CC -O2 -I"$src/include" -c "$f" -o "$obj/$(basename "${f%.c}").o" &
    while [ "$(jobs -r | wc -l)" -ge "$(nproc)" ]; do wait -n; done
  done
  wait
  $AR rcs "$MINGW_PREFIX/lib/liblcms2.a.tmp" "$obj"/*.o
  cp "$src"/include/lcms2*.h "$MINGW_PREFIX/include/"
  mv "$MINGW_PREFIX/lib/liblcms2.a.tmp" "$MINGW_PREFIX/lib/liblcms2.a"
fi

# The plug-in compiles glew.c itself (with its per-context function tables), so
# the source is kept beside the library.
if [ ! -f "$MINGW_PREFIX/lib/libglew32s.a" ] || [ ! -f "$MINGW_PREFIX/share/glew/glew.c" ]; then
  src="$(fetch_source glew)"
  echo "bootstrap: building GLEW for mingw from $(basename "$src")"
  obj="$DEPS/obj/glew"; rm -rf "$obj"; mkdir -p "$obj" "$MINGW_PREFIX/include/GL"
  $CC -O2 -DGLEW_STATIC -DGLEW_NO_GLU -I"$src/include" -c "$src/src/glew.c" -o "$obj/glew.o"
  cp "$src"/include/GL/*.h "$MINGW_PREFIX/include/GL/"
  mkdir -p "$MINGW_PREFIX/share/glew"
  cp "$src/src/glew.c" "$MINGW_PREFIX/share/glew/glew.c"
  $AR rcs "$MINGW_PREFIX/lib/libglew32s.a.tmp" "$obj/glew.o"
  mv "$MINGW_PREFIX/lib/libglew32s.a.tmp" "$MINGW_PREFIX/lib/libglew32s.a"
fi

# The file libraries of raylume.exe: zlib, libpng, libtiff and cfitsio.
cmake_mingw() { # source-folder build-folder [cmake options...]
  local src="$1" bdir="$2"
  shift 2
  rm -rf "$bdir"
  cmake -S "$src" -B "$bdir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$MINGW_PREFIX" \
    -DZLIB_LIBRARY="$MINGW_PREFIX/lib/libz.a" -DZLIB_INCLUDE_DIR="$MINGW_PREFIX/include" "$@" >/dev/null
}

if [ ! -f "$MINGW_PREFIX/lib/libz.a" ]; then
  src="$(fetch_source zlib)"
  echo "bootstrap: building zlib for mingw from $(basename "$src")"
  obj="$DEPS/obj/zlib"; rm -rf "$obj"; mkdir -p "$obj"
  for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees trees uncompr zutil; do
    $CC -O2 -c "$src/$f.c" -o "$obj/$f.o"
  done
  cp "$src/zlib.h" "$src/zconf.h" "$MINGW_PREFIX/include/"
  $AR rcs "$MINGW_PREFIX/lib/libz.a.tmp" "$obj"/*.o
  mv "$MINGW_PREFIX/lib/libz.a.tmp" "$MINGW_PREFIX/lib/libz.a"
fi

if [ ! -f "$MINGW_PREFIX/lib/libpng16.a" ]; then
  src="$(fetch_source libpng1.6)"
  echo "bootstrap: building libpng for mingw from $(basename "$src")"
  cmake_mingw "$src" "$DEPS/obj/png" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DPNG_HARDWARE_OPTIMIZATIONS=OFF -DSKIP_INSTALL_EXECUTABLES=ON -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON
  cmake --build "$DEPS/obj/png" >/dev/null
  cmake --install "$DEPS/obj/png" >/dev/null
fi

if [ ! -f "$MINGW_PREFIX/lib/libtiff.a" ]; then
  src="$(fetch_source tiff)"
  echo "bootstrap: building libtiff for mingw from $(basename "$src")"
  cmake_mingw "$src" "$DEPS/obj/tiff" -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF \
    -Djpeg=OFF -Dold-jpeg=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dlibdeflate=OFF -Dzlib=ON -Dcxx=OFF
  cmake --build "$DEPS/obj/tiff" >/dev/null
  cmake --install "$DEPS/obj/tiff" >/dev/null
fi

if [ ! -f "$MINGW_PREFIX/lib/libcfitsio.a" ]; then
  src="$(fetch_source cfitsio)"
  if [ -z "$src" ]; then
    # NOTE: when the Debian part of the source package cannot be fetched,
    # apt-get has still fetched the package's upstream tarball: unpack that.
    orig="$(find "$DEPS/src" -maxdepth 1 -name 'cfitsio_*.orig.tar.gz' | head -n1)"
    [ -n "$orig" ] && tar -xzf "$orig" -C "$DEPS/src"
    src="$(find "$DEPS/src" -maxdepth 1 -type d -name 'cfitsio-*' | head -n1)"
  fi
  echo "bootstrap: building cfitsio for mingw from $(basename "$src")"
  cmake_mingw "$src" "$DEPS/obj/cfitsio" -DUSE_CURL=OFF -DUSE_PTHREADS=OFF
  cmake --build "$DEPS/obj/cfitsio" --target cfitsio >/dev/null
  cp "$src/fitsio.h" "$src/longnam.h" "$MINGW_PREFIX/include/"
  cp "$DEPS/obj/cfitsio/libcfitsio.a" "$MINGW_PREFIX/lib/libcfitsio.a.tmp"
  mv "$MINGW_PREFIX/lib/libcfitsio.a.tmp" "$MINGW_PREFIX/lib/libcfitsio.a"
fi

if [ ! -f "$MINGW_PREFIX/lib/libgtest.a" ]; then
  echo "bootstrap: building GoogleTest for mingw"
  bdir="$DEPS/obj/gtest"; rm -rf "$bdir"
  cmake -S /usr/src/googletest -B "$bdir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF \
    -DCMAKE_INSTALL_PREFIX="$MINGW_PREFIX" >/dev/null
  cmake --build "$bdir" >/dev/null
  cmake --install "$bdir" >/dev/null
fi
echo "bootstrap: ready"
