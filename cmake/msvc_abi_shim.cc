// What clang's MSVC target expects from the MSVC runtime and mingw-w64's C
// runtime does not give. Not part of an MSVC build.
extern "C" int _fltused = 0x9875;
