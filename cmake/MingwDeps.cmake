# The libraries of the Windows build, as scripts/windows-deps.sh leaves them in
# ZUVEXPORT_MINGW_DEPS, under the target names the Linux build finds them by.
set(ZUVEXPORT_MINGW_DEPS "$ENV{ZUVEXPORT_MINGW_DEPS}" CACHE PATH
    "The folder scripts/windows-deps.sh built the Windows libraries into")
if(NOT EXISTS "${ZUVEXPORT_MINGW_DEPS}/stamp")
  message(FATAL_ERROR "No Windows libraries in '${ZUVEXPORT_MINGW_DEPS}': run scripts/windows-deps.sh "
                      "and pass -DZUVEXPORT_MINGW_DEPS=its folder")
endif()
set(deps ${ZUVEXPORT_MINGW_DEPS})

find_package(Threads REQUIRED)

add_library(Boost::boost INTERFACE IMPORTED)
# Only a folder holding the `boost` link: the whole system include folder
# would come before mingw's own C headers.
target_include_directories(Boost::boost SYSTEM INTERFACE ${deps}/boost-include)
target_compile_definitions(Boost::boost INTERFACE BOOST_BIND_GLOBAL_PLACEHOLDERS)
add_library(Boost::program_options STATIC IMPORTED)
set_target_properties(Boost::program_options PROPERTIES
  IMPORTED_LOCATION ${deps}/lib/libboost_program_options.a
  INTERFACE_COMPILE_DEFINITIONS BOOST_PROGRAM_OPTIONS_STATIC_LINK
  INTERFACE_LINK_LIBRARIES Boost::boost)

add_library(fmt::fmt INTERFACE IMPORTED)
target_include_directories(fmt::fmt SYSTEM INTERFACE ${deps}/fmt-include)
target_compile_definitions(fmt::fmt INTERFACE FMT_HEADER_ONLY)

add_library(PkgConfig::ODBC INTERFACE IMPORTED)
target_link_libraries(PkgConfig::ODBC INTERFACE odbc32)

add_library(PkgConfig::SQLITE3 STATIC IMPORTED)
set_target_properties(PkgConfig::SQLITE3 PROPERTIES
  IMPORTED_LOCATION ${deps}/lib/libsqlite3.a
  INTERFACE_INCLUDE_DIRECTORIES ${deps}/include)

foreach(gtest_lib gtest gtest_main gmock gmock_main)
  add_library(GTest::${gtest_lib} STATIC IMPORTED)
  set_target_properties(GTest::${gtest_lib} PROPERTIES
    IMPORTED_LOCATION ${deps}/lib/lib${gtest_lib}.a
    INTERFACE_INCLUDE_DIRECTORIES ${deps}/include
    INTERFACE_LINK_LIBRARIES Threads::Threads)
endforeach()
set(GTest_FOUND TRUE)

# GCC 12 at -O2 warns of overlapping copies inside std::string::replace that
# cannot happen (GCC bug 105329); the Linux Debug builds do not reach it.
target_compile_options(zuv_settings INTERFACE -Wno-restrict)
