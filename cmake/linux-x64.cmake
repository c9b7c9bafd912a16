# The Linux addon: a native x86-64 shared library, the Node-API binding over
# the Linux core, for node and NW.js on glibc.
set(VELMORA_LINUX_ADDON ON)
set(CMAKE_CXX_COMPILER clang++)
# node's own defaults: no exceptions, no RTTI; only the module's registration
# is exported.
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions -fno-rtti -fno-threadsafe-statics -fvisibility=hidden")
