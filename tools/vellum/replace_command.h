// The command that changes a book: replace, which puts files in place of the
// entries they are named as, through the plug-in's packing.
#pragma once

#include "plugin.h"
#include "vellum.h"

#include <string>
#include <vector>

namespace vellum::tool {

int replaceCommand(const PluginExports& api, const Options& options, const std::vector<std::string>& files);

}  // namespace vellum::tool
