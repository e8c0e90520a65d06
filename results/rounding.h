#pragma once

// Rounding as a certificate prints: on the decimal value, by GB/T 8170
// (beyond half up, below half down, exactly half to an even last digit),
// never on the binary double (40.0415 is 40.04149999… in binary and would
// come out 40.041). An expanded uncertainty keeps at most two significant
// digits at any size (481 is printed 480), and its figure is rounded to the
// same place.

#include <QString>

namespace results {

// `value` rounded to `decimals` places (negative: to tens, hundreds, …),
// printed with that many decimals (none when negative). Empty for a value
// that is not finite.
QString roundDecimal(double value, int decimals);

// The decimal place (as `decimals` above) of the second significant digit
// of `expanded` once rounded (0.0996 rounds to 0.10, two decimals; 481 to
// 480, -1).
int uncertaintyPlace(double expanded);

} // namespace results
