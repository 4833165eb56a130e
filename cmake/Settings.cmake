# One place for the language level, warnings and sanitizers; every target links it.
add_library(zuv_settings INTERFACE)
target_compile_features(zuv_settings INTERFACE cxx_std_20)
target_compile_options(zuv_settings INTERFACE -Wall -Wextra -Wno-unused-parameter)
if(ZUVEXPORT_SANITIZE)
  target_compile_options(zuv_settings INTERFACE -fsanitize=${ZUVEXPORT_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(zuv_settings INTERFACE -fsanitize=${ZUVEXPORT_SANITIZE})
endif()
