# Windows cross build: the .8bf plug-in, the host tools and the Wine tests.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -O coff")
set(RAYLUME_STATIC_LINK -static -static-libgcc -static-libstdc++)

find_path(GLEW_INCLUDE_DIR GL/glew.h REQUIRED)
get_filename_component(GLEW_PREFIX ${GLEW_INCLUDE_DIR} DIRECTORY)
set(GLEW_SOURCE ${GLEW_PREFIX}/share/glew/glew.c)
if(NOT EXISTS ${GLEW_SOURCE})
  message(FATAL_ERROR "${GLEW_SOURCE} is missing: run scripts/bootstrap.sh")
endif()
find_package(GTest REQUIRED)
target_link_libraries(rlcore PUBLIC shell32 ole32 user32)

# The binary resources come from the native generator.
if(NOT RAYLUME_NATIVE_TOOLS)
  message(FATAL_ERROR "RAYLUME_NATIVE_TOOLS must name the native build folder (it holds resource_gen)")
endif()
set(RAYLUME_RESOURCE_DIR ${CMAKE_BINARY_DIR}/resources)
set(RAYLUME_GENERATED_RESOURCES ${RAYLUME_RESOURCE_DIR}/pipl.bin ${RAYLUME_RESOURCE_DIR}/aete.bin
  ${RAYLUME_RESOURCE_DIR}/tool.cur ${RAYLUME_RESOURCE_DIR}/splash.bmp ${RAYLUME_RESOURCE_DIR}/proxy_hand_open.cur ${RAYLUME_RESOURCE_DIR}/proxy_hand_grab.cur ${RAYLUME_RESOURCE_DIR}/proxy_zoom_in.cur ${RAYLUME_RESOURCE_DIR}/proxy_zoom_out.cur ${RAYLUME_RESOURCE_DIR}/proxy_zoom_limit.cur ${RAYLUME_RESOURCE_DIR}/proxy_hide.cur ${RAYLUME_RESOURCE_DIR}/proxy_show.cur)
add_custom_command(
  OUTPUT ${RAYLUME_GENERATED_RESOURCES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RAYLUME_RESOURCE_DIR}
  COMMAND ${RAYLUME_NATIVE_TOOLS}/resource_gen ${RAYLUME_RESOURCE_DIR}
  DEPENDS ${RAYLUME_NATIVE_TOOLS}/resource_gen
  COMMENT "Generating the PIPL, AETE, cursor and splash resources")
add_custom_target(rlresources DEPENDS ${RAYLUME_GENERATED_RESOURCES})

# The default grayscale profile comes from the native build, which generates it.
set(RAYLUME_GRAY_PROFILE ${RAYLUME_NATIVE_TOOLS}/generated/grayprofile.icc)
set_source_files_properties(image/color_resources.rc PROPERTIES OBJECT_DEPENDS ${RAYLUME_GRAY_PROFILE})
set(RAYLUME_RC_INCLUDES ${RAYLUME_NATIVE_TOOLS}/generated)

configure_file(host/version.rc.in ${CMAKE_BINARY_DIR}/version.rc @ONLY)

# The OpenGL layer, with GLEW compiled in so that every rendering context gets
# its own function table (gl/glew_table.h); the table's members come from glew.h.
set(RAYLUME_GL_GENERATED ${CMAKE_BINARY_DIR}/generated_gl)
add_custom_command(
  OUTPUT ${RAYLUME_GL_GENERATED}/glew_context_struct.h
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RAYLUME_GL_GENERATED}
  COMMAND ${CMAKE_COMMAND} -DGLEW_HEADER=${GLEW_INCLUDE_DIR}/GL/glew.h
    -DOUTPUT=${RAYLUME_GL_GENERATED}/glew_context_struct.h -P ${CMAKE_SOURCE_DIR}/cmake/glew_table.cmake
  DEPENDS ${GLEW_INCLUDE_DIR}/GL/glew.h ${CMAKE_SOURCE_DIR}/cmake/glew_table.cmake
  COMMENT "Generating the per-context GLEW table")
add_library(rlgl STATIC
  ${GLEW_SOURCE}
  ${RAYLUME_GL_GENERATED}/glew_context_struct.h
  gl/gl_rules.cpp
  gl/gl_check.cpp
  gl/gl_context.cpp
  gl/screen_bitmap.cpp
  gl/drawing_settings.cpp
  gl/shader_programs.cpp
  gl/texture_sets.cpp
  gl/buffer_objects.cpp
  gl/half_float.cpp
  gl/glew_version.cpp
)
target_compile_definitions(rlgl PUBLIC GLEW_STATIC GLEW_NO_GLU)
set_source_files_properties(${GLEW_SOURCE} PROPERTIES
  COMPILE_DEFINITIONS "GLEW_INCLUDE=\"gl/glew_table.h\""
  COMPILE_OPTIONS "-w")
target_include_directories(rlgl SYSTEM PUBLIC ${GLEW_INCLUDE_DIR})
target_include_directories(rlgl PUBLIC ${CMAKE_SOURCE_DIR} ${RAYLUME_GL_GENERATED})
target_link_libraries(rlgl PUBLIC rlhostcore rlcore opengl32 gdi32 user32 advapi32)

add_library(RaylumePro2 SHARED
  host/plugin_main.cpp
  host/plugin_state.cpp
  host/plugin_platform_win32.cpp
  host/resources.rc
  image/color_resources.rc
)
add_dependencies(RaylumePro2 rlresources)
set_target_properties(RaylumePro2 PROPERTIES PREFIX "" SUFFIX ".8bf" OUTPUT_NAME RaylumePro2)
# The .rc includes the dialog's resource scripts; CMake does not see those includes.
set(RAYLUME_UI_RESOURCE_SCRIPTS ${CMAKE_SOURCE_DIR}/ui/main_dialog.rc ${CMAKE_SOURCE_DIR}/ui/preview_window.rc
  ${CMAKE_SOURCE_DIR}/ui/periphery_dialogs.rc ${CMAKE_SOURCE_DIR}/ui/dialog_ids.h)
set_source_files_properties(host/resources.rc PROPERTIES
  OBJECT_DEPENDS "${RAYLUME_GENERATED_RESOURCES};${CMAKE_BINARY_DIR}/version.rc;${RAYLUME_UI_RESOURCE_SCRIPTS}")
target_include_directories(RaylumePro2 PRIVATE ${RAYLUME_RESOURCE_DIR} ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/host ${CMAKE_SOURCE_DIR}
  ${RAYLUME_RC_INCLUDES})
target_link_libraries(RaylumePro2 PRIVATE rlui rlpreview rlhostcore rlgl rlcore rlhostabi opengl32 gdi32 comctl32 comdlg32 ole32
  shell32 user32 ${RAYLUME_STATIC_LINK})
target_link_options(RaylumePro2 PRIVATE -Wl,--kill-at)

# The host simulator, the same portable library as in the native build.
add_library(rlhostsim STATIC ${RAYLUME_HOSTSIM_SOURCES} tools/hostsim/dialog_driver_win32.cpp)
target_link_libraries(rlhostsim PUBLIC rlhostabi)

# rlhost: a console host that loads the real plug-in like an image editor does.
add_executable(rlhost tools/rlhost/rlhost.cpp ${CMAKE_BINARY_DIR}/version.rc)
target_link_libraries(rlhost PRIVATE rlhostsim rlhostabi rlraster ${RAYLUME_STATIC_LINK})
target_include_directories(rlhost PRIVATE ${CMAKE_SOURCE_DIR})

# rlshortcut: starts what a .lnk names and closes the dialog it opens (the
# installer test runs the start-menu shortcut with it).
add_executable(rlshortcut tools/rlshortcut/rlshortcut.cpp ${CMAKE_BINARY_DIR}/version.rc)
target_link_libraries(rlshortcut PRIVATE rlhostsim ole32 uuid shell32 ${RAYLUME_STATIC_LINK})
target_include_directories(rlshortcut PRIVATE ${CMAKE_SOURCE_DIR})

# Star fields for the tests (the file writers need libtiff and stay native).
add_library(rlstarfield STATIC tools/starfield/starfield.cpp)
target_include_directories(rlstarfield PUBLIC ${CMAKE_SOURCE_DIR})

# The portable core's unit tests, run again on the Win32 layer under Wine.
add_executable(rl_win_tests ${RAYLUME_CORE_TEST_SOURCES} ${CMAKE_BINARY_DIR}/version.rc image/color_resources.rc)
target_include_directories(rl_win_tests PRIVATE ${RAYLUME_RC_INCLUDES})
target_link_libraries(rl_win_tests PRIVATE rlhostcore rlcore rlhostabi rlstarfield GTest::gtest ${RAYLUME_STATIC_LINK})

# Tests of the real .8bf, loaded with LoadLibrary.
add_executable(rl_plugin_tests tests/win/plugin_load_test.cpp ${CMAKE_BINARY_DIR}/version.rc)
target_link_libraries(rl_plugin_tests PRIVATE rlhostabi GTest::gtest ${RAYLUME_STATIC_LINK})
target_include_directories(rl_plugin_tests PRIVATE ${CMAKE_SOURCE_DIR})
add_dependencies(rl_plugin_tests RaylumePro2)

# The real .8bf's resources and selectors through the simulator, and rlhost as a process.
add_executable(rl_win_host_tests
  tests/win/host_test_main.cpp
  tests/win/plugin_resources_test.cpp
  tests/win/plugin_host_test.cpp
  tests/win/rlhost_scenarios_test.cpp
  tests/win/rlhost_profiles_test.cpp
  ${CMAKE_BINARY_DIR}/version.rc
)
target_link_libraries(rl_win_host_tests PRIVATE rlhostsim rlhostabi rlstarfield GTest::gtest shell32 ${RAYLUME_STATIC_LINK})
target_include_directories(rl_win_host_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(rl_win_host_tests PRIVATE RAYLUME_PROJECT_VERSION="${PROJECT_VERSION}")
add_dependencies(rl_win_host_tests RaylumePro2 rlhost)

# The simulator's own tests on Windows.
add_executable(rl_win_hostsim_tests
  tests/test_main.cpp
  tests/host_simulator_test.cpp
  tests/host_image_files_test.cpp
  ${CMAKE_BINARY_DIR}/version.rc
)
target_link_libraries(rl_win_hostsim_tests PRIVATE rlcore rlhostsim GTest::gtest ${RAYLUME_STATIC_LINK})

# The settings list bound to a real combo box in a bare dialog (needs the display).
add_executable(rl_win_ui_tests tests/test_main.cpp tests/win/settings_dialog_test.cpp ui/settings_menu_win32.cpp
  ${CMAKE_BINARY_DIR}/version.rc)
target_link_libraries(rl_win_ui_tests PRIVATE rlcore rlhostabi GTest::gtest comctl32 comdlg32 ${RAYLUME_STATIC_LINK})
add_test(NAME wine_ui COMMAND rl_win_ui_tests)
set_tests_properties(wine_ui PROPERTIES TIMEOUT 300)

set(RAYLUME_WINE_TIMEOUT 300)
add_test(NAME wine_core COMMAND rl_win_tests)
add_test(NAME wine_plugin COMMAND rl_plugin_tests $<TARGET_FILE:RaylumePro2>)
add_test(NAME wine_rlhost_info COMMAND rlhost $<TARGET_FILE:RaylumePro2> info)
add_test(NAME plugin_imports_only_system_dlls
  COMMAND ${CMAKE_COMMAND} -DDLL=$<TARGET_FILE:RaylumePro2> -P ${CMAKE_SOURCE_DIR}/cmake/check_imports.cmake)
set_tests_properties(plugin_imports_only_system_dlls PROPERTIES CROSSCOMPILING_EMULATOR "")
add_test(NAME wine_host COMMAND rl_win_host_tests $<TARGET_FILE:RaylumePro2> $<TARGET_FILE:rlhost>
  --gtest_filter=-Public/ConsoleHostProfiles.*)
# Whole runs under each public host engine's profile, one test per host.
foreach(profile pspihost gimp-pspi psfilterhost psfilterpdn)
  string(REPLACE "-" "_" suffix ${profile})
  add_test(NAME wine_host_profile_${suffix} COMMAND rl_win_host_tests $<TARGET_FILE:RaylumePro2> $<TARGET_FILE:rlhost>
    --gtest_filter=Public/ConsoleHostProfiles.*/${suffix})
  set_tests_properties(wine_host_profile_${suffix} PROPERTIES TIMEOUT 600)
endforeach()
add_test(NAME wine_hostsim COMMAND rl_win_hostsim_tests)
add_test(NAME wine_rlhost_run COMMAND rlhost $<TARGET_FILE:RaylumePro2> run --size 200x150 --mask)
add_test(NAME wine_rlhost_run_older_host
  COMMAND rlhost $<TARGET_FILE:RaylumePro2> run --no-dialog --repeat 2 --short-record --descriptor-version 2 --mode 10)
add_test(NAME wine_rlhost_about COMMAND rlhost $<TARGET_FILE:RaylumePro2> about)
set_tests_properties(wine_core wine_plugin wine_rlhost_info wine_host wine_hostsim wine_rlhost_run
  wine_rlhost_run_older_host wine_rlhost_about PROPERTIES TIMEOUT ${RAYLUME_WINE_TIMEOUT})

# raylume.exe: the command-line tool, with libtiff, libpng, cfitsio and zlib
# built for mingw from Debian's sources by the bootstrap script.
find_library(TIFF_STATIC_LIBRARY NAMES tiff REQUIRED)
find_library(PNG_STATIC_LIBRARY NAMES png16 REQUIRED)
find_library(CFITSIO_STATIC_LIBRARY NAMES cfitsio REQUIRED)
find_library(Z_STATIC_LIBRARY NAMES z REQUIRED)
find_path(FILE_LIBRARIES_INCLUDE_DIR fitsio.h REQUIRED)
add_library(rlraster STATIC ${RAYLUME_RASTER_SOURCES})
target_include_directories(rlraster SYSTEM PUBLIC ${FILE_LIBRARIES_INCLUDE_DIR})
target_link_libraries(rlraster PUBLIC rlcore ${TIFF_STATIC_LIBRARY} ${PNG_STATIC_LIBRARY} ${CFITSIO_STATIC_LIBRARY}
  ${Z_STATIC_LIBRARY} ws2_32)
add_executable(raylume tools/raylume/raylume_main.cpp ${CMAKE_BINARY_DIR}/version.rc image/color_resources.rc)
target_include_directories(raylume PRIVATE ${RAYLUME_RC_INCLUDES})
target_link_libraries(raylume PRIVATE rlraster ${RAYLUME_STATIC_LINK})
add_test(NAME wine_raylume COMMAND ${CMAKE_COMMAND} -DRAYLUME=$<TARGET_FILE:raylume>
  -DSTARFIELD=${RAYLUME_NATIVE_TOOLS}/starfield -DNATIVE_RAYLUME=${RAYLUME_NATIVE_TOOLS}/raylume
  -DWORK=${CMAKE_BINARY_DIR}/raylume-test -P ${CMAKE_SOURCE_DIR}/tests/win/raylume_wine_test.cmake)
set_tests_properties(wine_raylume PROPERTIES TIMEOUT ${RAYLUME_WINE_TIMEOUT} CROSSCOMPILING_EMULATOR "")

# The OpenGL layer on real contexts: window contexts on the virtual display,
# bitmap contexts, the software path, shaders, texture sets.
add_executable(rl_win_gl_tests tests/test_main.cpp tests/win/gl_context_test.cpp
  tests/win/gl_shader_test.cpp tests/win/gl_texture_set_test.cpp ${CMAKE_BINARY_DIR}/version.rc)
target_link_libraries(rl_win_gl_tests PRIVATE rlgl rlcore GTest::gtest ${RAYLUME_STATIC_LINK})
add_test(NAME wine_gl COMMAND rl_win_gl_tests)
set_tests_properties(wine_gl PROPERTIES TIMEOUT ${RAYLUME_WINE_TIMEOUT})

# The preview: the background task, the OpenGL effect shapes, the scaled
# display, and a headless harness that drives them for tests and tools.
add_library(rlpreview STATIC
  preview/preview_renderer.cpp
  preview/background_task.cpp
  preview/gl_shapes.cpp
  preview/proxy_display.cpp
  preview/preview_harness.cpp
)
target_link_libraries(rlpreview PUBLIC rlgl rlhostcore rlcore)
add_executable(rl_win_preview_tests tests/test_main.cpp tests/win/background_task_test.cpp tests/win/preview_test.cpp
  ${CMAKE_BINARY_DIR}/version.rc image/color_resources.rc)
target_include_directories(rl_win_preview_tests PRIVATE ${RAYLUME_RC_INCLUDES})
target_link_libraries(rl_win_preview_tests PRIVATE rlpreview rlstarfield GTest::gtest ${RAYLUME_STATIC_LINK})
add_test(NAME wine_preview COMMAND rl_win_preview_tests)
set_tests_properties(wine_preview PROPERTIES TIMEOUT ${RAYLUME_WINE_TIMEOUT})

# The preview beside the final render for the documentation, and the preview benchmark.
add_executable(rl_preview_tool tools/previewtool/preview_tool.cpp ${CMAKE_BINARY_DIR}/version.rc image/color_resources.rc)
target_include_directories(rl_preview_tool PRIVATE ${RAYLUME_RC_INCLUDES})
target_link_libraries(rl_preview_tool PRIVATE rlpreview rlraster rlstarfield ${RAYLUME_STATIC_LINK})

# The main dialog and its preview window.
add_library(rlui STATIC
  ui/main_dialog.cpp
  ui/accelerators.cpp
  ui/dialog_layout.cpp
  ui/proxy_window.cpp
  ui/zoom_rules.cpp
  ui/settings_menu_win32.cpp
  ui/help_viewer.cpp
  ui/options_dialog.cpp
  ui/about_box.cpp
  ui/light_source_table_dialog.cpp
  params/options_settings.cpp
)
target_include_directories(rlui PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(rlui PUBLIC rlpreview rlhostcore rlgl rlcore rlhostabi comctl32 comdlg32 gdi32 user32 shell32
  advapi32)

# The dialog and the preview window on the virtual display, with the plug-in's
# own resources compiled in.
add_executable(rl_win_dialog_tests tests/test_main.cpp tests/win/main_dialog_test.cpp tests/win/proxy_window_test.cpp
  tests/win/help_viewer_test.cpp
  tests/win/periphery_dialogs_test.cpp
  tests/win/dialog_test_resources.rc ${CMAKE_BINARY_DIR}/version.rc image/color_resources.rc)
add_dependencies(rl_win_dialog_tests rlresources)
set_source_files_properties(tests/win/dialog_test_resources.rc PROPERTIES
  OBJECT_DEPENDS "${RAYLUME_GENERATED_RESOURCES};${RAYLUME_UI_RESOURCE_SCRIPTS}")
target_include_directories(rl_win_dialog_tests PRIVATE ${RAYLUME_RESOURCE_DIR} ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/host
  ${CMAKE_SOURCE_DIR} ${RAYLUME_RC_INCLUDES})
target_link_libraries(rl_win_dialog_tests PRIVATE rlui rlstarfield GTest::gtest shell32 ole32 ${RAYLUME_STATIC_LINK})
add_test(NAME wine_dialog COMMAND rl_win_dialog_tests)
set_tests_properties(wine_dialog PROPERTIES TIMEOUT ${RAYLUME_WINE_TIMEOUT})

# The installer (scripts/build_installer.sh) in a fresh Wine prefix of its own:
# silent install, host folders, the OpenGL settings entry, the Options shortcut,
# upgrade and uninstall. It builds the installer first when it is missing or
# older than the plug-in, and is skipped where makensis is not installed.
add_test(NAME wine_installer COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win/installer_test.sh
  ${CMAKE_BINARY_DIR} $<TARGET_FILE:rlshortcut>)
set_tests_properties(wine_installer PROPERTIES TIMEOUT 420 CROSSCOMPILING_EMULATOR "" SKIP_RETURN_CODE 77)
