#include "time/local.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace quorvale::time {

namespace {

// Closes a descriptor on every way out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// True when some '/'-separated element of name is "..".
bool HasDotDot(std::string_view name) {
  while (true) {
    const std::size_t slash = name.find('/');
    if (name.substr(0, slash) == "..") return true;
    if (slash == std::string_view::npos) return false;
    name.remove_prefix(slash + 1);
  }
}

}  // namespace

Zone::Result ReadZoneFile(const std::string& path) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is then
  // refused as no regular file.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) return {Zone(), Error("open " + path, errno)};
  struct stat st;
  if (::fstat(fd.get(), &st) != 0)
    return {Zone(), Error("stat " + path, errno)};
  if (!S_ISREG(st.st_mode)) return {Zone(), Error(path + ": not a file")};
  if (st.st_size < 0 ||
      static_cast<std::size_t>(st.st_size) > kMaxZoneFileSize) {
    return {Zone(), Error(path + ": too large")};
  }

  // The file may change under us: read until end of file, but never more
  // than the cap.
  std::string image(static_cast<std::size_t>(st.st_size) + 1, '\0');
  std::size_t size = 0;
  while (true) {
    if (size == image.size()) {
      if (size > kMaxZoneFileSize) return {Zone(), Error(path + ": too large")};
      image.resize(std::min(2 * size, kMaxZoneFileSize + 1));
    }
    const ssize_t n =
        ::read(fd.get(), image.data() + size, image.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {Zone(), Error("read " + path, errno)};
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  image.resize(size);
  return Zone::Parse(image);
}

LocalZone LoadLocal(const char* tz, const ZoneSources& sources) {
  LocalZone local;
  auto load = [&local](std::string path) {
    Zone::Result r = ReadZoneFile(path);
    if (r.err) return false;
    local.zone = std::move(r.zone);
    local.file = std::move(path);
    return true;
  };

  if (tz == nullptr) {
    load(std::string(sources.localtime));
    return local;
  }
  std::string_view name(tz);
  if (!name.empty() && name.front() == ':') name.remove_prefix(1);
  if (name.empty() || name == "UTC") return local;
  if (name.front() == '/') {
    load(std::string(name));
    return local;
  }
  if (HasDotDot(name)) return local;
  for (std::string_view dir : sources.dirs) {
    std::string path(dir);
    path += name;
    if (load(std::move(path))) break;
  }
  return local;
}

const Zone& Local() {
  // Built on first use, so that a run that never asks reads nothing;
  // deliberately never destroyed, so that it outlives every caller.
  static const Zone* const local = new Zone(LoadLocal(std::getenv("TZ")).zone);
  return *local;
}

}  // namespace quorvale::time
