// Included before every source of the Linux addon (src/CMakeLists.txt), so
// that the binary loads on glibc 2.17 and later. glibc 2.34 moved libdl's and
// libpthread's functions into libc under a new version and kept each old
// version beside it; a build links the newest unless told otherwise, and a
// glibc older than that version refuses the whole binary at load. Each line
// binds one function to the version that glibc 2.17 already had. A function
// whose only version is newer (stat and fstat since 2.33, getrandom) cannot
// be listed: call an older one instead. The package test names every
// function bound above 2.17.
__asm__(".symver dlopen,dlopen@GLIBC_2.2.5");                   // 2.34: moved from libdl
__asm__(".symver dlsym,dlsym@GLIBC_2.2.5");                     // 2.34: moved from libdl
__asm__(".symver dlclose,dlclose@GLIBC_2.2.5");                 // 2.34: moved from libdl
__asm__(".symver dlerror,dlerror@GLIBC_2.2.5");                 // 2.34: moved from libdl
__asm__(".symver pthread_create,pthread_create@GLIBC_2.2.5");   // 2.34: moved from libpthread
__asm__(".symver pthread_join,pthread_join@GLIBC_2.2.5");       // 2.34: moved from libpthread
__asm__(".symver pthread_detach,pthread_detach@GLIBC_2.2.5");   // 2.34: moved from libpthread
__asm__(".symver pthread_sigmask,pthread_sigmask@GLIBC_2.2.5"); // 2.32: a new version in libc
