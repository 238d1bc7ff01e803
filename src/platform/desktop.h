#pragma once

// Desktop services: the workspace (open a URL, reveal files, icons), running applications,
// bundles and scripts. Each operation arrives with the first code that calls it.
namespace Desktop {
} // namespace Desktop
