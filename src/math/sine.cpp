#include "math/sine.h"

#include <cmath>

namespace {

float sine_table[65536];

// Each angle is rounded to single precision first; the sine of that angle is
// taken in double so that every entry is the correctly rounded value.
struct SineTableFill {
  SineTableFill() {
    for (int i = 0; i < 65536; ++i) {
      const auto angle = static_cast<float>(6.283185307179586 * i / 65536.0);
      sine_table[i] = static_cast<float>(std::sin(static_cast<double>(angle)));
    }
  }
};

const SineTableFill sine_table_fill;

}  // namespace

const float* const g_sine_table = sine_table;
