// A configuration problem as vekpack and vek report it.
#pragma once

#include <string>

#include "stubconfig.h"

namespace vek::tools {

// "WHERE:LINE: KEY: PROBLEM", with the length and the limit of a value that is too
// long and the key as written when it is unknown.
std::string DescribeConfigResult(const std::string& where, const ConfigResult& result);

}  // namespace vek::tools
