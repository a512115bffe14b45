#include "ParamList.h"

#include <gtest/gtest.h>
