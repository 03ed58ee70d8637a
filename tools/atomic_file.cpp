#include "tools/atomic_file.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace classification {

namespace {

std::string describe(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// A new, empty temporary file beside path, with the target's permissions
// (or the usual ones for a new file). Returns its descriptor or -1.
int makeTemporary(const std::string& path, std::string& tempPath, std::string& error) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::vector<char> pattern(dir.begin(), dir.end());
  const std::string tail = "." + name + ".XXXXXX";
  pattern.insert(pattern.end(), tail.begin(), tail.end());
  pattern.push_back('\0');
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    error = describe("cannot create a temporary file in", dir.empty() ? "." : dir);
    return -1;
  }
  tempPath = pattern.data();
  struct stat st {};
  mode_t mode;
  if (::stat(path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  return fd;
}

bool syncAndClose(int fd, const std::string& tempPath, std::string& error) {
  if (::fsync(fd) != 0) {
    error = describe("cannot flush", tempPath);
    ::close(fd);
    return false;
  }
  if (::close(fd) != 0) {
    error = describe("cannot close", tempPath);
    return false;
  }
  return true;
}

bool commit(const std::string& tempPath, const std::string& path, std::string& error) {
  if (::rename(tempPath.c_str(), path.c_str()) != 0) {
    error = describe("cannot rename the temporary file to", path);
    return false;
  }
  return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& content, std::string& error) {
  std::string tempPath;
  const int fd = makeTemporary(path, tempPath, error);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = describe("cannot write", tempPath);
      ::close(fd);
      ::unlink(tempPath.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (!syncAndClose(fd, tempPath, error) || !commit(tempPath, path, error)) {
    ::unlink(tempPath.c_str());
    return false;
  }
  return true;
}

bool replaceFileAtomically(const std::string& path,
                           const std::function<bool(const std::string&, std::string&)>& writer,
                           std::string& error) {
  std::string tempPath;
  const int created = makeTemporary(path, tempPath, error);
  if (created < 0) return false;
  ::close(created);
  bool ok = writer(tempPath, error);
  if (ok) {
    const int fd = ::open(tempPath.c_str(), O_RDONLY);
    ok = fd >= 0 ? syncAndClose(fd, tempPath, error) : (error = describe("cannot open", tempPath), false);
  }
  if (!ok || !commit(tempPath, path, error)) {
    ::unlink(tempPath.c_str());
    return false;
  }
  return true;
}

void reportOversizedWrites() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace classification
