# The addon: a Windows DLL with the MSVC ABI, for node.exe or NW.js, of the
# architecture that addon-x64.cmake or addon-x86.cmake sets (addon_arch).
# clang compiles against libc++'s headers (header-only) and mingw-w64's C and
# Win32 headers; lld-link links against mingw-w64's C runtime (msvcrt.dll).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${addon_arch}-pc-windows-msvc)
# There is no MSVC runtime to link a test program against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_MSVC_RUNTIME_LIBRARY "")

set(mingw /usr/${addon_arch}-w64-mingw32)
file(GLOB libgcc_dir LIST_DIRECTORIES true /usr/lib/gcc/${addon_arch}-w64-mingw32/*-win32)

# -fgnuc-version and the identity define make mingw-w64's headers accept the
# MSVC target; node's own defaults are no exceptions and no RTTI.
set(CMAKE_CXX_FLAGS_INIT "${addon_flags} -fms-compatibility-version=19.14 -fgnuc-version=4.2.1 \
-D__declspec=__declspec -nostdinc++ -nostdlibinc -isystem /usr/lib/llvm-14/include/c++/v1 \
-isystem /usr/lib/clang/14/include -isystem ${mingw}/include -D_LIBCPP_NO_VCRUNTIME \
-D_LIBCPP_NO_AUTO_LINK -D_LIBCPP_DISABLE_EXTERN_TEMPLATE -D_LIBCPP_DISABLE_VISIBILITY_ANNOTATIONS \
-fno-exceptions -fno-rtti -fno-threadsafe-statics -Wno-unused-command-line-argument")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,/entry:DllMainCRTStartup,${addon_link_flags},\
/libpath:${mingw}/lib,/libpath:${libgcc_dir}")
# mingw-w64's DLL start-up runs the .CRT$XC initialisers.
set(CMAKE_CXX_STANDARD_LIBRARIES "${mingw}/lib/dllcrt2.o -Wl,/defaultlib:libmingw32.a,\
/defaultlib:libmingwex.a,/defaultlib:libmsvcrt.a,/defaultlib:libkernel32.a,/defaultlib:libgcc.a"
    CACHE STRING "")
set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX ${CMAKE_CURRENT_LIST_DIR}/addon-rules.cmake)
