// The operation table handed to FUSE. Its callbacks are plain C functions
// (orvex_getattr, orvex_readdir, ...) that find their drive through the private
// data of the FUSE context, so one process can serve several drives at once.
#pragma once

struct fuse_operations;

namespace orvex {

// The table: built once, shared by every mount. The private data of a mount
// must be its OVFuseCallback.
const fuse_operations& orvex_oper();

} // namespace orvex
