#include "tests/widgets/gui_env.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <cstdlib>
#include <memory>

namespace kest::test {
namespace {

int g_argc = 1;
char g_name[] = "widgets-test";
char* g_argv[] = {g_name, nullptr};

class GuiEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app_ = std::make_unique<QApplication>(g_argc, g_argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* g_env = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace

void TypeKeys(const char* text) {
    for (const char* c = text; *c; ++c) QTest::keyClick(QApplication::focusWidget(), *c);
}

bool Host::Open() {
    show();
    activateWindow();
    return QTest::qWaitForWindowActive(this);
}

}  // namespace kest::test
