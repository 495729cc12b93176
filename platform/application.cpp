#include "platform/application.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dispatch.h"

namespace platform {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_signalPipe[2] = {-1, -1};

extern "C" void OnUnixSignal(int signo) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    if (g_signalPipe[1] >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    }
    errno = saved;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool ConnectUnix(const std::string& path, bool abstract) {
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    if (path.empty() || path.size() + offset >= sizeof sa.sun_path) return false;
    std::memcpy(sa.sun_path + offset, path.data(), path.size());
    const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                                 path.size() + (abstract ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), len) == 0;
    ::close(fd);
    return ok;
}

bool ConnectLoopbackTcp(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return ok;
}

bool WaylandReachable(const std::string& display) {
    if (display.empty()) return false;
    if (display[0] == '/') return ConnectUnix(display, false);
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    return !runtime.empty() && ConnectUnix(runtime + "/" + display, false);
}

bool X11Reachable(const std::string& display) {
    const auto colon = display.rfind(':');
    if (colon == std::string::npos) return false;
    const std::string host = display.substr(0, colon);
    const int number = std::atoi(display.c_str() + colon + 1);
    if (host.empty() || host == "unix") {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        return ConnectUnix(path, true) || ConnectUnix(path, false);
    }
    if (host == "localhost" || host.rfind("127.", 0) == 0) return ConnectLoopbackTcp(6000 + number);
    // A remote display: Qt will try it; we do not probe other hosts.
    return true;
}

}  // namespace

struct Application::Impl {
    Application* owner;
    std::unique_ptr<QCoreApplication> ownApp;
    QCoreApplication* app = nullptr;
    bool gui = false;
    bool quitRequested = false;
    bool running = false;
    std::vector<QMetaObject::Connection> connections;
    int quitCode = 0;
    QSocketNotifier* signalNotifier = nullptr;
    QTimer* retry = nullptr;
    struct sigaction previous[3] = {};

    explicit Impl(Application* o) : owner(o) {}

    void OnSignalPipe() {
        if (!running || detail::DispatchScope::Inside()) {
            // Before Run() (a box shown during start-up), or while a handler pumps events or
            // shows a box, shutting down would pull things away under running code. The signal
            // stays in the pipe until the loop itself is back.
            signalNotifier->setEnabled(false);
            if (!retry) {
                retry = new QTimer;
                retry->setSingleShot(true);
                QObject::connect(retry, &QTimer::timeout, [this] {
                    if (signalNotifier) signalNotifier->setEnabled(true);
                });
            }
            retry->start(10);
            return;
        }
        detail::DispatchScope scope;
        unsigned char bytes[16];
        const ssize_t n = ::read(g_signalPipe[0], bytes, sizeof bytes);
        for (ssize_t i = 0; i < n; ++i) {
            const auto onSignal = owner->OnSignal;
            if (onSignal) {
                onSignal(bytes[i]);
            } else {
                owner->Quit(128 + bytes[i]);
            }
        }
    }
};

bool Application::DisplayAvailable() {
    if (Env("QT_QPA_PLATFORM").rfind("offscreen", 0) == 0) return true;
    if (WaylandReachable(Env("WAYLAND_DISPLAY"))) return true;
    const std::string x = Env("DISPLAY");
    return !x.empty() && X11Reachable(x);
}

Application::Application(int& argc, char** argv, bool wantGui)
    : impl_(std::make_unique<Impl>(this)) {
    Impl& d = *impl_;
    d.app = QCoreApplication::instance();
    if (d.app == nullptr) {
        if (wantGui && DisplayAvailable()) {
            d.ownApp = std::make_unique<QApplication>(argc, argv);
        } else {
            d.ownApp = std::make_unique<QCoreApplication>(argc, argv);
        }
        d.app = d.ownApp.get();
    }
    d.gui = qobject_cast<QApplication*>(d.app) != nullptr;
    if (d.gui) {
        // The server lives on in the tray when its window closes.
        QApplication::setQuitOnLastWindowClosed(false);
        d.connections.push_back(QObject::connect(qobject_cast<QGuiApplication*>(d.app),
                                                 &QGuiApplication::commitDataRequest,
                                                 [this](QSessionManager&) {
                                                     detail::DispatchScope scope;
                                                     const auto onEnd = OnSessionEnd;
                                                     if (onEnd) onEnd();
                                                 }));
    }
    d.connections.push_back(QObject::connect(d.app, &QCoreApplication::aboutToQuit, [this] {
        detail::DispatchScope scope;
        const auto onQuit = OnAboutToQuit;
        if (onQuit) onQuit();
    }));

    if (::pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) == 0) {
        d.signalNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read);
        Impl* self = impl_.get();
        QObject::connect(d.signalNotifier, &QSocketNotifier::activated,
                         [self] { self->OnSignalPipe(); });
        struct sigaction sa {};
        sa.sa_handler = OnUnixSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &sa, &d.previous[i]);
    }
}

Application::~Application() {
    Impl& d = *impl_;
    if (d.signalNotifier) {
        for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &d.previous[i], nullptr);
        d.signalNotifier->setEnabled(false);
        detail::Dispose(d.signalNotifier);
        d.signalNotifier = nullptr;
        if (d.retry) {
            d.retry->stop();
            detail::Dispose(d.retry);
        }
        for (int& fd : g_signalPipe) {
            ::close(fd);
            fd = -1;
        }
    }
    for (const auto& c : d.connections) QObject::disconnect(c);
    d.ownApp.reset();
}

bool Application::HasDisplay() const {
    return impl_->gui;
}

int Application::Run() {
    Impl& d = *impl_;
    if (d.quitRequested) {
        // Quit() came before the loop ran (a signal during start-up, say).
        d.quitRequested = false;
        return d.quitCode;
    }
    d.running = true;
    const int code = QCoreApplication::exec();
    d.running = false;
    return code;
}

void Application::Quit(int code) {
    Impl& d = *impl_;
    if (d.running) {
        QCoreApplication::exit(code);
    } else {
        d.quitRequested = true;
        d.quitCode = code;
    }
}

}  // namespace platform
