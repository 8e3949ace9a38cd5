// After a window drops a large store (a values log's points, the traffic
// list), the allocator keeps the freed pages for the process unless asked to
// return them; this asks (glibc), elsewhere it does nothing.
#pragma once

namespace qvx {

void giveBackFreedMemory();

} // namespace qvx
