#include "util/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "test_dir.h"

namespace {

int run_child(const std::vector<std::string>& argv, const std::string& log = "") {
  ChildProcess child;
  std::string error;
  if (!start_child(argv, log, &child, &error)) return -1000;
  int status = -1;
  EXPECT_EQ(wait_for_child({child}, stop_signals_caught(), &status), 0);
  return status;
}

}  // namespace

// The command line a Windows child is given must split back into exactly
// the arguments: job directories with blanks, quotes and backslashes.
TEST(Process, WindowsCommandLineQuotesWhatTheRuntimeWouldSplit) {
  EXPECT_EQ(windows_command_line({"C:\\veldspan.exe", "--headless", "scan\\1-2"}),
            "C:\\veldspan.exe --headless scan\\1-2");
  EXPECT_EQ(windows_command_line({"a b", ""}), "\"a b\" \"\"");
  EXPECT_EQ(windows_command_line({"say \"hi\""}), "\"say \\\"hi\\\"\"");
  EXPECT_EQ(windows_command_line({"C:\\my runs\\"}), "\"C:\\my runs\\\\\"");  // the last backslash is not an escape
  EXPECT_EQ(windows_command_line({"a\\\\\"b c"}), "\"a\\\\\\\\\\\"b c\"");
  EXPECT_EQ(windows_command_line({"tab\there"}), "\"tab\there\"");
}

TEST(Process, ChildStatusesLogsAndFailuresToStart) {
  TestDir dir;
  EXPECT_EQ(run_child({"/bin/sh", "-c", "exit 3"}), 3);
  EXPECT_EQ(run_child({"/bin/sh", "-c", "kill -KILL $$"}), 128 + SIGKILL);
  EXPECT_EQ(run_child({"/bin/sh", "-c", "echo out; echo err >&2"}, "child.log"), 0);
  EXPECT_EQ(run_child({"/bin/sh", "-c", "echo again >&2"}, "child.log"), 0);
  EXPECT_EQ(read_file("child.log"), "out\nerr\nagain\n") << "both streams, appended";
  ChildProcess child;
  std::string error;
  EXPECT_FALSE(start_child({"/no/such/program"}, "", &child, &error));
  EXPECT_NE(error.find("/no/such/program cannot be started"), std::string::npos) << error;
  EXPECT_FALSE(own_executable_path().empty());
}

// A stop signal to the parent is caught, not obeyed: the wait returns so
// that the parent can pass it on, and the child then ends as SIGTERM
// ends it. A second wait tells which of two children ended.
TEST(Process, StopSignalsArePassedOnToTheChildren) {
  catch_stop_signals();
  int32_t seen = stop_signals_caught();
  ChildProcess sleeper, quick;
  std::string error;
  ASSERT_TRUE(start_child({"/bin/sleep", "30"}, "", &sleeper, &error)) << error;
  ASSERT_TRUE(start_child({"/bin/sh", "-c", "exit 5"}, "", &quick, &error)) << error;
  int status = -1;
  EXPECT_EQ(wait_for_child({sleeper, quick}, seen, &status), 1);
  EXPECT_EQ(status, 5);
  std::raise(SIGTERM);
  EXPECT_EQ(wait_for_child({sleeper}, seen, &status), -1);
  EXPECT_EQ(stop_signals_caught(), seen + 1);
  EXPECT_EQ(last_stop_signal(), SIGTERM);
  stop_child(&sleeper);
  EXPECT_EQ(wait_for_child({sleeper}, stop_signals_caught(), &status), 0);
  EXPECT_EQ(status, 128 + SIGTERM);
}
