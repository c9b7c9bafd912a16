# A library NAME is mingw-w64's libNAME.a, handed to lld-link as a default
# library (the clang driver would take a plain name for a file).
set(CMAKE_LINK_LIBRARY_FLAG "-Wl,/defaultlib:lib")
set(CMAKE_LINK_LIBRARY_SUFFIX ".a")
