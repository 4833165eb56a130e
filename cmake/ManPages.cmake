# The manual pages, installed compressed as Debian does (gzip -9n: no name or
# time stamp, so the same page gives the same bytes); man reads them so from
# any prefix.
find_program(GZIP_PROGRAM gzip REQUIRED)

# Compresses SOURCE into the build tree as OUTPUT (which ends in .gz) and
# adds it to `target`.
function(zuv_gzip target source output)
  string(REGEX REPLACE "\\.gz$" "" plain ${output})
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND ${GZIP_PROGRAM} -9nf ${plain}
    DEPENDS ${source}
    VERBATIM)
  set_property(TARGET ${target} APPEND PROPERTY SOURCES ${output})
endfunction()

add_custom_target(zuv_man_pages ALL)
foreach(page zuvexport zuvsample zuvwatch)
  set(compressed ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
  zuv_gzip(zuv_man_pages ${PROJECT_SOURCE_DIR}/docs/${page}.1 ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
