// The command line: its options, and one look-up through the controller on a scripted network
// with the exit statuses and the text printed.
#include "lookup/lookup_cli.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <QCoreApplication>

#include "tests/lookup/fake_net.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"

using namespace lookup;
using namespace kest::test;

namespace {

bool Parse(std::vector<std::string> args, CliOptions& o, std::string& e) {
    o = CliOptions();
    e.clear();
    return ParseCommandLine(args, o, e);
}

}  // namespace

TEST(LookupCli, Options) {
    CliOptions o;
    std::string e;
    ASSERT_TRUE(Parse({"example.com"}, o, e));
    EXPECT_EQ(o.name, "example.com");
    EXPECT_EQ(o.type, "A");
    EXPECT_TRUE(o.recursion);
    EXPECT_FALSE(o.autoWhois);
    EXPECT_EQ(o.timeoutSeconds, 5);
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.server, "");

    ASSERT_TRUE(Parse({"-s", "ns.test", "-t", "any", "-R", "--auto-whois", "--timeout", "0.5", "-p",
                       "5353", "x.test"},
                      o, e));
    EXPECT_EQ(o.server, "ns.test");
    EXPECT_EQ(o.type, "Any");
    EXPECT_FALSE(o.recursion);
    EXPECT_TRUE(o.autoWhois);
    EXPECT_EQ(o.timeoutSeconds, 0.5);
    EXPECT_EQ(o.port, 5353);
    ASSERT_TRUE(Parse({"--server=10.0.0.1", "--type=WhoIs", "--port=43", "-R", "-r", "n"}, o, e));
    EXPECT_EQ(o.server, "10.0.0.1");
    EXPECT_EQ(o.type, "WHOIS");
    EXPECT_EQ(o.port, 43);
    EXPECT_TRUE(o.recursion);  // the last of -R and -r counts
    ASSERT_TRUE(Parse({"--help"}, o, e));
    EXPECT_TRUE(o.help);

    for (const auto& bad : std::vector<std::vector<std::string>>{{},
                                                                 {"-t", "AAAA", "x"},
                                                                 {"-t"},
                                                                 {"--timeout", "0", "x"},
                                                                 {"--timeout", "abc", "x"},
                                                                 {"-p", "0", "x"},
                                                                 {"-p", "65536", "x"},
                                                                 {"-x", "n"},
                                                                 {"a", "b"},
                                                                 {"-s", "", "x"}}) {
        EXPECT_FALSE(Parse(bad, o, e)) << (bad.empty() ? "(none)" : bad[0]);
        EXPECT_FALSE(e.empty());
    }
}

TEST(LookupCli, LineEnds) {
    EXPECT_EQ(ToLf("a\r\nb\r\n\r\n"), "a\nb\n\n");
    EXPECT_EQ(ToLf("a\rb\n"), "a\rb\n");
}

namespace {

class CliRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "cli_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) app_ = new QCoreApplication(argc, argv);
    }
    std::unique_ptr<CommandLineRun> Make(const std::vector<std::string>& args) {
        CliOptions o;
        std::string e;
        EXPECT_TRUE(ParseCommandLine(args, o, e)) << e;
        auto run = std::make_unique<CommandLineRun>(o, net, prompt, launcher, dir.path(), out, err);
        run->OnExit = [this](int code) { codes.push_back(code); };
        return run;
    }

    FakeQueryNet net;
    RecordingPrompt prompt;
    RecordingLauncher launcher;
    TempDir dir;
    std::ostringstream out, err;
    std::vector<int> codes;
    QCoreApplication* app_ = nullptr;
};

}  // namespace

TEST_F(CliRunTest, ReplyIsPrintedWithLfAndStatusZero) {
    auto run = Make({"-t", "mx", "-R", "-p", "5300", "-s", "127.0.0.5", "Example.TEST"});
    run->Start();
    ASSERT_EQ(net.sent.size(), 1u);
    const auto s = net.sent[0];
    EXPECT_EQ(s.ip, "127.0.0.5");
    EXPECT_EQ(s.port, 5300);
    EXPECT_EQ(s.data, Header(1, 0x00, 0, 1, 0, 0, 0) + Question("example.test", 15));
    // A name error is a reply like any other.
    net.events->OnDatagram(Header(1, 0x84, 0x03, 1, 0, 0, 0) + s.data.substr(12), s.ip, s.port);
    EXPECT_EQ(codes, std::vector<int>{kExitReply});
    EXPECT_EQ(out.str(),
              "Authoritative Answer: Yes\nRecursion Available: No\n\nHeader:\n"
              "Name does not exist!\n");
    EXPECT_EQ(err.str(), "");
}

TEST_F(CliRunTest, DefaultServerFromTheSettingsFile) {
    std::ofstream(dir.path() / "kestrund.ini") << "PrimaryIP: 127.0.0.33\r\n";
    auto run = Make({"x.test"});
    run->Start();
    ASSERT_EQ(net.sent.size(), 1u);
    EXPECT_EQ(net.sent[0].ip, "127.0.0.33");
    EXPECT_EQ(net.sent[0].port, 53);
}

TEST_F(CliRunTest, TimeOutGivesNine) {
    auto run = Make({"-s", "127.0.0.5", "x.test"});
    run->Start();
    EXPECT_TRUE(codes.empty());
    run->TimedOut();
    EXPECT_EQ(codes, std::vector<int>{kExitNoReply});
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "No answer from 127.0.0.5\n");
    EXPECT_FALSE(net.udpOpen);
}

TEST_F(CliRunTest, ConnectionFailuresGiveTen) {
    auto run = Make({"-t", "axfr", "-s", "127.0.0.5", "z.test"});
    run->Start();
    net.events->OnTcpError(Channel::Zone, ECONNREFUSED, "Connection refused");
    EXPECT_EQ(codes, std::vector<int>{kExitCannotConnect});
    EXPECT_EQ(err.str(), "Connection refused\n");
    EXPECT_EQ(out.str(), "");

    codes.clear();
    err.str("");
    auto whois = Make({"-t", "whois", "-s", "127.0.0.5", "z.test"});
    whois->Start();
    EXPECT_EQ(net.connects.back().port, 43);
    net.events->OnTcpError(Channel::Whois, ECONNREFUSED, "Connection refused");
    EXPECT_EQ(codes, std::vector<int>{kExitCannotConnect});
    EXPECT_EQ(err.str(), "Cannot connect to 127.0.0.5\n");
}
