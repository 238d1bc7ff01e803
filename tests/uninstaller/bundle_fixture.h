#pragma once
// Moved to tests/support; this forwarder keeps the includes of tests/platform and tests/ui
// building until they name support/bundle_fixture.h.
#include "support/bundle_fixture.h"
