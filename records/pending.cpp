// Temporary files that replace their targets on commit.
#include "records/pending.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "records/cleanup.h"

namespace rec {

namespace {

mode_t creation_mask() {
  static const mode_t mask = [] {
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
  }();
  return mask;
}

}  // namespace

bool PendingFile::create(const std::filesystem::path& target) {
  abort();
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  const std::string full = target.string();
  const std::size_t cut = full.rfind('/');
  const std::size_t at = cut == std::string::npos ? 0 : cut + 1;
  // The hidden name keeps at most 200 characters of the target's, within NAME_MAX.
  std::string tmpl = full.substr(0, at);
  tmpl.append(".").append(full, at, 200).append(".XXXXXX");
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  cleanup::SignalsHeld held;
  const int fd = ::mkstemp(buf.data());
  if (fd < 0) return false;
  const int slot = cleanup::add(buf.data());
  std::FILE* fp = slot < 0 ? nullptr : ::fdopen(fd, "wb");
  if (fp == nullptr) {
    const int err = slot < 0 ? ENAMETOOLONG : errno;
    ::close(fd);
    ::unlink(buf.data());
    cleanup::release(slot);
    errno = err;
    return false;
  }
  // mkstemp makes the file private: a replaced file keeps its permissions, a new one
  // gets those of any new file here.
  ::fchmod(fd, exists ? (st.st_mode & 0777) : (0666 & ~creation_mask()));
  std::setvbuf(fp, nullptr, _IOFBF, 1u << 16);
  target_ = target;
  temp_ = buf.data();
  fp_ = fp;
  slot_ = slot;
  return true;
}

bool PendingFile::finish() {
  if (fp_ == nullptr) return true;
  bool ok = std::fflush(fp_) == 0;
  int err = errno;
  if (std::fclose(fp_) != 0 && ok) {
    ok = false;
    err = errno;
  }
  fp_ = nullptr;
  errno = err;
  return ok;
}

bool PendingFile::commit() {
  if (temp_.empty()) return true;
  bool ok = finish();
  int err = errno;
  if (ok && std::rename(temp_.c_str(), target_.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) ::unlink(temp_.c_str());
  cleanup::release(slot_);
  temp_.clear();
  slot_ = -1;
  errno = err;
  return ok;
}

void PendingFile::abort() {
  if (fp_ != nullptr) {
    std::fclose(fp_);
    fp_ = nullptr;
  }
  if (temp_.empty()) return;
  cleanup::SignalsHeld held;
  ::unlink(temp_.c_str());
  cleanup::release(slot_);
  temp_.clear();
  slot_ = -1;
}

}  // namespace rec
