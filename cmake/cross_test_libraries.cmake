# The test libraries of a cross build (the Windows build with MinGW-w64),
# which has none installed for its target: GoogleTest built from the sources
# of Debian's googletest package with the same compiler, and in place of
# primesieve a plain reference sieve with the part of its interface the
# tests use (tests/windows/reference_sieve). Sets what the search for the
# installed libraries would set.
set(VEKSIEVE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(EXISTS ${VEKSIEVE_GTEST_SOURCE}/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VEKSIEVE_GTEST_SOURCE} googletest EXCLUDE_FROM_ALL)
  set(GTest_FOUND TRUE)
endif()

add_library(reference_sieve INTERFACE)
target_include_directories(reference_sieve INTERFACE ${PROJECT_SOURCE_DIR}/tests/windows/reference_sieve)
set(PRIMESIEVE_INCLUDE_DIR ${PROJECT_SOURCE_DIR}/tests/windows/reference_sieve)
set(PRIMESIEVE_LIBRARY reference_sieve)
