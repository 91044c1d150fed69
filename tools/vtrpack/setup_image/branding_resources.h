// The branding's side on the base program's resource tree, which the stamp
// calls before it lays the resources out again.
#pragma once

#include "pe_image.h"
#include "qor/setup_image/branding.h"

namespace QorPe {

// Refuses a base that lacks the launcher's resources (its window class
// name, its progress bar's bitmaps).
void CheckLauncher(StampInput& base, const TypeMap& resources);

// Replaces the resources that `branding` gives.
void ApplyBranding(StampInput& base, TypeMap& resources, const Branding& branding);

} // namespace QorPe
