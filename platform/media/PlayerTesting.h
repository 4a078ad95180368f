#pragma once

#include "platform/media/Player.h"

namespace PlayerTesting {

// Makes a player on Qt Multimedia meet an error as its back end reports one. With `dead` the
// media goes from under it for good (the back end can show no further picture until the
// item is loaded again); without, only the error is reported while the media plays on.
// False for a player without a back end.
bool injectError(Player& player, bool dead);

} // namespace PlayerTesting
