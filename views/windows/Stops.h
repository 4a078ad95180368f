#pragma once

// The cancel tokens of work that a window started and that the activity window may
// stop: an Ask AI request ("ask") or an export ("export"). The model runs one of each
// kind at a time, so the kind names the job. Whoever starts the work holds its token
// here until the work has returned.

#include "platform/Cancel.h"

#include <QString>
#include <optional>

namespace Stops {

// Holds `cancel` for `kind` and returns a ticket for `release`.
int hold(const QString& kind, const Cancel& cancel);
// Lets go of the token held with `ticket` (a later holder's token stays).
void release(const QString& kind, int ticket);
// The token held for `kind`, if any.
std::optional<Cancel> held(const QString& kind);

} // namespace Stops
