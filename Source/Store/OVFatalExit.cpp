#include "Store/OVFatalExit.h"

#include "OVLogger.h"

#include <cstdio>
#include <cstdlib>

namespace orvex {

void exitWithFatalError(int code, const std::string& line) {
  OVLog(kLogMain, "{}", line);
  (void)std::fprintf(stderr, "%s\n", line.c_str());
  OVLogger::shared().flush();
  // Other threads are running: leave without static destructors under their feet.
  std::_Exit(code);
}

} // namespace orvex
