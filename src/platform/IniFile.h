// INI files with the class library's reader and writer behaviour: sections
// and keys are matched without regard to case, a missing file or key gives
// the default, writing keeps every other line of the file as it was, and
// UpdateFile writes the whole file through a temporary file and a rename.
// Text is UTF-8.
#pragma once

#include <string>
#include <vector>

class TIniFile {
public:
  // Reads the file when it exists; a missing or unreadable file is empty.
  explicit TIniFile(std::string path);

  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
  // A value that is not a whole number gives the default.
  int ReadInteger(const std::string& section, const std::string& key, int fallback) const;
  // "0" is false, any other number true; other text gives the default.
  bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;
  bool ValueExists(const std::string& section, const std::string& key) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  // Writes the file; raises EWriteError when it cannot.
  void UpdateFile() const;

  const std::string& FileName() const { return path_; }

private:
  struct TLine {
    std::string text;     // the line as read or written
    std::string section;  // the section it belongs to (lower case)
    std::string key;      // lower-case key, empty for other lines
    std::string value;
  };
  const TLine* find(const std::string& section, const std::string& key) const;

  std::string path_;
  std::vector<TLine> lines_;
};
