// Names threads after the queue or thread label they serve. Linux keeps at most
// 15 characters of a thread name, so the kernel sees the label's tail; the full
// label stays readable through currentThreadLabel() for logs.
#pragma once

#include <string>
#include <string_view>

namespace orvex {

// Names the calling thread: the last dot-separated part of the label, cut to 15 bytes.
void setCurrentThreadLabel(std::string_view label);

// The full label given to the calling thread, or "" when it has none.
const std::string& currentThreadLabel();

// The kernel-visible form of a label (what setCurrentThreadLabel gives pthreads).
std::string kernelThreadName(std::string_view label);

} // namespace orvex
