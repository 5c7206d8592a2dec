// The whole math library.
#pragma once

#include "math/color.h"
#include "math/geometry.h"
#include "math/mat4.h"
#include "math/plane.h"
#include "math/quad2d.h"
#include "math/quat.h"
#include "math/sine.h"
#include "math/spline.h"
#include "math/text.h"
#include "math/transform.h"
#include "math/vec.h"
