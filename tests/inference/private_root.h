// A private view of /root for one process: a mount namespace of its own in which /root shows the
// real entries (bind-mounted, so a build tree below /root stays reachable) plus a marlinx directory
// that lives in a tmpfs. Nothing is written to the real /root.
#ifndef INFERLET_TESTS_INFERENCE_PRIVATE_ROOT_H_
#define INFERLET_TESTS_INFERENCE_PRIVATE_ROOT_H_

#include <string>

namespace inferlet_test {

class PrivateRoot {
 public:
  PrivateRoot() = default;
  ~PrivateRoot();  // unmounts the scratch tmpfs and removes its (empty) mount point
  PrivateRoot(const PrivateRoot&) = delete;
  PrivateRoot& operator=(const PrivateRoot&) = delete;

  // Enters a new mount namespace (and a user namespace where the process is not root); false, with
  // the reason, where the system does not allow it. Must run while the process has one thread.
  bool EnterNamespace(std::string* why);

  // Mounts the private /root. With create_marlinx, /root/marlinx exists (empty) and is writable.
  bool MountView(bool create_marlinx, std::string* why);
  // After a failed MountView: the system forbids the mounts (rather than something going wrong).
  bool refused() const { return refused_; }

 private:
  std::string scratch_;  // tmpfs mount point, created under the temp directory
  bool refused_ = false;
};

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_INFERENCE_PRIVATE_ROOT_H_
