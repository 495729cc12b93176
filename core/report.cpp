#include "core/report.h"

#include <cstdio>
#include <exception>
#include <system_error>
#include <utility>

namespace kest {
namespace {

ErrorSink& Sink() {
    static ErrorSink sink;
    return sink;
}

}  // namespace

RunError CurrentError() {
    RunError e;
    const std::exception_ptr p = std::current_exception();
    if (!p) return e;
    try {
        std::rethrow_exception(p);
    } catch (const std::system_error& se) {
        e.number = se.code().value() > 0 ? se.code().value() : 5;
        e.description = se.code().message();
    } catch (const std::exception& ex) {
        e.number = 5;
        e.description = ex.what();
    } catch (...) {
        e.number = 5;
        e.description = "Unknown error";
    }
    return e;
}

ErrorSink SetErrorSink(ErrorSink sink) { return std::exchange(Sink(), std::move(sink)); }

void ReportError(const std::string& where, const std::string& additional) {
    const RunError e = CurrentError();
    try {
        if (Sink()) {
            Sink()(where, additional, e);
        } else {
            std::fprintf(stderr, "Error: %d %s in %s %s\n", e.number, e.description.c_str(),
                         where.c_str(), additional.c_str());
        }
    } catch (...) {
        // a failing sink must not turn one error into a crash
    }
}

}  // namespace kest
