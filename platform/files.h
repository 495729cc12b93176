#pragma once
// File helpers: whole-file replacement that never leaves a half-written file, and text reading
// that accepts CR LF or LF.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Writes content to a temporary file in the same folder, fsyncs it and renames it over path.
// Throws std::system_error on failure (the old file is then untouched).
void WriteFileAtomic(const std::filesystem::path& path, const std::string& content);

// The whole file, or nothing when it cannot be read.
std::optional<std::string> ReadFile(const std::filesystem::path& path);

// Splits text into lines at LF, dropping a CR before it; a last line without LF counts.
std::vector<std::string> SplitLines(const std::string& text);

// Lines joined with CR LF after each.
std::string JoinCrLf(const std::vector<std::string>& lines);

// Regular files of a folder, sorted bytewise by name; empty when it cannot be listed.
std::vector<std::filesystem::path> ListFiles(const std::filesystem::path& folder);

}  // namespace platform
