# The Windows release: `cpack` in the cross build makes a zip of veksieve.exe
# (statically linked, no DLLs beside it), the README, the LICENSE and the
# bundled example, laid out for a user who unzips it and runs it.
install(TARGETS veksieve RUNTIME DESTINATION .)
install(FILES README.md DESTINATION .)
install(FILES LICENSE DESTINATION .)
install(FILES examples/Vek.dat examples/start-status.dat DESTINATION example)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME veksieve)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
