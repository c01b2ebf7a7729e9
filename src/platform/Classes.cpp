#include "platform/Classes.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>

int64_t TStream::GetSize() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::string TStream::ReadAll() {
  std::string out;
  char chunk[65536];
  for (;;) {
    int64_t n = Read(chunk, sizeof chunk);
    if (n <= 0) break;
    out.append(chunk, static_cast<size_t>(n));
  }
  return out;
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  int64_t copied = 0;
  char chunk[65536];
  while (copied < count) {
    int64_t want = std::min<int64_t>(count - copied, sizeof chunk);
    source.ReadBuffer(chunk, want);
    WriteBuffer(chunk, want);
    copied += want;
  }
  return copied;
}

// ---------------------------------------------------------------------------

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t size = static_cast<int64_t>(data_.size());
  if (count <= 0 || position_ >= size) return 0;
  int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  size_t end = static_cast<size_t>(position_) + static_cast<size_t>(count);
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::soBeginning ? 0
                 : origin == TSeekOrigin::soCurrent ? position_
                                                    : static_cast<int64_t>(data_.size());
  int64_t pos = base + offset;
  if (pos < 0) pos = 0;
  position_ = pos;  // past the end is allowed; a later write fills the gap with zeros
  return position_;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) newSize = 0;
  data_.resize(static_cast<size_t>(newSize));
  if (position_ > newSize) position_ = newSize;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  data_ = ReadFileBytes(path);
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  data_ = source.ReadAll();
  position_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& path) const { WriteFileBytesAtomic(path, data_); }

void TMemoryStream::SaveToStream(TStream& dest) const {
  dest.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

// ---------------------------------------------------------------------------

static std::string errnoText(int err) { return std::strerror(err); }

TFileStream::TFileStream(const std::string& path, uint16_t mode) : path_(path) {
  if (mode == fmCreate) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw EFCreateError("Cannot create file \"" + path + "\": " + errnoText(errno));
    return;
  }
  int access = mode & 3;
  if (access == 3 || (mode >> 4) > 4) throw EFOpenError("Cannot open file \"" + path + "\": invalid mode");
  int flags = access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR;
  fd_ = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd_ < 0) throw EFOpenError("Cannot open file \"" + path + "\": " + errnoText(errno));
  struct stat st;
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw EFOpenError("Cannot open file \"" + path + "\": is a directory");
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t total = 0;
  auto* p = static_cast<char*>(buffer);
  while (total < count) {
    ssize_t n = ::read(fd_, p + total, static_cast<size_t>(std::min<int64_t>(count - total, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
  }
  return total;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t total = 0;
  auto* p = static_cast<const char*>(buffer);
  while (total < count) {
    ssize_t n = ::write(fd_, p + total, static_cast<size_t>(std::min<int64_t>(count - total, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
  }
  return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

void TFileStream::SetSize(int64_t newSize) {
  if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0)
    throw EOSError("Cannot resize \"" + path_ + "\": " + errnoText(errno));
  if (GetPosition() > newSize) Seek(newSize, TSeekOrigin::soBeginning);
}

std::string ReadFileBytes(const std::string& path) {
  TFileStream f(path, fmOpenRead | fmShareDenyWrite);
  std::string out = f.ReadAll();
  return out;
}

TAtomicFileStream::TAtomicFileStream(const std::string& path) : target_(path) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string name = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) throw EWriteError("Cannot write \"" + path + "\": " + errnoText(errno));
  path_ = std::move(name);
}

TAtomicFileStream::~TAtomicFileStream() {
  if (committed_) return;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(path_.c_str());
}

int64_t TAtomicFileStream::Write(const void* buffer, int64_t count) {
  errno = 0;
  const int64_t done = TFileStream::Write(buffer, count);
  if (done < count && error_ == 0) error_ = errno != 0 ? errno : ENOSPC;
  return done;
}

void TAtomicFileStream::Commit() {
  int err = error_;
  // Keep the permissions of a file being replaced; new files get the usual 0666 & ~umask.
  struct stat st;
  const bool replacing = ::stat(target_.c_str(), &st) == 0;
  // A file being replaced is flushed to the disk before the rename, so that a
  // crash cannot leave an empty file where the old one was; a new file has
  // nothing older to lose (page images written by the hundred skip the wait).
  if (err == 0 && replacing && ::fsync(fd_) != 0) err = errno;
  if (err == 0) {
    if (replacing) {
      ::fchmod(fd_, st.st_mode & 07777);
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      ::fchmod(fd_, 0666 & ~mask);
    }
  }
  if (::close(fd_) != 0 && err == 0) err = errno;
  fd_ = -1;
  if (err == 0 && ::rename(path_.c_str(), target_.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(path_.c_str());
    committed_ = true;  // nothing left to remove
    throw EWriteError("Cannot write \"" + target_ + "\": " + errnoText(err));
  }
  committed_ = true;
}

void WriteFileBytesAtomic(const std::string& path, std::string_view bytes) {
  TAtomicFileStream file(path);
  file.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
  file.Commit();
}

bool IsSameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  struct stat sa = {};
  struct stat sb = {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

const std::string* FindSameFile(const std::string& output, const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs)
    if (IsSameFile(output, input)) return &input;
  return nullptr;
}

// ---------------------------------------------------------------------------

// Days from 1899-12-30 to 1970-01-01.
static constexpr double kUnixEpochDays = 25569.0;

static int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

static void civilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  double frac = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
  return static_cast<double>(days) + kUnixEpochDays + frac;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  TDateTimeParts p{};
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) value = 0;  // keep within year 1..9999-ish
  // Work in whole milliseconds so that 23:59:59.9995 does not print as 24:00.
  int64_t totalMs = static_cast<int64_t>(std::llround((value - kUnixEpochDays) * 86400000.0));
  int64_t days = totalMs >= 0 ? totalMs / 86400000 : -((-totalMs + 86399999) / 86400000);
  int64_t ms = totalMs - days * 86400000;
  civilFromDays(days, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

TDateTime Now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t t = ts.tv_sec;
  struct tm local;
  localtime_r(&t, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

int LocalUtcOffsetMinutes(TDateTime localTime) {
  TDateTimeParts p = DecodeDateTime(localTime);
  struct tm tmv{};
  tmv.tm_year = p.year - 1900;
  tmv.tm_mon = p.month - 1;
  tmv.tm_mday = p.day;
  tmv.tm_hour = p.hour;
  tmv.tm_min = p.minute;
  tmv.tm_sec = p.second;
  tmv.tm_isdst = -1;  // let the zone rules decide summer time for this date
  if (mktime(&tmv) == static_cast<time_t>(-1)) return 0;
  return static_cast<int>(tmv.tm_gmtoff / 60);
}

// ---------------------------------------------------------------------------
// TStreamBytes

namespace {

// The whole of a regular, non-empty file mapped read-only; an empty view
// (errno telling why, 0 for a file that is empty or not regular) otherwise.
std::string_view mapWholeFile(int fd) {
  struct stat info {};
  errno = 0;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return {};
  void* map = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) return {};
  return std::string_view(static_cast<const char*>(map), static_cast<size_t>(info.st_size));
}

}  // namespace

TMappedFile::TMappedFile(const std::string& path) {
  TFileStream file(path, fmOpenRead | fmShareDenyWrite);
  view_ = mapWholeFile(file.Handle());
  if (!view_.empty()) return;
  struct stat info {};
  const int err = errno;
  if (fstat(file.Handle(), &info) != 0 || !S_ISREG(info.st_mode))
    throw EFOpenError("Cannot open file \"" + path + "\": not a regular file");
  if (info.st_size > 0) throw EFOpenError("Cannot open file \"" + path + "\": " + errnoText(err));
}

TMappedFile::~TMappedFile() {
  if (!view_.empty()) munmap(const_cast<char*>(view_.data()), view_.size());
}

TStreamBytes::TStreamBytes(TStream& stream) {
  if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
    view_ = memory->Bytes();
    return;
  }
  if (auto* file = dynamic_cast<TFileStream*>(&stream); file && file->Handle() >= 0) {
    mapped_ = mapWholeFile(file->Handle());
    if (!mapped_.empty()) {
      view_ = mapped_;
      return;
    }
  }
  stream.SetPosition(0);
  copy_ = stream.ReadAll();
  view_ = copy_;
}

TStreamBytes::~TStreamBytes() {
  if (!mapped_.empty()) munmap(const_cast<char*>(mapped_.data()), mapped_.size());
}

std::string CurrentExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an unknown failure";
  }
}
