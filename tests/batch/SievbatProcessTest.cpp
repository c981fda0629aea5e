// Runs the built sievbat program itself: Filter.ini beside the executable,
// the folder given as several arguments.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/TestSupport.h"

namespace {

using test_support::ListNames;
using test_support::WriteFile;

int RunProgram(const std::string& exe, const std::vector<std::string>& args, std::string* output) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], 1);
    dup2(pipe_fds[1], 2);
    close(pipe_fds[0]);
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  output->clear();
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) output->append(buffer, static_cast<std::size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every run draws its own collision names, so passes that run at the same
// time do not all try the same ones.
TEST(SievbatProgram, DrawsOtherCollisionNamesInEveryRun) {
  std::vector<std::string> waits;
  for (int run = 0; run < 2; ++run) {
    test_support::TempFolder temp;
    std::filesystem::create_directory(temp / "prog");
    std::filesystem::copy_file(SIEVBAT_PATH, temp / "prog/sievbat");
    std::filesystem::permissions(temp / "prog/sievbat", std::filesystem::perms::owner_all);
    WriteFile(temp / "prog/Filter.ini", "\"W\",\"From: \",\"news\"\r\n");
    std::string queue = temp / "my queue";
    std::filesystem::create_directories(queue + "/Wait");
    WriteFile(queue + "/wwwwww.q0", "l1\r\nl2\r\nFrom: news@x\r\n\r\n");
    WriteFile(queue + "/wwwwww.q1", "b");

    std::string output;
    EXPECT_EQ(RunProgram(temp / "prog/sievbat", {temp / "my", "queue"}, &output), 0);
    EXPECT_EQ(output, "");
    EXPECT_EQ(ListNames(queue), "Wait/");
    waits.push_back(ListNames(queue + "/Wait"));

    EXPECT_EQ(RunProgram(temp / "prog/sievbat", {}, &output), 2);
    EXPECT_NE(output.find("usage"), std::string::npos);
  }
  EXPECT_NE(waits[0], waits[1]);
  EXPECT_EQ(waits[0].substr(0, 4), "~col");
  EXPECT_EQ(waits[1].substr(0, 4), "~col");
}

}  // namespace
