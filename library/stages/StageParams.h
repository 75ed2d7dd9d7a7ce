#pragma once

// The readers and checks of parameter values that the stages share.
namespace sigkit {

// A number as the standard text-to-double conversion reads it, stored as float: a text that is
// not a number reads as 0, NaN stays NaN, values beyond the float range become infinities.
float ReadNumber(const char* value);

// A rate that a stage can run at: a positive finite number of Hz.
bool RateUsable(float rate);
// Two rates between which the resampler can change a stream: both usable, their ratio too.
bool RatesUsable(float rateIn, float rateOut);

} // namespace sigkit
