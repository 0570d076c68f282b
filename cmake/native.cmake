# Native Linux build: the core, its unit tests and the tools.
find_package(Threads REQUIRED)
target_link_libraries(rlcore PUBLIC Threads::Threads)
find_package(GTest REQUIRED)

add_executable(resource_gen host/resource_gen.cpp)
target_link_libraries(resource_gen PRIVATE rlhostabi)

add_executable(rl_tests
  tests/test_main.cpp
  tests/os_test.cpp
  tests/debug_log_test.cpp
  tests/user_folders_test.cpp
  tests/params_test.cpp
  tests/resources_test.cpp
)
target_link_libraries(rl_tests PRIVATE rlcore rlhostabi GTest::gtest)
add_test(NAME native_core COMMAND rl_tests)

# The plug-in's entry and selector dispatch, linked natively with the host simulator.
add_library(rlplugin STATIC host/plugin_main.cpp host/plugin_state.cpp host/plugin_platform_posix.cpp)
target_link_libraries(rlplugin PUBLIC rlcore rlhostabi)
