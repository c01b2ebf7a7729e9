// Files on UTF-16 paths: the paths are converted to the UTF-8 names the
// system takes. Sharing modes are carried by advisory locks (flock): the
// system has no mandatory sharing, so they hold between the engine's own
// streams, which is where the engine relies on them.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "objects/PavonaExtra.h"

std::string WidePathToNative(std::u16string_view path) { return WideToUTF8(path); }

std::u16string NativePathToWide(std::string_view path) { return UTF8ToWide(path); }

namespace {

struct OpenResult {
  TPavonaFileHandle handle = kInvalidFileHandle;
  std::string reason;
};

std::string errnoText(int err) { return std::strerror(err); }

// The lock that stands for a sharing mode: exclusive for "no sharing",
// shared for "others may read" and "others may write", none for "others may
// read and write".
int lockForSharing(int sharing) {
  if (sharing <= 1) return LOCK_EX;
  if (sharing <= 3) return LOCK_SH;
  return 0;
}

bool takeLock(int fd, int lock, std::string& reason) {
  if (lock == 0) return true;
  while (::flock(fd, lock | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    reason = errno == EWOULDBLOCK ? "the file is in use by another stream" : errnoText(errno);
    return false;
  }
  return true;
}

OpenResult openExisting(std::u16string_view path, uint16_t mode) {
  OpenResult r;
  int access = mode & 3;
  int sharing = mode >> 4;
  if (access == 3 || sharing > 4) {
    r.reason = "invalid open mode";
    return r;
  }
  std::string native = WidePathToNative(path);
  int flags = (access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR) | O_CLOEXEC;
  int fd = ::open(native.c_str(), flags);
  if (fd < 0) {
    r.reason = errnoText(errno);
    return r;
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    r.reason = errnoText(EISDIR);
    return r;
  }
  if (!takeLock(fd, lockForSharing(sharing), r.reason)) {
    ::close(fd);
    return r;
  }
  r.handle = fd;
  return r;
}

OpenResult createFile(std::u16string_view path) {
  OpenResult r;
  std::string native = WidePathToNative(path);
  // Truncate only once the lock is held, so a file another stream holds is left intact.
  int fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    r.reason = errnoText(errno);
    return r;
  }
  if (!takeLock(fd, LOCK_EX, r.reason)) {
    ::close(fd);
    return r;
  }
  if (::ftruncate(fd, 0) != 0) {
    r.reason = errnoText(errno);
    ::close(fd);
    return r;
  }
  r.handle = fd;
  return r;
}

}  // namespace

TPavonaWideFileStream::TPavonaWideFileStream(TPavonaFileHandle handle, std::string path) {
  fd_ = handle;
  path_ = std::move(path);
}

int64_t TPavonaWideFileStream::Read(void* buffer, int64_t count) {
  if (fd_ < 0) return 0;
  return TFileStream::Read(buffer, count);
}

// A write that cannot store every byte raises with the path and the reason,
// so a truncated file is never taken for a saved one.
int64_t TPavonaWideFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (fd_ < 0) throw EWriteError("Cannot write \"" + path_ + "\": the file is not open");
  int64_t total = 0;
  auto* p = static_cast<const char*>(buffer);
  while (total < count) {
    ssize_t n = ::write(fd_, p + total, static_cast<size_t>(std::min<int64_t>(count - total, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : ENOSPC;
      throw EWriteError("Cannot write \"" + path_ + "\": " + errnoText(err));
    }
    total += n;
  }
  return total;
}

int64_t TPavonaWideFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (fd_ < 0) return -1;
  return TFileStream::Seek(offset, origin);
}

// Moves to the requested size and ends the file there.
void TPavonaWideFileStream::SetSize(int64_t newSize) {
  if (fd_ < 0 || newSize < 0 || Seek(newSize, TSeekOrigin::soBeginning) < 0 ||
      ::ftruncate(fd_, static_cast<off_t>(newSize)) != 0) {
    int err = fd_ < 0 ? EBADF : newSize < 0 ? EINVAL : errno;
    throw EOSError("Cannot set the size of \"" + path_ + "\": " + errnoText(err));
  }
}

std::unique_ptr<TPavonaWideFileStream> CreateWideFileStream(std::u16string_view path, uint16_t mode) {
  OpenResult r = mode == fmCreate ? createFile(path) : openExisting(path, mode);
  std::string native = WidePathToNative(path);
  if (r.handle == kInvalidFileHandle) throw EFCreateError("Error: \"" + native + "\": " + r.reason);
  return std::make_unique<TPavonaWideFileStream>(r.handle, native);
}

TPavonaFileHandle WideFileOpen(std::u16string_view path, uint16_t mode) { return openExisting(path, mode).handle; }

TPavonaFileHandle WideFileCreate(std::u16string_view path) { return createFile(path).handle; }

// Last-write time as a local DOS date-time. Times before 1980 (which DOS
// cannot hold) give 1980-01-01 00:00, so an old file still counts as present.
int32_t WideFileAge(std::u16string_view path) {
  struct stat st;
  std::string native = WidePathToNative(path);
  if (::stat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  time_t t = st.st_mtime;
  struct tm local;
  if (localtime_r(&t, &local) == nullptr) return -1;
  int year = local.tm_year + 1900;
  uint32_t dos;
  if (year < 1980) {
    dos = (1u << 21) | (1u << 16);
  } else {
    if (year > 2107) year = 2107;
    dos = (static_cast<uint32_t>(year - 1980) << 25) | (static_cast<uint32_t>(local.tm_mon + 1) << 21) |
          (static_cast<uint32_t>(local.tm_mday) << 16) | (static_cast<uint32_t>(local.tm_hour) << 11) |
          (static_cast<uint32_t>(local.tm_min) << 5) | (static_cast<uint32_t>(local.tm_sec) / 2);
  }
  return static_cast<int32_t>(dos);
}

bool WideFileExists(std::u16string_view path) {
  struct stat st;
  std::string native = WidePathToNative(path);
  return ::stat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool WideDirectoryExists(std::u16string_view path) {
  struct stat st;
  std::string native = WidePathToNative(path);
  return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFileWide(std::u16string_view path) {
  std::string native = WidePathToNative(path);
  return ::unlink(native.c_str()) == 0;
}

namespace {

// Start of the file-name part: after the last "\" or "/", or after a drive
// prefix "X:". Other ":" belong to the name on this system.
size_t fileNameStart(std::u16string_view path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i)
    if (path[i] == u'\\' || path[i] == u'/') start = i + 1;
  if (start == 0 && path.size() >= 2 && path[1] == u':' &&
      ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')))
    start = 2;
  return start;
}

}  // namespace

std::u16string WideExtractFileName(std::u16string_view path) {
  return std::u16string(path.substr(fileNameStart(path)));
}

std::u16string WideExtractFilePath(std::u16string_view path) {
  return std::u16string(path.substr(0, fileNameStart(path)));
}

std::u16string WideExtractFileExt(std::u16string_view path) {
  std::u16string_view name = path.substr(fileNameStart(path));
  size_t dot = name.rfind(u'.');
  return dot == std::u16string_view::npos ? std::u16string() : std::u16string(name.substr(dot));
}

void StreamInsertString(TMemoryStream& stream, std::string_view bytes, int64_t position) {
  if (bytes.empty()) return;
  std::string& data = stream.Bytes();
  int64_t size = static_cast<int64_t>(data.size());
  int64_t kept = stream.GetPosition();
  position = std::clamp<int64_t>(position, 0, size);
  data.insert(static_cast<size_t>(position), bytes);
  stream.SetPosition(kept >= position ? kept + static_cast<int64_t>(bytes.size()) : kept);
}
