#pragma once
// Plausible readings of a three-phase meter, chosen by OBIS code: voltages
// near 230 V, currents, powers that follow them, a mains frequency near 50 Hz,
// and energy registers that grow while the simulator runs.

#include <string_view>

#include "SimClock.h"

// Reading of the quantity named by `obis` on meter instance 1..5 at time `t`,
// in the unit a meter shows (V, A, kW, kvar, kVA, Hz, kWh, kvarh). Codes the simulator
// does not know get a steady value of their own between 0 and 999.
double SimulatedQuantity(std::string_view obis, int instance, const TSimTime& t);

// The decimals a meter keeps of this quantity: three for energies (it counts
// watt-hours), two for the others.
int QuantityDecimals(std::string_view obis);
