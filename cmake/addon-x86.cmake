# The x86 addon, Node-API only. Without /lldmingw, which would decorate a
# dllexport twice (__napi_register_module_v1), mingw-w64's C runtime objects
# have no safe exception handler table. MSVC's x86 _chkstk moves the stack
# pointer as it probes, as libgcc's __chkstk (its alloca) does.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(addon_arch i686)
set(addon_flags "-D_X86_=1 -msse2")
set(addon_link_flags "/safeseh:no,/alternatename:__image_base__=___ImageBase,\
/alternatename:__chkstk=___chkstk")
include(${CMAKE_CURRENT_LIST_DIR}/addon.cmake)
