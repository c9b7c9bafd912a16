# The x64 addon. libgcc's ___chkstk_ms probes the stack exactly as MSVC's x64
# __chkstk does (rax preserved, rsp untouched), so it stands in for it.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(addon_arch x86_64)
set(addon_flags "")
set(addon_link_flags "/lldmingw,/alternatename:__image_base__=__ImageBase,\
/alternatename:__chkstk=___chkstk_ms")
include(${CMAKE_CURRENT_LIST_DIR}/addon.cmake)
