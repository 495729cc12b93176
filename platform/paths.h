#pragma once
// Where the program lives.
#include <filesystem>
#include <string>

namespace platform {

// The running executable (/proc/self/exe); empty when it cannot be read.
std::filesystem::path ExecutablePath();

// $KESTRUNE_HOME when set and not empty, else the folder of the executable. data/ and logs/ are
// below it.
std::filesystem::path ProgramDirectory();

// The file of one page of the HTML manual ("index.html", "editor.html", ...): the installed
// manual (<prefix>/share/doc/kestrune/manual) beside an installed executable, else docs/manual
// of the source tree this program was built from.
std::filesystem::path ManualPage(const std::string& page);

// ManualPage as a file:// address for the browser.
std::string ManualUrl(const std::string& page);

}  // namespace platform
