# Native Linux build: the core, its unit tests and the tools.
find_package(Threads REQUIRED)
target_link_libraries(rlcore PUBLIC Threads::Threads)
find_package(GTest REQUIRED)

add_executable(resource_gen host/resource_gen.cpp)
target_link_libraries(resource_gen PRIVATE rlhostabi)

# Synthetic star fields for tests, benchmarks and the demo.
find_package(TIFF REQUIRED)
add_library(rlstarfield STATIC tools/starfield/starfield.cpp tools/starfield/starfield_files.cpp)
target_include_directories(rlstarfield PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(rlstarfield PUBLIC TIFF::TIFF)
add_executable(starfield tools/starfield/starfield_main.cpp)
target_link_libraries(starfield PRIVATE rlstarfield)

add_executable(rl_tests ${RAYLUME_CORE_TEST_SOURCES} tests/starfield_test.cpp tests/gl_rules_test.cpp gl/gl_rules.cpp gl/half_float.cpp
  tests/dialog_layout_test.cpp ui/dialog_layout.cpp tests/zoom_rules_test.cpp ui/zoom_rules.cpp
  tests/options_settings_test.cpp params/options_settings.cpp)
target_link_libraries(rl_tests PRIVATE rlhostcore rlcore rlhostabi rlstarfield GTest::gtest)
add_test(NAME native_core COMMAND rl_tests)

# The plug-in's entry and selector dispatch, linked natively with the host simulator.
add_library(rlplugin STATIC host/plugin_main.cpp host/plugin_state.cpp host/plugin_platform_posix.cpp)
target_link_libraries(rlplugin PUBLIC rlhostcore rlcore rlhostabi)

# The default grayscale ICC profile: built by a small Little CMS program and
# compiled into the core (the Windows build embeds the same bytes as a resource).
add_executable(grayprofile_gen tools/grayprofile_gen.cpp)
target_include_directories(grayprofile_gen SYSTEM PRIVATE ${LCMS2_INCLUDE_DIR})
target_link_libraries(grayprofile_gen PRIVATE ${LCMS2_LIBRARY})
set(RAYLUME_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
add_custom_command(
  OUTPUT ${RAYLUME_GENERATED_DIR}/default_gray_profile.cpp ${RAYLUME_GENERATED_DIR}/grayprofile.icc
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RAYLUME_GENERATED_DIR}
  COMMAND grayprofile_gen --cpp ${RAYLUME_GENERATED_DIR}/default_gray_profile.cpp
          ${RAYLUME_GENERATED_DIR}/grayprofile.icc
  DEPENDS grayprofile_gen
  COMMENT "Generating the default grayscale profile")
target_sources(rlcore PRIVATE ${RAYLUME_GENERATED_DIR}/default_gray_profile.cpp)

# The host simulator: plays an image editor for PluginMain in the same process.
add_library(rlhostsim STATIC ${RAYLUME_HOSTSIM_SOURCES})
target_link_libraries(rlhostsim PUBLIC rlhostabi Threads::Threads)

# PluginMain's selectors driven through the simulator, and the simulator's own checks.
add_executable(rl_host_tests
  tests/test_main.cpp
  tests/host_selectors_test.cpp
  tests/host_profiles_test.cpp
  tests/picture_properties_test.cpp
  tests/host_simulator_test.cpp
  tests/host_image_files_test.cpp
  tests/scripting_test.cpp
)
target_link_libraries(rl_host_tests PRIVATE rlplugin rlhostsim GTest::gtest)
add_test(NAME native_host COMMAND rl_host_tests)

# Every allocation of a whole run made to fail in turn (operator new is
# replaced in this program, so it has one of its own). Under AddressSanitizer
# LeakSanitizer checks that no failure leaks.
add_executable(rl_fault_tests tests/test_main.cpp tests/allocation_failure_test.cpp)
target_link_libraries(rl_fault_tests PRIVATE rlplugin rlhostsim GTest::gtest)
add_test(NAME native_allocation_failures COMMAND rl_fault_tests)

# Benchmarks of the engine (not run by the tests): build/native/rl_bench.
find_package(benchmark REQUIRED)
add_executable(rl_bench tools/bench/engine_bench.cpp)
target_link_libraries(rl_bench PRIVATE rlcore rlstarfield benchmark::benchmark)

# raylume: the filter from the command line, the engine called directly, with
# the field's file libraries: libtiff, libpng and cfitsio.
find_package(PNG REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(CFITSIO REQUIRED IMPORTED_TARGET cfitsio)
add_library(rlraster STATIC ${RAYLUME_RASTER_SOURCES})
target_link_libraries(rlraster PUBLIC rlcore TIFF::TIFF PNG::PNG PkgConfig::CFITSIO)
add_executable(raylume tools/raylume/raylume_main.cpp)
target_link_libraries(raylume PRIVATE rlraster)

# Before/after pictures for the documentation.
add_executable(rl_side_by_side tools/raylume/side_by_side.cpp)
target_link_libraries(rl_side_by_side PRIVATE rlraster)

# The tool's files and engine run, beside the plug-in through the simulator.
add_executable(rl_cli_tests tests/test_main.cpp tests/raster_files_test.cpp tests/cli_plugin_test.cpp
  tests/real_images_test.cpp)
target_link_libraries(rl_cli_tests PRIVATE rlraster rlplugin rlhostsim rlstarfield GTest::gtest)
target_compile_definitions(rl_cli_tests PRIVATE RAYLUME_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_test(NAME native_cli_files COMMAND rl_cli_tests)
# The real photographs, when scripts/test.sh has extracted them (tests/real/extract.sh).
set_tests_properties(native_cli_files PROPERTIES ENVIRONMENT "RAYLUME_REAL_IMAGES=${CMAKE_BINARY_DIR}/real")
add_test(NAME native_cli COMMAND bash ${CMAKE_SOURCE_DIR}/tests/cli_test.sh $<TARGET_FILE:starfield> $<TARGET_FILE:raylume>
  ${CMAKE_BINARY_DIR})

# Fuzz targets (libFuzzer, with -DRAYLUME_FUZZ=ON and clang): scripts/fuzz.sh.
if(RAYLUME_FUZZ)
  add_executable(fuzz_settings tests/fuzz/fuzz_settings.cpp)
  target_link_libraries(fuzz_settings PRIVATE rlcore)
  add_executable(fuzz_descriptor tests/fuzz/fuzz_descriptor.cpp)
  target_link_libraries(fuzz_descriptor PRIVATE rlplugin rlhostsim)
  add_executable(fuzz_images tests/fuzz/fuzz_images.cpp)
  target_link_libraries(fuzz_images PRIVATE rlraster rlhostsim)
  foreach(target fuzz_settings fuzz_descriptor fuzz_images)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()

# The filter as a GIMP 2.10 plug-in (raylume-gimp), built when GIMP's
# development files are there; scripts/install_gimp_plugin.sh puts it into
# the user's plug-in folder. rl_raster_check holds its output against raylume's.
# tests/gimp_test.sh runs them from the plain native build only.
pkg_check_modules(GIMP2 IMPORTED_TARGET gimp-2.0 gimpui-2.0)
if(GIMP2_FOUND AND NOT RAYLUME_FUZZ AND NOT RAYLUME_SANITIZE AND NOT RAYLUME_TSAN)
  add_executable(raylume-gimp tools/gimp/raylume_gimp.cpp tools/gimp/raylume_dialog.cpp
    tools/gimp/drawable_pixels.cpp tools/gimp/plugin_values.cpp)
  target_link_libraries(raylume-gimp PRIVATE rlraster PkgConfig::GIMP2)
  add_executable(rl_raster_check tools/gimp/raster_check.cpp gl/half_float.cpp)
  target_link_libraries(rl_raster_check PRIVATE rlraster)
endif()

# The installed product (plain builds only: no sanitizer or fuzzing builds).
if(NOT RAYLUME_FUZZ AND NOT RAYLUME_SANITIZE AND NOT RAYLUME_TSAN)
  include(cmake/install.cmake)
endif()

# Which layer may include which: a cross-layer include fails the suite.
add_test(NAME native_layering COMMAND bash ${CMAKE_SOURCE_DIR}/tests/layering_test.sh ${CMAKE_SOURCE_DIR})
