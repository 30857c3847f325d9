#pragma once
// Forced into the Windows cross builds of the code that includes Blitz++: its
// headers call the Bessel functions j0 j1 y0 y1, which the Microsoft C runtime
// only offers with a leading underscore.
#ifdef __cplusplus
extern "C" {
#endif
double __cdecl _j0(double);
double __cdecl _j1(double);
double __cdecl _y0(double);
double __cdecl _y1(double);
#ifdef __cplusplus
}
#endif
static inline double j0(double x) { return _j0(x); }
static inline double j1(double x) { return _j1(x); }
static inline double y0(double x) { return _y0(x); }
static inline double y1(double x) { return _y1(x); }
