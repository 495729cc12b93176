#pragma once
// Where the program lives.
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// The running executable (/proc/self/exe); empty when it cannot be read.
std::filesystem::path ExecutablePath();

// $KESTRUNE_HOME when set and not empty, else /var/lib/kestrune for an executable installed in
// /usr/bin (a system installation), else the folder of the executable. data/ and logs/ are
// below it.
std::filesystem::path ProgramDirectory();
// The same rule for a given executable and value of $KESTRUNE_HOME (null for unset).
std::filesystem::path ProgramDirectoryFor(const std::filesystem::path& executable,
                                          const char* home);
inline constexpr const char* kSystemProgramDirectory = "/var/lib/kestrune";

// The default files of a program directory (kestrund.ini, named.root, whois.dat) installed beside
// an installed executable (<prefix>/share/kestrune/examples); empty for a build-tree executable.
std::filesystem::path InstalledExamples();
// Copies every file of examples that dir lacks into dir, and makes dir, dir/data and dir/logs
// when missing; files already there are never touched. Returns the names copied. Failures
// (a folder we may not write) copy nothing more and are not errors: the programs run on their
// defaults.
std::vector<std::string> SeedProgramDirectory(const std::filesystem::path& dir,
                                              const std::filesystem::path& examples);
// The program directory, seeded from the installed examples on first start.
std::filesystem::path PrepareProgramDirectory();

// The file of one page of the HTML manual ("index.html", "editor.html", ...): the installed
// manual (<prefix>/share/doc/kestrune/manual) beside an installed executable, else docs/manual
// of the source tree this program was built from.
std::filesystem::path ManualPage(const std::string& page);

// ManualPage as a file:// address for the browser.
std::string ManualUrl(const std::string& page);

}  // namespace platform
