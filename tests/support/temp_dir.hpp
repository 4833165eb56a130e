#pragma once
// The temporary folder of the tests lives with the process helpers.
#include "support/process.hpp"
