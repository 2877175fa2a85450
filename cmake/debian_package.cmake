# Installation on Linux and the Debian packages made from it by
# `cpack -G DEB`: veksieve, and veksieve-mpi when it was built. Each package
# carries what Debian asks of one: its documents under share/doc/PACKAGE with
# a machine-readable copyright file and a gzipped Debian changelog, gzipped
# man pages, stripped binaries, a maintainer with an address.
include(GNUInstallDirs)

set(VEKSIEVE_PACKAGE_MAINTAINER "The veksieve developers <veksieve@example.org>" CACHE STRING
    "Maintainer of the Debian packages: a name and an e-mail address")

set(debian_dir ${PROJECT_BINARY_DIR}/debian)
find_program(GZIP_PROGRAM gzip REQUIRED)

# Debian wants documentation compressed with gzip at its highest level and
# without a time stamp, so that the same source gives the same package. The
# file is made with the program it comes with, so that building just that
# program is enough to install it.
function(install_gzipped source destination component program)
  get_filename_component(name ${source} NAME)
  string(MAKE_C_IDENTIFIER "${component}_${destination}_${name}" stem)
  set(copy ${debian_dir}/${stem}/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND ${GZIP_PROGRAM} -9nf ${copy}
    DEPENDS ${source}
    VERBATIM)
  add_custom_target(${stem} DEPENDS ${copy}.gz)
  add_dependencies(${program} ${stem})
  install(FILES ${copy}.gz DESTINATION ${destination} COMPONENT ${component})
endfunction()

# The copyright file in Debian's machine-readable format, made from LICENSE.
# Debian names the MIT licence of LICENSE's wording "Expat".
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
if(NOT license_text MATCHES "Copyright \\(c\\) ([^\n]+)\n+(Permission.*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE: no copyright line followed by the licence's terms")
endif()
set(copyright_holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "\n\n" "\n.\n" license_terms "${CMAKE_MATCH_2}")
string(REGEX REPLACE "\n" "\n " license_terms "${license_terms}")
file(WRITE ${debian_dir}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: veksieve

Files: *
Copyright: ${copyright_holder}
License: Expat
 ${license_terms}
")

# A native package's changelog is usr/share/doc/PACKAGE/changelog.gz in
# Debian's own format; it points at CHANGELOG.md, which lists the changes.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${debian_dir}/changelog
"veksieve (${PROJECT_VERSION}) unstable; urgency=medium

  * Version ${PROJECT_VERSION}; CHANGELOG.md, beside veksieve's README, lists
    the changes.

 -- ${VEKSIEVE_PACKAGE_MAINTAINER}  ${changelog_date}
")

set(main_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/veksieve)
install(TARGETS veksieve RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT veksieve)
install_gzipped(${PROJECT_SOURCE_DIR}/doc/veksieve.1 ${CMAKE_INSTALL_MANDIR}/man1 veksieve veksieve)
install(FILES README.md LICENSE CHANGELOG.md ${debian_dir}/copyright DESTINATION ${main_docdir} COMPONENT veksieve)
install_gzipped(${debian_dir}/changelog ${main_docdir} veksieve veksieve)

set(CPACK_PACKAGE_NAME veksieve)
set(CPACK_PACKAGE_VENDOR "The Vek team")
set(CPACK_PACKAGE_CONTACT "${VEKSIEVE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SOURCE veksieve)
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()

# veksieve's name and description are also the whole package's, which is
# all there is when veksieve-mpi was not built.
set(CPACK_DEBIAN_VEKSIEVE_PACKAGE_NAME veksieve)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"sieve of the candidates k*2^n+1 for the Vek prime search
veksieve reads a list of candidates k*2^n+1 and, for every prime p of a
range, finds the exponents n at which p divides k*2^n+1, so that those
candidates need no primality test. Each factor is verified independently and
saved in a status file; the run checkpoints and resumes where it stopped.")

if(TARGET veksieve-mpi)
  set(mpi_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/veksieve-mpi)
  install(TARGETS veksieve-mpi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT mpi)
  install_gzipped(${PROJECT_SOURCE_DIR}/doc/veksieve-mpi.1 ${CMAKE_INSTALL_MANDIR}/man1 mpi veksieve-mpi)
  install(FILES doc/CLUSTER.md ${debian_dir}/copyright DESTINATION ${mpi_docdir} COMPONENT mpi)
  install_gzipped(${debian_dir}/changelog ${mpi_docdir} mpi veksieve-mpi)

  # Its options and files are veksieve's, documented in that package, and a
  # range started by one resumes with the other. dpkg-shlibdeps names the
  # MPI library; mpirun comes from the implementation's own programs.
  set(CPACK_COMPONENT_MPI_DEPENDS veksieve)
  set(CPACK_DEBIAN_MPI_PACKAGE_NAME veksieve-mpi)
  if(VEKSIEVE_MPI_LIBRARIES MATCHES "openmpi")
    set(mpi_programs openmpi-bin)
    set(mpi_library libopenmpi3)
  elseif(VEKSIEVE_MPI_LIBRARIES MATCHES "mpich")
    set(mpi_programs mpich)
    set(mpi_library libmpich12)
  endif()
  if(DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_MPI_PACKAGE_DEPENDS "${mpi_programs}")
  else()
    string(JOIN ", " CPACK_DEBIAN_MPI_PACKAGE_DEPENDS ${mpi_programs} ${mpi_library} ${CPACK_DEBIAN_PACKAGE_DEPENDS})
  endif()
  set(CPACK_DEBIAN_MPI_DESCRIPTION
"sieve of the candidates k*2^n+1 across the machines of an MPI job
veksieve-mpi sieves one range of veksieve with the processes of an MPI job,
on one machine or many. The first process reads the candidates, keeps the
status file and prints what veksieve prints; the others sieve the chunks of
primes it hands out. Status files move freely between veksieve-mpi and
veksieve.")
endif()

include(CPack)
