#include "TestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace pvltest {

namespace fs = std::filesystem;

std::string CorpusDir() { return PVL_CORPUS_DIR; }

std::string CorpusPath(const std::string& relative) { return CorpusDir() + "/" + relative; }

std::vector<std::string> CorpusPdfFiles() {
  std::vector<std::string> files;
  for (const char* sub : {"samples", "pdfjs"}) {
    fs::path dir = fs::path(CorpusDir()) / sub;
    if (!fs::is_directory(dir)) continue;
    for (auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file() && e.path().extension() == ".pdf") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "pvltest.XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

static std::string drain(int fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return out;
}

CommandResult RunCommand(const std::vector<std::string>& argv) {
  CommandResult result;
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
  }
  std::string err;
  std::thread errReader([&] { err = drain(errPipe[0]); });
  result.out = drain(outPipe[0]);
  errReader.join();
  result.err = std::move(err);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool InCI() {
  const char* ci = std::getenv("CI");
  if (!ci) return false;
  std::string value(ci);
  std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return std::tolower(c); });
  return value == "true" || value == "1" || value == "yes";
}

bool HaveTool(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path) {
    std::stringstream ss(path);
    std::string dir;
    while (std::getline(ss, dir, ':'))
      if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  // CI installs every peer tool: one that is missing there is a broken set-up,
  // and the test that wanted it must not skip itself (or return) green.
  if (InCI()) ADD_FAILURE() << program << " is missing, and CI=true requires every peer tool";
  return false;
}

bool HaveTools(std::initializer_list<const char*> programs) {
  for (const char* program : programs)
    if (!HaveTool(program)) return false;
  return true;
}

}  // namespace pvltest
