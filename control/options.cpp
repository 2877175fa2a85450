#include "control/options.hpp"
