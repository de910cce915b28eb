#pragma once

#include <string>

namespace velkor {

// The machine variables a new workspace starts with, in the variables file's form.
std::string workspaceDefaultVariables();

}  // namespace velkor
