# The addon: a Windows x64 DLL with the MSVC C++ ABI, so that it can link to
# node.exe's V8 exports. clang compiles against libc++'s headers (header-only)
# and mingw-w64's C and Win32 headers; lld-link links against mingw-w64's
# C runtime (msvcrt.dll).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET x86_64-pc-windows-msvc)
# There is no MSVC runtime to link a test program against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_MSVC_RUNTIME_LIBRARY "")

set(mingw /usr/x86_64-w64-mingw32)
file(GLOB libgcc_dir LIST_DIRECTORIES true /usr/lib/gcc/x86_64-w64-mingw32/*-win32)

# -fgnuc-version and the identity define make mingw-w64's headers accept the
# MSVC target; node's own defaults are no exceptions and no RTTI.
set(CMAKE_CXX_FLAGS_INIT "-fms-compatibility-version=19.14 -fgnuc-version=4.2.1 \
-D__declspec=__declspec -nostdinc++ -nostdlibinc -isystem /usr/lib/llvm-14/include/c++/v1 \
-isystem /usr/lib/clang/14/include -isystem ${mingw}/include -D_LIBCPP_NO_VCRUNTIME \
-D_LIBCPP_NO_AUTO_LINK -D_LIBCPP_DISABLE_EXTERN_TEMPLATE -D_LIBCPP_DISABLE_VISIBILITY_ANNOTATIONS \
-fno-exceptions -fno-rtti -fno-threadsafe-statics -Wno-unused-command-line-argument")
# libgcc's ___chkstk_ms probes the stack exactly as MSVC's x64 __chkstk does
# (rax preserved, rsp untouched), so it stands in for it.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,/entry:DllMainCRTStartup,/lldmingw,\
/alternatename:__image_base__=__ImageBase,/alternatename:__chkstk=___chkstk_ms,\
/libpath:${mingw}/lib,/libpath:${libgcc_dir}")
# mingw-w64's DLL start-up runs the .CRT$XCU initialisers.
set(CMAKE_CXX_STANDARD_LIBRARIES "${mingw}/lib/dllcrt2.o -Wl,/defaultlib:mingw32,\
/defaultlib:mingwex,/defaultlib:msvcrt,/defaultlib:kernel32,/defaultlib:gcc" CACHE STRING "")
# The clang driver hands a plain library name to lld-link as a file; as a
# default library lld-link also finds mingw-w64's libNAME.a for it.
set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX ${CMAKE_CURRENT_LIST_DIR}/addon-x64-rules.cmake)
