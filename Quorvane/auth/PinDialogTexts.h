#pragma once
// The texts that depend on why the holder authenticates or signs: the sheet title (the PIN sheet's and the
// wallet sheet's), the PIN sheet's subtitle and the label of its confirm button. Localized.
#include <string>

#include "Quorvane/core/SigningReason.h"

std::string pinDialogTitle(const SigningReason& reason);
std::string pinDialogSubtitle(const SigningReason& reason);
std::string pinDialogButtonTitle(const SigningReason& reason);
