#pragma once
// Where the program lives.
#include <filesystem>

namespace platform {

// The running executable (/proc/self/exe); empty when it cannot be read.
std::filesystem::path ExecutablePath();

// $KESTRUNE_HOME when set and not empty, else the folder of the executable. data/ and logs/ are
// below it.
std::filesystem::path ProgramDirectory();

}  // namespace platform
