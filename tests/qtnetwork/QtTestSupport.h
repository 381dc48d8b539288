#pragma once
// The reliability suite builds on the transport suite's test support, from here.
#include "../transport/QtTestSupport.h"
