// Figures of this process that the long-running tests watch for growth: resident memory, open
// file descriptors and loaded shared objects. They come from /proc and the dynamic loader, so
// they exist on Linux only; elsewhere every figure is -1.
#ifndef PROCESSFIGURES_H
#define PROCESSFIGURES_H

#include <QtGlobal>

namespace ProcessFigures {

// VmRSS of /proc/self/status.
qint64 residentKilobytes();
int openFileCount();
// Shared objects the loader has mapped; with a fragment, only those whose path contains it.
int loadedObjectCount(const char *pathFragment = nullptr);
// AddressSanitizer keeps freed blocks in quarantine, so resident memory grows under it whatever
// the program does; a bound on that growth then says nothing.
bool sanitizerHoldsFreedMemory();

} // namespace ProcessFigures

#endif // PROCESSFIGURES_H
