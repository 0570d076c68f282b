// Paths handed to the Windows host tests on their command line, and a child
// process runner for the console host.
#pragma once

#include <string>

// The plug-in module and the console host, as given on the command line.
const std::string& PluginModulePath();
const std::string& ConsoleHostPath();
// A scratch folder for this test process.
const std::string& HostTestScratchFolder();

// A Unix path (as CMake passes them to Wine) as a Windows path on drive Z:.
std::string WindowsPath(const std::string& path);

struct ProcessOutput {
    int exitCode = -1;
    std::string text;  // standard output and standard error, interleaved
};
// Runs the console host with the arguments (the plug-in path first unless
// `withPlugin` is false) and collects what it prints. Gives up after a minute.
ProcessOutput RunConsoleHost(const std::string& arguments, bool withPlugin = true);
