#include "tests/platform/qt_env.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <memory>

namespace kest::test {
namespace {

int g_argc = 1;
char g_name[] = "platform-test";
char* g_argv[] = {g_name, nullptr};

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (QCoreApplication::instance() == nullptr)
            app_ = std::make_unique<QCoreApplication>(g_argc, g_argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QCoreApplication> app_;
};

[[maybe_unused]] const auto* g_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= timeoutMs) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void RunTicks(int intervalMs, int times) {
    QEventLoop loop;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(intervalMs);
    int fired = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (++fired >= times) loop.quit();
    });
    ticker.start();
    loop.exec();
}

}  // namespace kest::test
