// CPU ticks from /proc/stat, this process's CPU time, and the machine's name.
#include "tools/common/machine.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace tool_common {

bool parse_cpu_ticks(const std::string& proc_stat, cpu_ticks* out) {
  std::istringstream in(proc_stat);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string name;
    words >> name;
    if (name != "cpu") {
      continue;
    }
    uint64_t v[8] = {};  // user nice system idle iowait irq softirq steal
    int got = 0;
    while (got < 8 && words >> v[got]) {
      ++got;
    }
    if (got < 4) {
      return false;
    }
    out->busy = v[0] + v[1] + v[2] + v[5] + v[6];
    out->idle = v[3] + v[4];
    out->steal = v[7];
    return true;
  }
  return false;
}

cpu_ticks read_cpu_ticks() {
  std::ifstream in("/proc/stat");
  std::stringstream text;
  text << in.rdbuf();
  cpu_ticks t;
  if (!parse_cpu_ticks(text.str(), &t)) {
    return {};
  }
  return t;
}

double own_cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool parse_process_ticks(const std::string& proc_pid_stat, uint64_t* ticks) {
  // The name ends at the last ')': a name of its own may hold ") ".
  const size_t name_end = proc_pid_stat.rfind(')');
  if (name_end == std::string::npos) {
    return false;
  }
  // After the name: state (field 3) ... utime (14), stime (15).
  std::istringstream words(proc_pid_stat.substr(name_end + 1));
  std::string word;
  for (int field = 3; field < 14; ++field) {
    if (!(words >> word)) {
      return false;
    }
  }
  uint64_t user = 0;
  uint64_t system = 0;
  if (!(words >> user >> system)) {
    return false;
  }
  *ticks = user + system;
  return true;
}

double process_cpu_seconds(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::stringstream text;
  text << in.rdbuf();
  uint64_t ticks = 0;
  if (!parse_process_ticks(text.str(), &ticks)) {
    return 0.0;
  }
  return static_cast<double>(ticks) / ticks_per_second();
}

double ticks_per_second() {
  const long hz = sysconf(_SC_CLK_TCK);
  return hz > 0 ? static_cast<double>(hz) : 100.0;
}

machine_load load_between(const cpu_ticks& before, const cpu_ticks& after, double own_seconds,
                          double ticks_per_second) {
  machine_load load;
  // Ticks are counted 100 times a second per CPU: a window of fewer than a
  // second's worth of them in all is too short for a share to mean anything.
  if (after.total() < before.total() + static_cast<uint64_t>(ticks_per_second)) {
    return load;
  }
  const auto total = static_cast<double>(after.total() - before.total());
  const auto busy = static_cast<double>(after.busy - before.busy);
  const auto steal = static_cast<double>(after.steal - before.steal);
  // Ticks are sampled, so our own share can come out a little above what
  // /proc/stat counted as busy: others never go below zero.
  const double others = std::max(0.0, busy - own_seconds * ticks_per_second);
  load.others_percent = 100.0 * others / total;
  load.steal_percent = 100.0 * steal / total;
  load.known = true;
  return load;
}

std::string cpu_model() {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("model name", 0) == 0) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos && colon + 2 <= line.size()) {
        return line.substr(colon + 2);
      }
    }
  }
  return "unknown CPU";
}

int32_t online_cpus() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int32_t>(n) : 1;
}

std::string machine_label() {
  const std::time_t now = std::time(nullptr);
  std::tm day{};
  localtime_r(&now, &day);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d", &day);
  const int32_t cpus = online_cpus();
  return cpu_model() + ", " + std::to_string(cpus) + (cpus == 1 ? " core, " : " cores, ") + date;
}

void load_meter::start(double own_now) {
  started_ = read_cpu_ticks();
  own_started_ = own_now;
}

void load_meter::stop(double own_now) {
  const cpu_ticks now = read_cpu_ticks();
  total_.busy += now.busy - started_.busy;
  total_.idle += now.idle - started_.idle;
  total_.steal += now.steal - started_.steal;
  own_ += own_now - own_started_;
}

machine_load load_meter::load() const { return load_between({}, total_, own_, ticks_per_second()); }

}  // namespace tool_common
