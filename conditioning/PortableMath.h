// Elementary functions that give the same bits on every architecture.
//
// libm's sin, log, exp2 and their kind round differently on i386 and x86-64,
// so anything computed from them (filter designs, FFT twiddles, note
// frequencies) would differ between the command-line tool and the LV2
// plug-ins. These are built from + - * / and sqrt alone, which SSE2 rounds
// the same everywhere, and are accurate to a few ulp; they are not correctly
// rounded, so they need not match libm bit for bit.
#pragma once

namespace tonevolt {

// Accurate for |x| < 1e8; beyond that still deterministic, with the error
// growing with |x|. Infinite or NaN x gives NaN.
double PortableSin(double x);
double PortableCos(double x);
double PortableTan(double x);

// Infinity above the largest double, 0 below the smallest subnormal.
double PortableExp2(double x);
double PortableExp(double x);
double PortablePow10(double x);

// NaN below 0, -infinity at 0.
double PortableLog2(double x);
double PortableLog(double x);
double PortableLog10(double x);

}  // namespace tonevolt
