#include "report/console.hpp"
