#pragma once
// Runs a test body on a thread of its own without CAP_DAC_OVERRIDE and
// CAP_DAC_READ_SEARCH, so permission bits bind even when the tests run as
// root. Capabilities belong to a thread: the rest of the process keeps them.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

namespace testsupport {

template <class F>
void run_without_permission_override(F&& body) {
  std::thread worker([&] {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) == 0) {
      data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
      ::syscall(SYS_capset, &header, data);
    }
    body();
  });
  worker.join();
}

}  // namespace testsupport
