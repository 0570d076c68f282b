# The Linux product: `cmake --install` and a Debian package (CPack) of the
# command-line tool, its presets, manual page and bash completion, and the
# GIMP plug-in in GIMP's own plug-in folder. Test programs are not installed.
include(GNUInstallDirs)

set(RAYLUME_DATA_SUBDIR ${CMAKE_INSTALL_DATADIR}/raylume)
target_compile_definitions(raylume PRIVATE RAYLUME_INSTALLED_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/raylume")

install(TARGETS raylume RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
file(GLOB RAYLUME_PRESET_FILES ${CMAKE_SOURCE_DIR}/presets/*.rlp)
install(FILES ${RAYLUME_PRESET_FILES} DESTINATION ${RAYLUME_DATA_SUBDIR}/presets)
install(FILES ${CMAKE_SOURCE_DIR}/tools/raylume/raylume.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME raylume)

# The manual page, made from the tool's own --help by help2man so that the two never differ.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/raylume.1.gz
    COMMAND ${HELP2MAN} --no-info --section 1 --source "Corvane Software"
            --name "paint diffraction spikes and flares around the stars of a photograph"
            --include ${CMAKE_SOURCE_DIR}/tools/raylume/raylume.h2m
            --output ${CMAKE_BINARY_DIR}/raylume.1 $<TARGET_FILE:raylume>
    COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/raylume.1
    DEPENDS raylume ${CMAKE_SOURCE_DIR}/tools/raylume/raylume.h2m
    COMMENT "The manual page raylume.1")
  add_custom_target(raylume_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/raylume.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/raylume.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man is missing: no manual page (scripts/bootstrap.sh installs it)")
endif()

# GIMP looks for system plug-ins in gimplibdir/plug-ins, each in a folder of its own.
if(TARGET raylume-gimp)
  pkg_get_variable(GIMP2_LIBDIR gimp-2.0 gimplibdir)
  pkg_get_variable(GIMP2_PREFIX gimp-2.0 prefix)
  file(RELATIVE_PATH GIMP2_LIBDIR_RELATIVE "${GIMP2_PREFIX}" "${GIMP2_LIBDIR}")
  target_compile_definitions(raylume-gimp PRIVATE RAYLUME_INSTALLED_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/raylume")
  install(TARGETS raylume-gimp RUNTIME DESTINATION ${GIMP2_LIBDIR_RELATIVE}/plug-ins/raylume-gimp)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME raylume)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Corvane Software <support@corvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "diffraction spikes and flares for the stars of astronomical photographs")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Raylume finds the stars of a photograph and paints photo-realistic\n\
diffraction spikes, star colour, rainbow, secondary spikes, soft flare and ring\n\
flare around each. This package holds the command-line tool raylume (TIFF, PNG,\n\
FITS, PGM/PPM and PFM files) and the plug-in for GIMP 2.10.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
