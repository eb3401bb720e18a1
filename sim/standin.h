// What the two stand-in libraries share: the simulator instance of the library (each library
// loaded into a process has its own), and the markers for the functions a library exports.
#ifndef STANDIN_H
#define STANDIN_H

#include "simulator.h"

// Everything else in a stand-in is hidden, so two stand-ins loaded side by side never share a
// simulator through the dynamic linker.
#ifdef _WIN32
#define BRELKSIM_EXPORT extern "C" __declspec(dllexport)
#define BRELKSIM_VENDOR_CALL __stdcall
#else
#define BRELKSIM_EXPORT extern "C" __attribute__((visibility("default")))
#define BRELKSIM_VENDOR_CALL
#endif

Simulator &standInSimulator();

#endif // STANDIN_H
