// Times a command as a whole process: runs it RUNS times (removing the
// given output file before each run, so every tool writes a fresh file) and
// prints the median wall time in seconds and the largest peak resident size
// in KiB, as "median_s max_rss_kib".
//
//   vrx4-proctime RUNS OUTPUT -- COMMAND ARGS...
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 5 || std::string(argv[3]) != "--") {
    std::fprintf(stderr, "usage: %s RUNS OUTPUT -- COMMAND ARGS...\n", argv[0]);
    return 2;
  }
  int runs = std::max(1, std::atoi(argv[1]));
  std::string output = argv[2];
  char** command = argv + 4;
  std::vector<double> times;
  long maxRss = 0;
  for (int i = 0; i < runs; ++i) {
    ::unlink(output.c_str());
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
      ::execvp(command[0], command);
      _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) < 0) return 1;
    auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "%s failed (status %d)\n", command[0], status);
      return 1;
    }
    times.push_back(std::chrono::duration<double>(end - start).count());
    maxRss = std::max(maxRss, long(usage.ru_maxrss));
  }
  std::sort(times.begin(), times.end());
  std::printf("%.4f %ld\n", times[times.size() / 2], maxRss);
  return 0;
}
