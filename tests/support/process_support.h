// Processes for the end-to-end tests: start a program with its output in a file, wait for it
// with a limit, wait for a condition, read a file whole.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// A file's whole text ("" when it cannot be read).
inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Starts a program (looked up on PATH) with extra environment (an empty value unsets the name)
// and its standard output and error in a file; iKeepFd stays open in it.
inline pid_t Spawn(const std::vector<std::string>& asArgs, const std::map<std::string, std::string>& env,
                   const std::filesystem::path& out, int iKeepFd = -1) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  for (const auto& [sName, sValue] : env) {
    if (sValue.empty()) unsetenv(sName.c_str());
    else setenv(sName.c_str(), sValue.c_str(), 1);
  }
  int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    dup2(fd, 1);
    dup2(fd, 2);
  }
  if (iKeepFd >= 0) fcntl(iKeepFd, F_SETFD, 0);
  std::vector<char*> apsz;
  for (const std::string& s : asArgs) apsz.push_back(const_cast<char*>(s.c_str()));
  apsz.push_back(nullptr);
  execvp(apsz[0], apsz.data());
  _exit(127);
}

// Waits up to dSeconds for the process to end: its exit status, or -1 when it died of a signal
// or had to be killed because it did not end in time.
inline int Wait(pid_t pid, double dSeconds) {
  auto tEnd = std::chrono::steady_clock::now() + std::chrono::duration<double>(dSeconds);
  int iStatus = 0;
  while (std::chrono::steady_clock::now() < tEnd) {
    if (waitpid(pid, &iStatus, WNOHANG) == pid) return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &iStatus, 0);
  return -1;
}

// Waits up to dSeconds for a condition, looking every iPollMs milliseconds and once more at the
// end; whether it held.
inline bool WaitFor(const std::function<bool()>& pfnCondition, double dSeconds, int iPollMs = 100) {
  auto tEnd = std::chrono::steady_clock::now() + std::chrono::duration<double>(dSeconds);
  while (std::chrono::steady_clock::now() < tEnd) {
    if (pfnCondition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(iPollMs));
  }
  return pfnCondition();
}
