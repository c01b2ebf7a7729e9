// What the pvl commands share: the parsed command line, failures with their
// exit status, and the command table that each pvl*.cpp file adds to.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

class TPavona;

namespace pvl {

constexpr int kExitOk = 0;
constexpr int kExitPassword = 1;
constexpr int kExitUnreadable = 2;
// Wrong usage, and for the page commands: a page failed.
constexpr int kExitUsage = 3;
constexpr int kExitPageFailed = 3;

struct Failure {
  int status;
  std::string reason;
};

struct Options {
  std::vector<std::string> positional;
  std::string password;
  bool raw = false;
  // Every other "--name value" (or "--name=value"), by name without dashes.
  std::map<std::string, std::string> named;

  // The named value, or fallback when it was not given.
  std::string Value(const std::string& name, const std::string& fallback = "") const;
  bool Has(const std::string& name) const { return named.count(name) != 0; }
  // The named value as an integer within [low, high]; usage failure otherwise.
  long Integer(const std::string& name, long fallback, long low, long high) const;
  double Number(const std::string& name, double fallback, double low, double high) const;
};

using Command = std::function<int(const Options&)>;

// Adds a command to the table; returns true so it can initialise a static.
bool RegisterCommand(const std::string& name, const std::string& usage, Command command);

// Writes bytes to standard output; a failure is a Failure.
void WriteOut(const std::string& bytes);

// A usage failure, before anything is written, when output names one of the
// inputs however it is spelled (a symbolic link, "./", another hard link):
// no command writes over what it reads.
void RefuseOutputOverInput(const std::string& output, const std::vector<std::string>& inputs);
// Loads a file into the facade. A failure says why: wrong password (exit
// status 1), or "cannot open PATH as a PDF file: " and the facade's cause
// (not found, the reader's object and offset; exit status 2).
void LoadOrFail(TPavona& facade, const std::string& path, const std::string& password);
// The facade's cause of its last failure, for "what: cause" lines.
std::string CauseOf(const TPavona& facade);

}  // namespace pvl
