// Start-up against its floor: the program from launch to the first presented
// frame of the sample arrangement, against a bare SDL2 window with an OpenGL
// 3.3 core context presenting one cleared frame. Each start is a fresh
// process; the two alternate within the same run, so a busy machine slows
// both alike. Both print the steady clock at the edges of their phases
// (TL_STARTUP_TRACE), and the launch time is taken just before the spawn.
//
// Run it where the program would run (a display, or Xvfb); it passes its
// environment on. Counters are medians in milliseconds.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kRuns = 15;

long long now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Spawns the program with TL_STARTUP_TRACE set (and the extra variables),
// reads its report line and waits for it. The launch time is "spawn".
bool run_traced(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                std::map<std::string, long long>* marks) {
  std::vector<std::string> env_text = {"TL_STARTUP_TRACE=1"};
  env_text.insert(env_text.end(), extra_env.begin(), extra_env.end());
  for (char** e = environ; *e != nullptr; ++e) {
    bool replaced = false;
    for (const std::string& x : env_text)
      if (std::strncmp(*e, x.c_str(), x.find('=') + 1) == 0) replaced = true;
    if (!replaced) env_text.push_back(*e);
  }
  std::vector<char*> envp, args;
  for (std::string& s : env_text) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_copy = argv;
  for (std::string& s : argv_copy) args.push_back(s.data());
  args.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid = 0;
  const long long spawn = now_ns();
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buf[512];
  ssize_t n;
  while (spawned == 0 && (n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  close(out[0]);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid) return false;
  const size_t line = text.rfind("startup ");
  if (line == std::string::npos) return false;
  marks->clear();
  (*marks)["spawn"] = spawn;
  std::istringstream words(text.substr(line + 8));
  std::string word;
  while (words >> word) {
    const size_t eq = word.find('=');
    if (eq != std::string::npos) (*marks)[word.substr(0, eq)] = std::atoll(word.c_str() + eq + 1);
  }
  return marks->count("first_present") != 0 && (*marks)["first_present"] > spawn;
}

double ms(long long from, long long to) { return static_cast<double>(to - from) / 1e6; }

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::filesystem::path fresh_folder(const char* name) {
  const std::filesystem::path p =
      std::filesystem::temp_directory_path() / ("tl_bench_" + std::to_string(::getpid()) + "_" + name);
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p;
}

void BM_StartToFirstFrame(benchmark::State& state) {
  const char* size_w = std::getenv("TL_BENCH_CLIENT_W");
  const char* size_h = std::getenv("TL_BENCH_CLIENT_H");
  const std::vector<std::string> bare = {TL_BARE_WINDOW_PATH, size_w ? size_w : "1024", size_h ? size_h : "768"};
  const std::vector<std::string> program = {TL_PROGRAM_PATH};
  // The shader cache of these runs is the benchmark's own: the first start
  // fills it, the others read it.
  const std::filesystem::path warm = fresh_folder("cache");
  const std::vector<std::string> warm_env = {"XDG_CACHE_HOME=" + warm.string()};

  std::map<std::string, std::vector<double>> phase;
  std::vector<double> bare_total, program_total, ratio, uncached_shaders, uncached_total;
  for (auto _ : state) {
    std::map<std::string, long long> m;
    // Starts with an empty cache: what translating every shader costs.
    for (int i = 0; i < 3; ++i) {
      const std::filesystem::path empty = fresh_folder("empty");
      if (!run_traced(program, {"XDG_CACHE_HOME=" + empty.string()}, &m)) {
        state.SkipWithError("the program did not report its start-up");
        return;
      }
      uncached_shaders.push_back(ms(m["shaders_begin"], m["shaders_end"]));
      uncached_total.push_back(ms(m["spawn"], m["first_present"]));
      std::filesystem::remove_all(empty);
    }
    run_traced(program, warm_env, &m);
    for (int i = 0; i < kRuns; ++i) {
      std::map<std::string, long long> b, p;
      if (!run_traced(bare, {}, &b) || !run_traced(program, warm_env, &p)) {
        state.SkipWithError("a start did not report");
        return;
      }
      const double bt = ms(b["spawn"], b["first_present"]), pt = ms(p["spawn"], p["first_present"]);
      bare_total.push_back(bt);
      program_total.push_back(pt);
      ratio.push_back(pt / bt);
      phase["bare_before_main"].push_back(ms(b["spawn"], b["main"]));
      phase["before_main"].push_back(ms(p["spawn"], p["main"]));
      phase["window"].push_back(ms(p["main"], p["graphics_begin"]));
      phase["device"].push_back(ms(p["graphics_begin"], p["shaders_begin"]));
      phase["shaders"].push_back(ms(p["shaders_begin"], p["shaders_end"]));
      phase["to_picture"].push_back(ms(p["shaders_end"], p["picture_begin"]));
      phase["picture"].push_back(ms(p["picture_begin"], p["picture_end"]));
      phase["first_present"].push_back(ms(p["picture_end"], p["first_present"]));
    }
    state.SetIterationTime(median(program_total) / 1000.0);
  }
  state.counters["bare_ms"] = median(bare_total);
  state.counters["program_ms"] = median(program_total);
  state.counters["ratio"] = median(ratio);
  state.counters["uncached_ms"] = median(uncached_total);
  state.counters["uncached_shaders_ms"] = median(uncached_shaders);
  for (const auto& [name, values] : phase) state.counters[name + "_ms"] = median(values);
  std::filesystem::remove_all(warm);
}
BENCHMARK(BM_StartToFirstFrame)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
