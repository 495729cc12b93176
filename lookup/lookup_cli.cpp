#include "lookup/lookup_cli.h"

#include <cmath>
#include <cstdlib>

#include "platform/timer.h"

namespace lookup {

std::string UsageText() {
    return "Usage: lookup [options] NAME\n"
           "       lookup                 (the window)\n"
           "Asks a DNS server about NAME (or fetches a zone, or asks a WHOIS server) and prints\n"
           "the reply as the window shows it.\n"
           "  -s, --server SERVER   server to ask (default: PRIMARYIP of kestrund.ini, else\n"
           "                        127.0.0.1)\n"
           "  -t, --type TYPE       A, MX, CNAME, NS, PTR, SOA, SRV, TXT, AXFR, ANY or WHOIS\n"
           "                        (default A)\n"
           "  -r, --recursion       ask for recursion (the default)\n"
           "  -R, --no-recursion    do not ask for recursion\n"
           "      --auto-whois      choose the WHOIS server by the name's top-level domain\n"
           "      --timeout SECONDS give up after this long (default 5)\n"
           "  -p, --port PORT       server port (default 53, or 43 for WHOIS)\n"
           "  -h, --help            this text\n"
           "Exit status: 0 a reply was printed, 9 no reply in time, 10 the server cannot be\n"
           "reached, 1 usage error.\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& o, std::string& error) {
    bool haveName = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            const size_t eq = a.find('=');
            if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
                v = a.substr(eq + 1);
                return true;
            }
            if (i + 1 >= args.size()) {
                error = "option " + a + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        auto is = [&](const char* s, const char* l) {
            if (a == s || a == l) return true;
            const std::string prefix = std::string(l) + "=";
            return a.rfind(prefix, 0) == 0;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (is("-s", "--server")) {
            if (!value(v)) return false;
            if (v.empty()) {
                error = "empty server";
                return false;
            }
            o.server = v;
        } else if (is("-t", "--type")) {
            if (!value(v)) return false;
            const QueryType* t = FindQueryType(v);
            if (!t) {
                error = "unknown type " + v;
                return false;
            }
            o.type = t->word;
        } else if (a == "-r" || a == "--recursion") {
            o.recursion = true;
        } else if (a == "-R" || a == "--no-recursion") {
            o.recursion = false;
        } else if (a == "--auto-whois") {
            o.autoWhois = true;
        } else if (is("--timeout", "--timeout")) {
            if (!value(v)) return false;
            char* end = nullptr;
            const double t = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != '\0' || !std::isfinite(t) || t <= 0 || t > 86400) {
                error = "bad time-out " + v;
                return false;
            }
            o.timeoutSeconds = t;
        } else if (is("-p", "--port")) {
            if (!value(v)) return false;
            char* end = nullptr;
            const long p = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || p < 1 || p > 65535) {
                error = "bad port " + v;
                return false;
            }
            o.port = static_cast<int>(p);
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option " + a;
            return false;
        } else {
            if (haveName) {
                error = "more than one name: " + o.name + " " + a;
                return false;
            }
            o.name = a;
            haveName = true;
        }
    }
    if (!haveName && !o.help) {
        error = "no name to look up";
        return false;
    }
    return true;
}

std::string ToLf(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

CommandLineRun::CommandLineRun(const CliOptions& options, IQueryNet& net, platform::IPrompt& prompt,
                               platform::ILauncher& launcher,
                               const std::filesystem::path& programDir, std::ostream& out,
                               std::ostream& err)
    : options_(options), query_(net, prompt, launcher), out_(out), err_(err) {
    query_.Load(programDir);
    query_.showServer = true;
}

CommandLineRun::~CommandLineRun() = default;

void CommandLineRun::Start() {
    query_.nameText = CleanQueryName(options_.name);
    if (!options_.server.empty()) query_.serverText = CleanQueryName(options_.server);
    query_.recursion = options_.recursion;
    query_.autoWhois = options_.autoWhois;
    if (options_.port) {
        query_.dnsPort = static_cast<uint16_t>(options_.port);
        query_.whoisPort = static_cast<uint16_t>(options_.port);
    }
    query_.OnFinished = [this](bool done) {
        if (done) {
            out_ << ToLf(query_.Output());
            out_.flush();
            Finish(kExitReply);
        } else {
            err_ << query_.StatusText() << "\n";
            Finish(kExitCannotConnect);
        }
    };
    if (query_.nameText.empty() || query_.serverText.empty()) {
        err_ << "lookup: nothing to look up\n";
        Finish(kExitUsage);
        return;
    }
    timer_ = std::make_unique<platform::Timer>(
        static_cast<int>(std::ceil(options_.timeoutSeconds * 1000)), true);
    timer_->OnTimeout = [this] { TimedOut(); };
    timer_->Start();
    query_.LookUp(options_.type);
}

void CommandLineRun::TimedOut() {
    if (Finished()) return;
    query_.Stop();
    err_ << "No answer from " << query_.serverText << "\n";
    Finish(kExitNoReply);
}

void CommandLineRun::Finish(int code) {
    if (Finished()) return;
    exitCode_ = code;
    if (timer_) timer_->Stop();
    query_.OnFinished = nullptr;
    if (OnExit) OnExit(code);
}

}  // namespace lookup
