#include "Dispatch/ThreadName.h"

#include <pthread.h>

namespace orvex {

namespace {
thread_local std::string tlsLabel;
constexpr std::size_t kMaxKernelName = 15;
} // namespace

std::string kernelThreadName(std::string_view label) {
  const auto dot = label.rfind('.');
  std::string_view tail = dot == std::string_view::npos ? label : label.substr(dot + 1);
  if (tail.empty()) {
    tail = label;
  }
  return std::string(tail.substr(0, kMaxKernelName));
}

void setCurrentThreadLabel(std::string_view label) {
  tlsLabel.assign(label);
  pthread_setname_np(pthread_self(), kernelThreadName(label).c_str());
}

const std::string& currentThreadLabel() {
  return tlsLabel;
}

} // namespace orvex
