// Benchmark driver: times the bridge functions against floors measured in the same run and
// writes the report. Each figure alternates measured and floor runs so that load from other
// processes on the machine falls on both alike.
//
//   plinthos-bench --build DIR --data DIR --work DIR --report FILE [--command TEXT] [--quick]
//                  [--only NAME,...]
//   plinthos-bench --mem-query SQLFILE     (child: peak memory of one queryDuckCpp call)
//   plinthos-bench --mem-convert OUTFILE   (child: peak memory of converting engine output)
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/bridge_table.h"
#include "app/dispatch.h"
#include "services/query.h"

extern char** environ;

namespace fs = std::filesystem;
using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

namespace {

// Bump when the generated data changes, so an old data folder is not reused.
constexpr const char* kDataStamp = ".bench-data-v1";
constexpr long kSalesRows = 10'000'000;
constexpr long kRowsPerFile = 1'000'000;
constexpr int kFirstYear = 2020;
constexpr int kYears = 5;
constexpr long kAnswerRows = 100'000;
constexpr long kDeepOffset = 5'000'000;
constexpr int kPageSize = 10;
constexpr int kListingFolders = 1000;
constexpr int kFilesPerFolder = 100;
constexpr std::size_t kPipeChunk = 1 << 16;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr std::uintmax_t kShmNeeded = 4ull << 30;

// ---------------------------------------------------------------------------------------------
// Small helpers

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename F>
double timed(F&& body) {
  auto start = Clock::now();
  body();
  return secondsSince(start);
}

// A child process started directly (no shell), stdin from a file, stdout and stderr merged
// into a pipe that is read to the end.
struct ChildRun {
  double seconds = 0;
  int exitCode = -1;
  std::size_t outputBytes = 0;
  std::string output;  // only when asked to keep it
};

ChildRun runChild(const std::vector<std::string>& argv, const std::string& cwd,
                  const std::string& stdinPath, bool keepOutput) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, stdinPath.empty() ? "/dev/null" : stdinPath.c_str(),
                                   O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  ChildRun run;
  auto start = Clock::now();
  pid_t pid = 0;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
  std::vector<char> buffer(kPipeChunk);
  for (;;) {
    ssize_t n = ::read(fds[0], buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.outputBytes += static_cast<std::size_t>(n);
    if (keepOutput) run.output.append(buffer.data(), static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.seconds = secondsSince(start);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

ChildRun mustRun(const std::vector<std::string>& argv, const std::string& cwd,
                 const std::string& stdinPath, bool keepOutput) {
  // The output is kept anyway so that a failure can say what went wrong.
  ChildRun run = runChild(argv, cwd, stdinPath, true);
  if (run.exitCode != 0) {
    throw std::runtime_error(argv[0] + " failed (" + std::to_string(run.exitCode) +
                             "): " + run.output.substr(0, 2000));
  }
  if (!keepOutput) run.output.clear();
  return run;
}

long statusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  std::size_t keyLen = std::strlen(key);
  while (std::getline(in, line)) {
    if (line.compare(0, keyLen, key) == 0 && line.size() > keyLen && line[keyLen] == ':') {
      return std::atol(line.c_str() + keyLen + 1);
    }
  }
  return -1;
}

// Resets the peak resident size (VmHWM) to the current one.
bool resetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

// ---------------------------------------------------------------------------------------------
// Statistics

struct Stats {
  double median = 0, min = 0, max = 0, q1 = 0, q3 = 0;
  std::size_t n = 0;
};

double quantile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  double pos = q * static_cast<double>(sorted.size() - 1);
  std::size_t lo = static_cast<std::size_t>(std::floor(pos));
  std::size_t hi = std::min(lo + 1, sorted.size() - 1);
  return sorted[lo] + (sorted[hi] - sorted[lo]) * (pos - static_cast<double>(lo));
}

Stats statsOf(std::vector<double> values) {
  Stats s;
  std::sort(values.begin(), values.end());
  s.n = values.size();
  if (values.empty()) return s;
  s.median = quantile(values, 0.5);
  s.q1 = quantile(values, 0.25);
  s.q3 = quantile(values, 0.75);
  s.min = values.front();
  s.max = values.back();
  return s;
}

// ---------------------------------------------------------------------------------------------
// Report rows

enum class Unit { Seconds, MiB };

struct Row {
  std::string figure;
  std::string floorName;
  Unit unit = Unit::Seconds;
  std::vector<double> measured;
  std::vector<double> floor;
  double goal = 0;   // ratio threshold; 0 = report only
  std::string note;  // why a figure could not be measured, or what to read into it
  bool available = true;
};

std::string fixed(double v, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return buf;
}

std::string formatValue(double v, Unit unit) {
  if (unit == Unit::MiB) return fixed(v / kMiB, 1) + " MiB";
  double ms = v * 1000;
  if (ms >= 1000) return fixed(v, 2) + " s";
  if (ms >= 100) return fixed(ms, 0) + " ms";
  if (ms >= 10) return fixed(ms, 1) + " ms";
  return fixed(ms, 2) + " ms";
}

std::string spreadText(const Stats& s, Unit unit) {
  if (s.n == 0) return "";
  if (s.n == 1) return "n=1";
  return formatValue(s.min, unit) + "–" + formatValue(s.max, unit) + " (IQR " +
         formatValue(s.q1, unit) + "–" + formatValue(s.q3, unit) + ")";
}

std::string cellEscape(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '|') {
      out += "\\|";
    } else if (c == '\n') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// The bridge, as the window would call it, with a save dialog that answers from a queue.

class QueuedDialogs : public plinthos::Dialogs {
 public:
  std::optional<std::string> chooseFolder() override { return next(); }
  std::optional<std::string> chooseCsvDestination() override { return next(); }
  void answer(const std::string& path) { answers_.push_back(path); }

 private:
  std::optional<std::string> next() {
    if (answers_.empty()) return std::nullopt;
    std::string a = answers_.front();
    answers_.pop_front();
    return a;
  }
  std::deque<std::string> answers_;
};

// The window's own way to a reply: the call posted to the dispatcher, run on its worker, the
// reply handed to the main thread's queue and delivered from there (the window queues it on the
// GTK main context and hands it to the web view).
class WindowPath {
 public:
  WindowPath(plinthos::BridgeEnv env)
      : dispatcher_(
            plinthos::bridgeTable(env),
            [this](const std::string&, const std::string& json) { reply_ = json; },
            [this](std::function<void()> task) {
              std::lock_guard lock(mutex_);
              tasks_.push_back(std::move(task));
              posted_.notify_one();
            }) {}

  // Posts one call and runs the main thread's queue until its reply is delivered.
  std::string call(const std::string& name, const std::string& args) {
    const auto& table = dispatcher_.table();
    std::size_t index = 0;
    while (index < table.size() && table[index].name != name) ++index;
    if (index == table.size()) throw std::runtime_error("no bridge function " + name);
    reply_.reset();
    dispatcher_.post(index, "bench", args);
    while (!reply_) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        posted_.wait(lock, [&] { return !tasks_.empty(); });
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
    return *reply_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> tasks_;
  std::optional<std::string> reply_;  // only the main thread (this one) touches it
  plinthos::Dispatcher dispatcher_;
};

struct Paths {
  fs::path build, data, work, exe, engine, capi, self;
  fs::path sales() const { return data / "sales"; }
  fs::path listing() const { return data / "listing"; }
};

class Bridge {
 public:
  Bridge(const Paths& paths) {
    plinthos::BridgeEnv env;
    env.exePath = paths.exe.string();
    env.duckdbPath = paths.engine.string();
    env.dialogs = &dialogs_;
    for (auto& binding : plinthos::bridgeTable(env)) functions_[binding.name] = binding.call;
  }
  bool has(const std::string& name) const { return functions_.count(name) > 0; }
  std::string call(const std::string& name, const std::string& args) {
    auto it = functions_.find(name);
    if (it == functions_.end()) throw std::runtime_error("no bridge function " + name);
    return it->second(plinthos::CallArgs(args));
  }
  std::string callSql(const std::string& name, const std::string& sql) {
    return call(name, json::array({sql}).dump());
  }
  QueuedDialogs& dialogs() { return dialogs_; }

 private:
  QueuedDialogs dialogs_;
  std::map<std::string, plinthos::BridgeFunction> functions_;
};

// The configuration the services read through HOME.
void setBucketPath(const fs::path& folder) {
  const char* home = std::getenv("HOME");
  if (!home || !*home) throw std::runtime_error("HOME is not set");
  fs::path dir = fs::path(home) / ".config" / "plinthos";
  fs::create_directories(dir);
  json config = {{"bucketPath", folder.string()},
                 {"savedQueries", json::array()},
                 {"dashboards", json::array()}};
  writeFile(dir / "config.json", config.dump(2));
}

// A reply that carries an error text, or "" when it is a plain result.
std::string replyError(const std::string& reply) {
  json parsed = json::parse(reply, nullptr, false);
  if (parsed.is_discarded()) return "reply is not JSON: " + reply.substr(0, 200);
  if (parsed.is_object() && parsed.contains("error")) {
    return parsed["error"].is_string() ? parsed["error"].get<std::string>() : parsed.dump();
  }
  return {};
}

// ---------------------------------------------------------------------------------------------
// Data, generated by the engine program and kept beside the build for the next run.

std::string sqlLiteral(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string salesScript() {
  std::ostringstream sql;
  long filesPerYear = kSalesRows / kRowsPerFile / kYears;
  long first = 0;
  for (int y = 0; y < kYears; ++y) {
    int year = kFirstYear + y;
    for (long part = 0; part < filesPerYear; ++part, first += kRowsPerFile) {
      // hash() gives the same "random" values on every run.
      sql << "COPY (SELECT i AS id,\n"
          << "  DATE '" << year << "-01-01' + CAST(i % 365 AS INTEGER) AS sale_date,\n"
          << "  (['Electronics','Clothing','Home','Books','Toys','Garden','Sports','Beauty'])"
             "[CAST(hash(i) % 8 AS INTEGER) + 1] AS product_category,\n"
          << "  'Product ' || CAST(hash(i + 1) % 5000 AS VARCHAR) AS product_name,\n"
          << "  (['North','South','East','West','Central'])[CAST(hash(i + 2) % 5 AS INTEGER) + 1]"
             " AS region,\n"
          << "  CAST(1 + hash(i + 3) % 20 AS INTEGER) AS quantity,\n"
          << "  CAST(hash(i + 4) % 100000 AS DOUBLE) / 100 AS unit_price,\n"
          << "  round(CAST(1 + hash(i + 3) % 20 AS INTEGER) * CAST(hash(i + 4) % 100000 AS DOUBLE)"
             " / 100, 2) AS sale_amount,\n"
          << "  CAST(hash(i + 5) % 200000 AS BIGINT) AS customer_id,\n"
          << "  hash(i + 6) % 10 = 0 AS is_return\n"
          << "FROM range(" << first << ", " << first + kRowsPerFile << ") t(i))\n"
          << "TO 'sales/" << year << "/part-" << part << ".parquet' (FORMAT PARQUET);\n";
    }
  }
  return sql.str();
}

// Ten group folders g0..g9, each holding 99 sub-folders d00..d98: 1,000 folders in all, each
// with 100 data files (csv and parquet names alternating; the listing never reads them).
void writeListingExact(const fs::path& root) {
  int folders = 0;
  for (int g = 0; g < 10; ++g) {
    char group[16];
    std::snprintf(group, sizeof group, "g%d", g);
    std::vector<fs::path> dirs{root / group};
    for (int d = 0; d < kListingFolders / 10 - 1; ++d) {
      char sub[16];
      std::snprintf(sub, sizeof sub, "d%02d", d);
      dirs.push_back(root / group / sub);
    }
    for (const auto& dir : dirs) {
      fs::create_directories(dir);
      ++folders;
      for (int f = 0; f < kFilesPerFolder; ++f) {
        char name[32];
        bool csv = f % 2 == 0;
        std::snprintf(name, sizeof name, "file%03d.%s", f, csv ? "csv" : "parquet");
        writeFile(dir / name, csv ? "id,value\n1,2\n" : "PAR1");
      }
    }
  }
  if (folders != kListingFolders) throw std::runtime_error("listing layout is off");
}

std::string prepareData(const Paths& p) {
  if (fs::exists(p.data / kDataStamp)) return "reused from an earlier run";
  fs::remove_all(p.data);
  fs::create_directories(p.data);
  for (int y = 0; y < kYears; ++y)
    fs::create_directories(p.sales() / std::to_string(kFirstYear + y));
  fs::path script = p.work / "generate.sql";
  writeFile(script, salesScript());
  double gen = timed([&] {
    mustRun({p.engine.string(), ":memory:"}, p.data.string(), script.string(), false);
  });
  double list = timed([&] { writeListingExact(p.listing()); });
  writeFile(p.data / kDataStamp, "");
  return "generated (Parquet by the engine program in " + fixed(gen, 1) + " s, listing files in " +
         fixed(list, 1) + " s)";
}

// ---------------------------------------------------------------------------------------------
// Measurement

struct Options {
  int reps = 0;  // 0: the figure's own default
  bool quick = false;
  std::set<std::string> only;
};

int repsFor(const Options& o, int normal) {
  if (o.reps > 0) return o.reps;
  return o.quick ? std::max(2, normal / 3) : normal;
}

// Measured and floor runs alternate (order swapped every round) after one warm-up of each.
void paired(Row& row, int reps, const std::function<double()>& measured,
            const std::function<double()>& floor, bool warmup = true) {
  if (warmup) {
    measured();
    floor();
  }
  for (int i = 0; i < reps; ++i) {
    if (i % 2 == 0) {
      row.measured.push_back(measured());
      row.floor.push_back(floor());
    } else {
      row.floor.push_back(floor());
      row.measured.push_back(measured());
    }
  }
}

class Bench {
 public:
  Bench(Paths paths, Options options) : p_(std::move(paths)), o_(std::move(options)), bridge_(p_) {}

  std::vector<Row> runAll() {
    std::vector<std::pair<std::string, std::function<void()>>> figures = {
        {"page", [&] { pageQuery(); }},        {"answer", [&] { answer(); }},
        {"dispatch", [&] { dispatchPath(); }}, {"convert", [&] { convert(); }},
        {"select42", [&] { select42(); }},     {"paginate", [&] { paginate(); }},
        {"listing", [&] { listing(); }},       {"export", [&] { exportCsv(); }},
    };
    for (auto& [name, run] : figures) {
      if (!o_.only.empty() && !o_.only.count(name)) continue;
      std::cerr << "bench: " << name << "..." << std::endl;
      std::size_t before = rows_.size();
      try {
        run();
      } catch (const std::exception& e) {
        if (rows_.size() == before)
          rows_.push_back(Row{name, "", Unit::Seconds, {}, {}, 0, "", true});
        rows_.back().available = false;
        rows_.back().note = e.what();
      }
    }
    return rows_;
  }

 private:
  std::string glob() const { return "read_parquet('" + p_.sales().string() + "/**/*.parquet')"; }
  std::string base() const { return "SELECT * FROM " + glob(); }

  void requireBridge(const std::string& name) {
    if (!bridge_.has(name)) throw std::runtime_error(name + " is not in the bridge table yet");
  }

  // One bridge call; the first reply of a figure is checked so an error is never timed as a
  // result.
  double queryOnce(const std::string& sql, bool check) {
    std::string reply;
    double t = timed([&] { reply = bridge_.callSql("queryDuckCpp", sql); });
    if (check) {
      std::string error = replyError(reply);
      if (!error.empty()) throw std::runtime_error("queryDuckCpp failed: " + error.substr(0, 500));
    }
    return t;
  }

  double engineOnce(const fs::path& script, bool jsonMode) {
    std::vector<std::string> argv{p_.engine.string(), ":memory:"};
    if (jsonMode) argv.push_back("-json");
    return mustRun(argv, p_.sales().string(), script.string(), false).seconds;
  }

  fs::path script(const std::string& name, const std::string& sql) {
    fs::path path = p_.work / name;
    writeFile(path, sql);
    return path;
  }

  void pageQuery() {
    rows_.push_back({"Page query (LIMIT 10 OFFSET 0) via queryDuckCpp, 10M-row Parquet folder",
                     "engine program, same SQL file, same folder",
                     Unit::Seconds,
                     {},
                     {},
                     1.05,
                     ""});
    requireBridge("queryDuckCpp");
    setBucketPath(p_.sales());
    std::string sql = base() + " LIMIT 10 OFFSET 0";
    fs::path file = script("page.sql", sql);
    queryOnce(sql, true);
    paired(
        rows_.back(), repsFor(o_, 21), [&] { return queryOnce(sql, false); },
        [&] { return engineOnce(file, true); });
  }

  void answer() {
    rows_.push_back({"100,000-row, 10-column answer via queryDuckCpp",
                     "same engine run",
                     Unit::Seconds,
                     {},
                     {},
                     1.3,
                     ""});
    requireBridge("queryDuckCpp");
    setBucketPath(p_.sales());
    std::string sql = base() + " LIMIT " + std::to_string(kAnswerRows);
    fs::path file = script("answer.sql", sql);
    // The engine's output, kept for the conversion figure and as the memory yardstick.
    ChildRun out = mustRun({p_.engine.string(), ":memory:", "-json"}, p_.sales().string(),
                           file.string(), true);
    answerOutput_ = p_.work / "answer.json";
    writeFile(answerOutput_, out.output);
    queryOnce(sql, true);
    paired(
        rows_.back(), repsFor(o_, 9), [&] { return queryOnce(sql, false); },
        [&] { return engineOnce(file, true); });

    double outputBytes = static_cast<double>(out.output.size());
    Row whole{"Peak memory of that queryDuckCpp call (above the process's resident size before it)",
              "engine output size",
              Unit::MiB,
              {},
              {},
              4.0,
              ""};
    Row conv{"Peak memory of the conversion alone (output text already in memory)",
             "engine output size",
             Unit::MiB,
             {},
             {},
             4.0,
             ""};
    int reps = repsFor(o_, 5);
    for (int i = 0; i < reps; ++i) {
      whole.measured.push_back(memChild("--mem-query", file));
      whole.floor.push_back(outputBytes);
      conv.measured.push_back(memChild("--mem-convert", answerOutput_));
      conv.floor.push_back(outputBytes);
    }
    rows_.push_back(whole);
    rows_.push_back(conv);
  }

  // The same answer as the window gets it: through the dispatcher's worker and the main
  // thread's queue, timed from the post until the reply is delivered.
  void dispatchPath() {
    rows_.push_back(
        {"100,000-row, 10-column answer through the window's dispatch path "
         "(posted, run on the worker, reply delivered on the main thread)",
         "same engine run",
         Unit::Seconds,
         {},
         {},
         1.3,
         ""});
    setBucketPath(p_.sales());
    std::string sql = base() + " LIMIT " + std::to_string(kAnswerRows);
    fs::path file = script("answer.sql", sql);
    WindowPath window(plinthos::BridgeEnv{p_.exe.string(), p_.engine.string(), nullptr});
    const std::string args = json::array({sql}).dump();
    auto once = [&](bool check) {
      std::string reply;
      double t = timed([&] { reply = window.call("queryDuckCpp", args); });
      if (check && !replyError(reply).empty()) {
        throw std::runtime_error("queryDuckCpp failed: " + replyError(reply).substr(0, 500));
      }
      return t;
    };
    once(true);
    paired(
        rows_.back(), repsFor(o_, 9), [&] { return once(false); },
        [&] { return engineOnce(file, true); });
  }

  double memChild(const std::string& mode, const fs::path& file) {
    ChildRun run = mustRun({p_.self.string(), mode, file.string(), "--build", p_.build.string()},
                           p_.work.string(), "", true);
    std::istringstream in(run.output);
    double peak = -1;
    in >> peak;
    if (peak < 0) throw std::runtime_error("memory child said: " + run.output.substr(0, 300));
    return peak;
  }

  void convert() {
    rows_.push_back({"Converting the 100,000-row answer's engine output (queryResultFromOutput)",
                     "ordered_json::parse of the same text",
                     Unit::Seconds,
                     {},
                     {},
                     2.0,
                     ""});
    if (answerOutput_.empty()) throw std::runtime_error("needs the answer figure first");
    std::string text = readFile(answerOutput_);
    if (!plinthos::queryResultFromOutput(text)) throw std::runtime_error("conversion failed");
    paired(
        rows_.back(), repsFor(o_, 11),
        [&] {
          return timed([&] {
            auto result = plinthos::queryResultFromOutput(text);
            if (!result) std::abort();
          });
        },
        [&] {
          return timed([&] {
            ordered_json parsed = ordered_json::parse(text);
            if (!parsed.is_array()) std::abort();
          });
        });
    // What any converter built on this JSON library pays at least: the parser, no document.
    std::vector<double> accept;
    for (int i = 0; i < repsFor(o_, 11); ++i) {
      accept.push_back(timed([&] {
        if (!json::accept(text)) std::abort();
      }));
    }
    rows_.back().note = "json::accept (parse, no document) of the same text: median " +
                        formatValue(statsOf(accept).median, Unit::Seconds);
  }

  void select42() {
    rows_.push_back({"SELECT 42 through the engine program (-json), end to end",
                     "minimal C API program, same query",
                     Unit::Seconds,
                     {},
                     {},
                     1.2,
                     ""});
    fs::path file = script("select42.sql", "SELECT 42;\n");
    ChildRun check =
        mustRun({p_.engine.string(), ":memory:", "-json"}, p_.work.string(), file.string(), true);
    if (check.output.find("42") == std::string::npos) {
      throw std::runtime_error("engine printed " + check.output.substr(0, 200));
    }
    paired(
        rows_.back(), repsFor(o_, 31),
        [&] {
          return mustRun({p_.engine.string(), ":memory:", "-json"}, p_.work.string(), file.string(),
                         false)
              .seconds;
        },
        [&] {
          return mustRun({p_.capi.string(), "SELECT 42"}, p_.work.string(), "", false).seconds;
        });
  }

  void paginate() {
    rows_.push_back({"Paginated table: count + page statements at offset 5,000,000",
                     "the same two at offset 0",
                     Unit::Seconds,
                     {},
                     {},
                     3.0,
                     ""});
    requireBridge("queryDuckCpp");
    setBucketPath(p_.sales());
    std::string count = "SELECT COUNT(*) as cnt FROM (\n" + base() + "\n) AS _paginated_subq";
    auto page = [&](long offset) {
      return base() + "\nLIMIT " + std::to_string(kPageSize) + " OFFSET " + std::to_string(offset);
    };
    std::string deep = page(kDeepOffset), first = page(0);
    queryOnce(count, true);
    queryOnce(deep, true);
    paired(
        rows_.back(), repsFor(o_, 7),
        [&] { return queryOnce(count, false) + queryOnce(deep, false); },
        [&] { return queryOnce(count, false) + queryOnce(first, false); });
  }

  void listing() {
    rows_.push_back({"listBucketCpp, 100,000 files in 1,000 folders",
                     "find -printf '%s %B@ %p\\n' over the same files",
                     Unit::Seconds,
                     {},
                     {},
                     2.0,
                     ""});
    requireBridge("listBucketCpp");
    setBucketPath(p_.listing());
    std::string reply = bridge_.call("listBucketCpp", "[]");
    std::string error = replyError(reply);
    if (!error.empty()) throw std::runtime_error("listBucketCpp failed: " + error.substr(0, 300));
    std::size_t files = 0;
    std::function<void(const json&)> countFiles = [&](const json& node) {
      if (node.value("type", "") == "file") ++files;
      if (node.contains("children")) {
        for (const auto& c : node["children"]) countFiles(c);
      }
    };
    countFiles(json::parse(reply));
    if (files != static_cast<std::size_t>(kListingFolders * kFilesPerFolder)) {
      throw std::runtime_error("listing holds " + std::to_string(files) + " files");
    }
    std::vector<std::string> find{"/usr/bin/find", p_.listing().string(), "-type", "f",
                                  "-printf",       "%s %B@ %p\n"};
    paired(
        rows_.back(), repsFor(o_, 7),
        [&] { return timed([&] { bridge_.call("listBucketCpp", "[]"); }); },
        [&] { return mustRun(find, p_.work.string(), "", false).seconds; });
  }

  void exportCsv() {
    rows_.push_back({"exportToCsvCpp of all 10,000,000 rows",
                     "engine program on the COPY script",
                     Unit::Seconds,
                     {},
                     {},
                     1.1,
                     ""});
    requireBridge("exportToCsvCpp");
    setBucketPath(p_.sales());
    // On tmpfs when there is room, so disk write-back from other processes does not swamp the
    // difference being measured.
    fs::path dest = p_.work;
    std::error_code ec;
    if (fs::space("/dev/shm", ec).available > kShmNeeded && !ec) dest = fs::path("/dev/shm");
    fs::path ours = dest / ("plinthos-bench-export-" + std::to_string(::getpid()) + ".csv");
    fs::path theirs = dest / ("plinthos-bench-floor-" + std::to_string(::getpid()) + ".csv");
    fs::path copy = script("copy.sql", "COPY (\n" + base() + "\n) TO " +
                                           sqlLiteral(theirs.string()) + " (FORMAT CSV, HEADER)");
    auto clean = [&] {
      fs::remove(ours);
      fs::remove(theirs);
      ::sync();
    };
    auto measured = [&] {
      bridge_.dialogs().answer(ours.string());
      std::string reply;
      double t = timed([&] { reply = bridge_.callSql("exportToCsvCpp", base()); });
      std::string error = replyError(reply);
      if (!error.empty())
        throw std::runtime_error("exportToCsvCpp failed: " + error.substr(0, 300));
      if (!exportSize_) exportSize_ = fs::file_size(ours);
      clean();
      return t;
    };
    auto floor = [&] {
      double t = engineOnce(copy, false);
      if (!floorSize_) floorSize_ = fs::file_size(theirs);
      clean();
      return t;
    };
    paired(rows_.back(), repsFor(o_, 3), measured, floor, !o_.quick);
    if (exportSize_ != floorSize_) {
      rows_.back().note =
          "file sizes differ: " + std::to_string(exportSize_) + " vs " + std::to_string(floorSize_);
    } else {
      rows_.back().note = "CSV of " + fixed(static_cast<double>(exportSize_) / kMiB, 0) +
                          " MiB written to " + dest.string();
    }
  }

  Paths p_;
  Options o_;
  Bridge bridge_;
  std::vector<Row> rows_;
  fs::path answerOutput_;
  std::uintmax_t exportSize_ = 0, floorSize_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Children that measure one peak each, in a fresh process.

int memQuery(const Paths& p, const fs::path& sqlFile) {
  Bridge bridge(p);
  std::string args = json::array({readFile(sqlFile)}).dump();
  malloc_trim(0);
  long before = statusKb("VmRSS");
  if (!resetPeak()) return 3;
  std::string reply = bridge.call("queryDuckCpp", args);
  long peak = statusKb("VmHWM");
  if (!replyError(reply).empty()) {
    std::cout << "error " << reply.substr(0, 200) << "\n";
    return 1;
  }
  std::cout << (peak - before) * 1024.0 << " " << reply.size() << "\n";
  return 0;
}

int memConvert(const fs::path& outputFile) {
  std::string text = readFile(outputFile);
  malloc_trim(0);
  long before = statusKb("VmRSS");
  if (!resetPeak()) return 3;
  auto result = plinthos::queryResultFromOutput(text);
  long peak = statusKb("VmHWM");
  if (!result) return 1;
  std::cout << (peak - before) * 1024.0 << " " << result->size() << "\n";
  return 0;
}

// ---------------------------------------------------------------------------------------------
// The report

std::string cpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      auto colon = line.find(':');
      if (colon != std::string::npos) return line.substr(colon + 2);
    }
  }
  return "unknown";
}

std::string memTotal() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  long kb = 0;
  while (in >> key >> kb) {
    if (key == "MemTotal:") return fixed(static_cast<double>(kb) / 1024 / 1024, 1) + " GiB";
    in.ignore(1 << 10, '\n');
  }
  return "unknown";
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

std::string report(const std::vector<Row>& rows, const std::string& command,
                   const std::string& dataNote, const std::string& loadBefore, double total) {
  std::ostringstream out;
  struct utsname u {};
  ::uname(&u);
  out << "# Plinthos benchmark report\n\n";
  out << "- Command: `" << command << "`\n";
  out << "- Machine: " << sysconf(_SC_NPROCESSORS_ONLN) << " CPUs (nproc), " << cpuModel() << ", "
      << memTotal() << " memory, " << u.sysname << " " << u.release << "\n";
  out << "- Load average before / after: " << loadBefore << " / " << loadAverage()
      << " (the machine is shared; ratios are taken within one run, measured and floor runs"
         " alternating)\n";
  out << "- Data: 10,000,000 rows in 10 Parquet files under 5 folders, 10 columns; " << dataNote
      << "\n";
  out << "- Total bench time: " << fixed(total, 0) << " s\n\n";
  out << "| figure | N | median | floor | floor median | ratio | spread (measured; floor: min–max, "
         "IQR) "
         "| goal | result |\n";
  out << "|---|---|---|---|---|---|---|---|---|\n";
  for (const auto& r : rows) {
    if (!r.available) {
      out << "| " << cellEscape(r.figure) << " | 0 | – | " << cellEscape(r.floorName)
          << " | – | – | – | " << (r.goal > 0 ? "≤ " + fixed(r.goal, 2) : "report") << " | "
          << "not measured: " << cellEscape(r.note) << " |\n";
      continue;
    }
    Stats m = statsOf(r.measured), f = statsOf(r.floor);
    double ratio = f.median > 0 ? m.median / f.median : 0;
    std::string result = r.goal <= 0 ? "report" : (ratio <= r.goal ? "met" : "missed");
    std::string spread = spreadText(m, r.unit);
    std::string floorSpread = spreadText(f, r.unit);
    if (f.min != f.max) spread += "; " + floorSpread;
    out << "| " << cellEscape(r.figure) << " | " << m.n << " | " << formatValue(m.median, r.unit)
        << " | " << cellEscape(r.floorName) << " | " << formatValue(f.median, r.unit) << " | "
        << fixed(ratio, 3) << " | " << spread << " | ≤ " << fixed(r.goal, 2) << " | " << result
        << (r.note.empty() ? "" : " (" + cellEscape(r.note) + ")") << " |\n";
  }
  return out.str();
}

fs::path selfPath() {
  return fs::read_symlink("/proc/self/exe");
}

Paths pathsFor(const fs::path& build) {
  Paths p;
  p.build = fs::absolute(build);
  p.exe = p.build / "Plinthos.app/Contents/MacOS/Plinthos";
  p.engine = p.build / "Plinthos.app/Contents/Resources/duckdb";
  p.capi = p.build / "bench/plinthos-bench-capi";
  p.self = selfPath();
  return p;
}

int usage() {
  std::cerr
      << "usage: plinthos-bench --build DIR --data DIR --work DIR --report FILE "
         "[--command TEXT] [--quick] [--reps N] [--only page,answer,dispatch,convert,select42,"
         "paginate,listing,export]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::map<std::string, std::string> opts;
    bool quick = false;
    std::string childMode, childFile;
    for (int i = 1; i < argc; ++i) {
      std::string a = argv[i];
      if (a == "--quick") {
        quick = true;
      } else if ((a == "--mem-query" || a == "--mem-convert") && i + 1 < argc) {
        childMode = a;
        childFile = argv[++i];
      } else if (a.rfind("--", 0) == 0 && i + 1 < argc) {
        opts[a.substr(2)] = argv[++i];
      } else {
        return usage();
      }
    }
    if (!opts.count("build")) return usage();
    Paths p = pathsFor(opts["build"]);
    if (childMode == "--mem-query") return memQuery(p, childFile);
    if (childMode == "--mem-convert") return memConvert(childFile);
    if (!opts.count("data") || !opts.count("work") || !opts.count("report")) return usage();
    p.data = fs::absolute(opts["data"]);
    p.work = fs::absolute(opts["work"]);
    fs::create_directories(p.work);

    Options o;
    o.quick = quick;
    if (opts.count("reps")) o.reps = std::stoi(opts["reps"]);
    if (opts.count("only")) {
      std::stringstream names(opts["only"]);
      std::string name;
      while (std::getline(names, name, ',')) o.only.insert(name);
    }
    auto start = Clock::now();
    std::string loadBefore = loadAverage();
    std::cerr << "bench: preparing data in " << p.data << std::endl;
    std::string dataNote = prepareData(p);
    Bench bench(p, o);
    std::vector<Row> rows = bench.runAll();
    std::string text = report(rows, opts.count("command") ? opts["command"] : "plinthos-bench",
                              dataNote, loadBefore, secondsSince(start));
    writeFile(opts["report"], text);
    std::cout << text;
    bool allMeasured =
        std::all_of(rows.begin(), rows.end(), [](const Row& r) { return r.available; });
    return allMeasured ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "plinthos-bench: " << e.what() << "\n";
    return 1;
  }
}
