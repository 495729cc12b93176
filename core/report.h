#pragma once
// The error convention: an operation catches everything of its own body and hands the current
// exception to ReportError under its own name ("modDNS ZipName"), then returns its neutral value.
// The server installs the sink that writes the support file; until then reports go to stderr.
#include <functional>
#include <string>

namespace kest {

struct RunError {
    int number = 0;           // errno for system errors, 5 for anything else, 0 for none
    std::string description;  // strerror text or the exception's text
};

// Describes the exception being handled; call only inside a catch block.
RunError CurrentError();

using ErrorSink =
    std::function<void(const std::string& where, const std::string& additional, const RunError&)>;

// Installs the process's sink and returns the previous one.
ErrorSink SetErrorSink(ErrorSink sink);

// Reports the exception being handled (inside a catch block) or, outside one, error number 0.
void ReportError(const std::string& where, const std::string& additional = {});

}  // namespace kest
