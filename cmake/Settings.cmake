# One place for the language level, warnings and sanitizers; every target links it.
add_library(zuv_settings INTERFACE)
target_compile_features(zuv_settings INTERFACE cxx_std_20)
target_compile_options(zuv_settings INTERFACE -Wall -Wextra -Wno-unused-parameter)
if(ZUVEXPORT_WERROR)
  target_compile_options(zuv_settings INTERFACE -Werror)
endif()
if(ZUVEXPORT_SANITIZE)
  target_compile_options(zuv_settings INTERFACE -fsanitize=${ZUVEXPORT_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(zuv_settings INTERFACE -fsanitize=${ZUVEXPORT_SANITIZE})
endif()

# The version header of the three programs (`--version`).
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.hpp.in
               ${PROJECT_BINARY_DIR}/generated/zuvexport_version.hpp @ONLY)
add_library(zuv_version INTERFACE)
target_include_directories(zuv_version INTERFACE ${PROJECT_BINARY_DIR}/generated)

# Debian's hardening in optimised builds: libc calls checked against the
# buffer sizes the compiler knows, and the GOT read-only once loaded.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  target_compile_options(zuv_settings INTERFACE
                         $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2>)
  target_link_options(zuv_settings INTERFACE $<$<NOT:$<CONFIG:Debug>>:LINKER:-z,relro,-z,now>)
endif()
