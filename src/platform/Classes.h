// Class-library basics the engine stands on: exceptions with a message and
// the stream family (memory, file, string). Paths handed to the file stream
// are UTF-8; wide (UTF-16) paths are converted by the callers in the object
// layer.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Base of every exception the engine raises; carries a message.
class Exception : public std::runtime_error {
public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// Inside a catch block: the message of the exception being handled ("an
// unknown failure" for one that carries none), so that a handler that goes
// on can still say what went wrong.
std::string CurrentExceptionText();

class EStreamError : public Exception {
public:
  using Exception::Exception;
};
// A file could not be created or opened.
class EFCreateError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
// Text that is not a number where one was required.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};
// An operating-system call failed; the message names the call and the reason.
class EOSError : public Exception {
public:
  using Exception::Exception;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// Abstract byte stream with a 64-bit position.
class TStream {
public:
  virtual ~TStream() = default;
  // Reads up to count bytes; returns the number read (0 at the end or on failure).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes up to count bytes; returns the number written (0 on failure).
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(int64_t newSize) = 0;

  int64_t GetPosition() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  virtual int64_t GetSize();

  // Reads or writes exactly count bytes or raises EReadError / EWriteError.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  void WriteString(std::string_view bytes) { WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size())); }
  // Reads every byte from the position to the end.
  std::string ReadAll();
  // Copies count bytes from source (count 0: the whole source from position 0).
  // Returns the number of bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// Stream over a growable block of memory.
class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string_view bytes) : data_(bytes) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int64_t GetSize() override { return static_cast<int64_t>(data_.size()); }

  void Clear();
  // The stream's whole content.
  const std::string& Bytes() const { return data_; }
  std::string& Bytes() { return data_; }
  char* Memory() { return data_.data(); }
  // Loads a whole file (UTF-8 path); raises EFOpenError / EReadError.
  void LoadFromFile(const std::string& path);
  void LoadFromStream(TStream& source);
  // Writes the whole content to a file through a temporary file and a rename.
  void SaveToFile(const std::string& path) const;
  void SaveToStream(TStream& dest) const;

private:
  std::string data_;
  int64_t position_ = 0;
};

// Memory stream that starts from a byte string (the class library's string stream).
class TStringStream : public TMemoryStream {
public:
  TStringStream() = default;
  explicit TStringStream(std::string_view bytes) : TMemoryStream(bytes) {}
  std::string DataString() const { return Bytes(); }
};

// File open modes of the class library.
constexpr uint16_t fmCreate = 0xFFFF;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;

// Stream over a POSIX file descriptor. Closes the file when destroyed.
class TFileStream : public TStream {
public:
  // Opens (or with fmCreate creates/truncates) the file at a UTF-8 path;
  // raises EFCreateError / EFOpenError with the path and the reason.
  TFileStream(const std::string& path, uint16_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  const std::string& Path() const { return path_; }
  // The open file descriptor (for mapping the file; not to be closed).
  int Handle() const { return fd_; }

protected:
  TFileStream() = default;
  int fd_ = -1;
  std::string path_;
};

// A file written in full or not at all: the bytes go to a temporary file
// in the target's folder, and Commit flushes it and renames it over the
// target (keeping the permissions of a file it replaces). Without Commit the
// temporary file is removed and the target stays as it was.
class TAtomicFileStream : public TFileStream {
public:
  // Raises EWriteError when the temporary file cannot be made.
  explicit TAtomicFileStream(const std::string& path);
  ~TAtomicFileStream() override;
  int64_t Write(const void* buffer, int64_t count) override;
  // Raises EWriteError with the target's path and the reason (also for a
  // write that failed before); the target is then untouched.
  void Commit();

private:
  std::string target_;
  int error_ = 0;
  bool committed_ = false;
};

// A read-only view of a stream's bytes: a file stream is mapped into memory
// (pages are read when touched), a memory stream is used in place, any other
// stream is read once. The stream must outlive the view.
class TStreamBytes {
public:
  explicit TStreamBytes(TStream& stream);
  ~TStreamBytes();
  TStreamBytes(const TStreamBytes&) = delete;
  TStreamBytes& operator=(const TStreamBytes&) = delete;
  std::string_view View() const { return view_; }

private:
  std::string_view mapped_;  // the file's mapping, when there is one
  std::string copy_;
  std::string_view view_;
};

// A whole regular file mapped read-only (pages are read when touched, and
// shared with every other process reading the file). Raises EFOpenError
// with the path and the reason; an empty file has an empty view.
class TMappedFile {
public:
  explicit TMappedFile(const std::string& path);
  ~TMappedFile();
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;
  std::string_view View() const { return view_; }

private:
  std::string_view view_;  // the mapping
};

// Reads a whole file into a byte string (UTF-8 path); raises EFOpenError / EReadError.
std::string ReadFileBytes(const std::string& path);
// Writes bytes to a file safely: a temporary file in the target's folder,
// flushed, then renamed over the target. Raises EWriteError with the path and
// the reason; the original file is untouched on failure.
void WriteFileBytesAtomic(const std::string& path, std::string_view bytes);
// True when both paths name one existing file (the same device and inode),
// however they are spelled: "./a.pdf", a symbolic link to it or another hard
// link all count. A path that names no file is nobody's twin. Every operation
// that writes an output checks it against its inputs with this, so that an
// output never replaces what it is made from.
bool IsSameFile(const std::string& a, const std::string& b);
// The first of inputs that output names (IsSameFile), or nullptr.
const std::string* FindSameFile(const std::string& output, const std::vector<std::string>& inputs);

// Date-time values of the class library: days since 1899-12-30, the fraction
// being the time of day.
using TDateTime = double;
// The current local date and time.
TDateTime Now();
// Local offset from UTC in minutes east, for the given local date-time
// (summer time included). 0 when it cannot be determined.
int LocalUtcOffsetMinutes(TDateTime localTime);
// Splits a date-time into its fields.
struct TDateTimeParts {
  int year, month, day, hour, minute, second, millisecond;
};
TDateTimeParts DecodeDateTime(TDateTime value);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond);
