#include "sim_runner.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "child_process.h"

std::string simPath() {
  return NODLETFLASH_SIM;
}

double SimRun::number(const std::string& key) const {
  auto it = report.find(key);
  if (it == report.end()) {
    ADD_FAILURE() << "report has no " << key;
    return -1;
  }
  return std::strtod(it->second.c_str(), nullptr);
}

std::string SimRun::text(const std::string& key) const {
  auto it = report.find(key);
  if (it == report.end()) {
    ADD_FAILURE() << "report has no " << key;
    return "";
  }
  return it->second;
}

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::string freshReportPath() {
  static int counter = 0;
  return testing::TempDir() + "sim-report-" + std::to_string(getpid()) + "-" +
         std::to_string(++counter) + ".json";
}

void skipSpace(const std::string& s, size_t* i) {
  while (*i < s.size() && (s[*i] == ' ' || s[*i] == '\n' || s[*i] == '\r' || s[*i] == '\t')) {
    ++*i;
  }
}

bool parseString(const std::string& s, size_t* i, std::string* out) {
  if (*i >= s.size() || s[*i] != '"') {
    return false;
  }
  out->clear();
  for (++*i; *i < s.size(); ++*i) {
    char c = s[*i];
    if (c == '"') {
      ++*i;
      return true;
    }
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (++*i >= s.size()) {
      return false;
    }
    char e = s[*i];
    if (e == 'u') {
      if (*i + 4 >= s.size()) {
        return false;
      }
      out->push_back(static_cast<char>(std::strtol(s.substr(*i + 1, 4).c_str(), nullptr, 16)));
      *i += 4;
    } else if (e == 'n') {
      out->push_back('\n');
    } else {
      out->push_back(e);
    }
  }
  return false;
}

}  // namespace

bool parseFlatJson(const std::string& text, std::map<std::string, std::string>* values) {
  size_t i = 0;
  skipSpace(text, &i);
  if (i >= text.size() || text[i] != '{') {
    return false;
  }
  ++i;
  while (true) {
    skipSpace(text, &i);
    if (i < text.size() && text[i] == '}') {
      return true;
    }
    std::string key;
    if (!parseString(text, &i, &key)) {
      return false;
    }
    skipSpace(text, &i);
    if (i >= text.size() || text[i] != ':') {
      return false;
    }
    ++i;
    skipSpace(text, &i);
    std::string value;
    if (i < text.size() && text[i] == '"') {
      if (!parseString(text, &i, &value)) {
        return false;
      }
    } else {
      size_t start = i;
      while (i < text.size() && text[i] != ',' && text[i] != '}' && text[i] != '\n') {
        ++i;
      }
      value = text.substr(start, i - start);
      if (value.empty()) {
        return false;
      }
    }
    (*values)[key] = value;
    skipSpace(text, &i);
    if (i < text.size() && text[i] == ',') {
      ++i;
    }
  }
}

SimChild spawnSim(const std::vector<std::string>& args) {
  SimChild child;
  int fds[2];
  if (pipe(fds) != 0) {
    return child;
  }
  std::string program = simPath();
  std::vector<std::string> words = args;
  std::vector<char*> argv;
  argv.push_back(program.data());
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  child.pid = fork();
  if (child.pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  child.out = fds[0];
  return child;
}

SimRun runSim(std::vector<std::string> args) {
  std::string reportPath;
  bool named = false;
  for (const std::string& arg : args) {
    named = named || arg.rfind("--sim-report=", 0) == 0;
  }
  if (!named) {
    reportPath = freshReportPath();
    args.insert(args.begin(), "--sim-report=" + reportPath);
  }

  std::vector<std::string> argv = {simPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildResult child = runChild(argv);
  SimRun run;
  run.out = child.output;
  run.status = child.status;

  if (!reportPath.empty()) {
    std::string json = readFile(reportPath);
    if (!json.empty() && !parseFlatJson(json, &run.report)) {
      ADD_FAILURE() << "report is not a flat JSON object:\n" << json;
    }
    std::remove(reportPath.c_str());
  }
  return run;
}

std::string imagePayload(const std::string& path) {
  std::string bytes = readFile(path);
  std::string payload;
  std::istringstream lines(bytes);
  std::string line;
  while (std::getline(lines, line)) {
    for (size_t i = 1; i < line.size() && static_cast<signed char>(line[i]) >= 0x30; ++i) {
      payload.push_back(line[i]);
    }
  }
  return payload;
}

int imageRecords(const std::string& path) {
  std::string bytes = readFile(path);
  std::istringstream lines(bytes);
  std::string line;
  int records = 0;
  while (std::getline(lines, line)) {
    records += line.size() > 1 && static_cast<signed char>(line[1]) >= 0x30 ? 1 : 0;
  }
  return records;
}
