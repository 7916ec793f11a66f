// The "priority" setting as the converter's thread priority, and
// vantrel-convert's worker threads running with it (read from /proc while
// the program converts).
#include "core/IniFile.h"
#include "core/WorkPriority.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kSchedIdle = 5;

// Nice value and policy of each thread of a process; empty once it ended.
std::vector<std::pair<int, int>> ThreadScheds(pid_t pid) {
    std::vector<std::pair<int, int>> result;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(entry.path() / "stat");
        std::stringstream text;
        text << in.rdbuf();
        const std::string stat = text.str();
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size()) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::vector<std::string> values;
        for (std::string value; fields >> value;)
            values.push_back(value);
        if (values.size() < 39) continue; // fields 3.. of stat: nice is 19th, policy 41st
        result.emplace_back(std::stoi(values[16]), std::stoi(values[38]));
    }
    return result;
}

class WorkPriority : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new testsupport::TempDir;
        ASSERT_TRUE(testsupport::MakeMedia(
            Dir->file("long.avi"),
            "-f lavfi -i testsrc2=size=320x240:rate=25 -t 60 -c:v mpeg4 -q:v 5"));
    }
    static void TearDownTestSuite() { delete Dir; }

    // Starts vantrel-convert on the long clip with the stored priority and
    // waits until one of its threads runs with the nice value and policy,
    // or the program ends without one.
    static bool ConverterThreadRunsWith(const std::string& priority, int nice, int policy) {
        const std::string cfg = Dir->file("cfg-" + priority);
        TIniFile(cfg + "/vantrel/vantrel.ini").WriteString("settings", "priority", priority);
        fs::create_directories(Dir->file("out"));
        const std::string xdg = "XDG_CONFIG_HOME=" + cfg, home = "HOME=" + Dir->file("home");
        std::vector<std::string> args = {VANTREL_CONVERT, "--format",       "102",
                                         "--output-dir",  Dir->file("out"), Dir->file("long.avi")};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env = {xdg, home};
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("XDG_CONFIG_HOME=", 0) != 0 &&
                std::string(*e).rfind("HOME=", 0) != 0)
                env.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return false;
        bool found = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        while (!found && std::chrono::steady_clock::now() < deadline &&
               waitpid(pid, &status, WNOHANG) == 0) {
            for (const auto& [n, p] : ThreadScheds(pid))
                found = found || (n == nice && p == policy);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (kill(pid, SIGKILL) == 0) waitpid(pid, &status, 0);
        return found;
    }

    static testsupport::TempDir* Dir;
};

testsupport::TempDir* WorkPriority::Dir = nullptr;

TEST(WorkPrioritySetting, MapsTheFourItems) {
    TThreadPriority p = tpHighest;
    EXPECT_TRUE(PriorityOfSetting(0, p));
    EXPECT_EQ(p, tpIdle);
    EXPECT_TRUE(PriorityOfSetting(1, p));
    EXPECT_EQ(p, tpNormal);
    EXPECT_TRUE(PriorityOfSetting(2, p));
    EXPECT_EQ(p, tpLower);
    EXPECT_TRUE(PriorityOfSetting(3, p));
    EXPECT_EQ(p, tpLowest);
    EXPECT_FALSE(PriorityOfSetting(4, p));
    EXPECT_FALSE(PriorityOfSetting(-1, p));
    EXPECT_EQ(p, tpLowest);
}

// The converter inherits the nice value the tests run with (`nice make
// test`, say): the idle policy keeps it, the lowest priority means 10, which
// only tells when the tests run below it.
TEST_F(WorkPriority, ConverterAppliesTheStoredPriority) {
    const int inherited = getpriority(PRIO_PROCESS, 0);
    if (inherited < 10) {
        EXPECT_TRUE(ConverterThreadRunsWith("3", 10, 0));
    }
    EXPECT_TRUE(ConverterThreadRunsWith("0", inherited, kSchedIdle));
}

} // namespace
