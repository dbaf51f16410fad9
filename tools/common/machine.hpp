// What else this machine was doing while a program measured: CPU time from /proc/stat, and the
// facts a measurement is labelled with (CPU model, cores).
//
// /proc/stat's first line counts, since boot, the clock ticks all CPUs spent
// in each state: user, nice, system, idle, iowait, irq, softirq, steal (time
// the hypervisor gave to another guest), then guest times that user and nice
// already include. Two snapshots around a measurement, less the measuring
// process's own CPU time, tell how much of the machine other programs used.
#pragma once

#include <cstdint>
#include <string>

namespace tool_common {

// The counters of /proc/stat's "cpu" line, in clock ticks.
struct cpu_ticks {
  uint64_t busy = 0;   // user + nice + system + irq + softirq
  uint64_t idle = 0;   // idle + iowait
  uint64_t steal = 0;  // taken by the hypervisor
  uint64_t total() const { return busy + idle + steal; }
};

// Reads the "cpu" line of a /proc/stat text; false when there is none.
bool parse_cpu_ticks(const std::string& proc_stat, cpu_ticks* out);

// /proc/stat now; all zeros when it cannot be read.
cpu_ticks read_cpu_ticks();

// CPU time (user + system) this process and its threads have used, in seconds.
double own_cpu_seconds();

// The user + system clock ticks of one process from the text of its
// /proc/PID/stat (fields 14 and 15, counted after the command name in
// parentheses, which may itself hold spaces and parentheses); false when the
// text has no such fields.
bool parse_process_ticks(const std::string& proc_pid_stat, uint64_t* ticks);

// CPU time (user + system) process `pid` has used so far, in seconds; 0 when
// it cannot be read (the process is gone).
double process_cpu_seconds(int pid);

// Clock ticks per second (sysconf(_SC_CLK_TCK)).
double ticks_per_second();

// Shares of the machine's CPU time between two snapshots, in percent of all
// of it (every CPU, idle time included).
struct machine_load {
  double others_percent = 0.0;  // used by other programs
  double steal_percent = 0.0;   // taken by the hypervisor
  bool known = false;           // false when too few ticks passed between the snapshots to tell
};

// `own_seconds`: the CPU time the measuring program used in between (its
// threads, and any process of its own that /proc/stat counts), which is
// taken out of the busy ticks. Unknown when fewer ticks than one second's
// worth passed in all (half a second on two CPUs).
machine_load load_between(const cpu_ticks& before, const cpu_ticks& after, double own_seconds,
                          double ticks_per_second);

// The busy line over every span a program measured (each shape's rounds):
// /proc/stat's ticks and the program's own CPU time, added up span by span.
class load_meter {
 public:
  // `own_now`: the CPU seconds the program, and any process working for it,
  // used so far; what it used in between is not counted as other programs'.
  void start(double own_now);
  void stop(double own_now);
  machine_load load() const;

 private:
  cpu_ticks total_;
  cpu_ticks started_;
  double own_ = 0.0;
  double own_started_ = 0.0;
};

// The CPU's model name from /proc/cpuinfo ("AMD EPYC"), or "unknown CPU".
std::string cpu_model();

// CPUs online.
int32_t online_cpus();

// What a measurement is labelled with: "AMD EPYC, 2 cores, 2026-12-09" (today's date).
std::string machine_label();

}  // namespace tool_common
