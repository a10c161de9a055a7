#include "private_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace inferlet_test {
namespace {

constexpr const char* kRoot = "/root";
constexpr const char* kModelDir = "marlinx";

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

bool WriteProcFile(const std::string& path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  file.flush();
  return static_cast<bool>(file);
}

// Gives the process a mount namespace; an unprivileged process (or root without CAP_SYS_ADMIN in the
// current user namespace) gets a user namespace first that maps its own ids to root.
bool Unshare(std::string* why) {
  if (geteuid() == 0 && unshare(CLONE_NEWNS) == 0) return true;
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
    *why = Failure("unshare(CLONE_NEWUSER | CLONE_NEWNS)");
    return false;
  }
  if (!WriteProcFile("/proc/self/setgroups", "deny") ||
      !WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
      !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) {
    *why = "cannot map ids in the new user namespace";
    return false;
  }
  return true;
}

// Recreates one entry of /root inside the view and binds the real one over it; symbolic links are
// copied as links.
bool MirrorEntry(const std::string& name, const std::string& view, std::string* why) {
  const std::string real = std::string(kRoot) + "/" + name;
  const std::string mirror = view + "/" + name;
  struct stat st {};
  if (lstat(real.c_str(), &st) != 0) return true;  // vanished meanwhile
  if (S_ISLNK(st.st_mode)) {
    std::vector<char> target(4096);
    const ssize_t n = readlink(real.c_str(), target.data(), target.size() - 1);
    if (n < 0 || symlink(std::string(target.data(), static_cast<size_t>(n)).c_str(), mirror.c_str()) != 0) {
      *why = Failure("copying link " + real);
      return false;
    }
    return true;
  }
  const bool made = S_ISDIR(st.st_mode) ? mkdir(mirror.c_str(), 0700) == 0
                                        : close(open(mirror.c_str(), O_CREAT | O_WRONLY, 0600)) == 0;
  if (!made || mount(real.c_str(), mirror.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
    *why = Failure("binding " + real);
    return false;
  }
  return true;
}

}  // namespace

PrivateRoot::~PrivateRoot() {
  if (scratch_.empty()) return;
  umount2(kRoot, MNT_DETACH);
  umount2(scratch_.c_str(), MNT_DETACH);
  rmdir(scratch_.c_str());
}

bool PrivateRoot::EnterNamespace(std::string* why) {
  if (!Unshare(why)) return false;
  // Private propagation first, so that no mount below leaks into the namespace we came from.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    *why = Failure("making mounts private");
    return false;
  }
  return true;
}

bool PrivateRoot::MountView(bool create_marlinx, std::string* why) {
  struct stat root_stat {};
  if (stat(kRoot, &root_stat) != 0 || !S_ISDIR(root_stat.st_mode)) {
    *why = "this system has no /root directory to mount over";
    return false;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/inferlet-root-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    *why = Failure("mkdtemp");
    return false;
  }
  scratch_ = pattern;
  if (mount("tmpfs", scratch_.c_str(), "tmpfs", 0, "mode=0755") != 0) {
    refused_ = errno == EPERM || errno == EACCES;
    *why = Failure("mounting a tmpfs");
    return false;
  }
  const std::string view = scratch_ + "/root";
  if (mkdir(view.c_str(), root_stat.st_mode & 07777) != 0) {
    *why = Failure("mkdir " + view);
    return false;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(kRoot), closedir);
  if (!dir && errno != EACCES) {
    *why = Failure("listing /root");
    return false;
  }
  // A /root this user may not list holds nothing the process could reach, so the view stays empty.
  for (dirent* entry; dir && (entry = readdir(dir.get())) != nullptr;) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == kModelDir) continue;
    if (!MirrorEntry(name, view, why)) return false;
  }
  if (create_marlinx && mkdir((view + "/" + kModelDir).c_str(), 0755) != 0) {
    *why = Failure("mkdir marlinx");
    return false;
  }
  if (mount(view.c_str(), kRoot, nullptr, MS_BIND | MS_REC, nullptr) != 0) {
    refused_ = errno == EPERM || errno == EACCES;
    *why = Failure("binding the view over /root");
    return false;
  }
  // Whatever is written to /root/marlinx from now on must land in the tmpfs.
  struct stat model_dir {};
  struct stat scratch {};
  if (create_marlinx && (stat("/root/marlinx", &model_dir) != 0 || stat(scratch_.c_str(), &scratch) != 0 ||
                         model_dir.st_dev != scratch.st_dev)) {
    *why = "/root/marlinx is not on the private tmpfs";
    return false;
  }
  return true;
}

}  // namespace inferlet_test
