#pragma once
// The server's program entry.
#include <string>

namespace modMain {

// "-n": desktop start; "-u": remove the service. With NTService set the program runs as a
// service whatever the command line. Returns the process's exit code.
int Main(int argc, char** argv);

// The command line as the server reads it: the arguments joined, trimmed and lower-cased.
std::string CommandLine(int argc, char** argv);

}  // namespace modMain
