#pragma once

// The moments of a save that turns a single-file project into a folder at which another
// process saving the same package matters most. A test sets `Package::hold` (in a child
// process it starts) to stop the save there while another one goes on. The program never
// sets it: a save then costs one comparison with null at each moment.
namespace Package {

enum class Moment {
    FoundSingleFile,   // a single file stands at the package's name; not yet opened
    OpenedSingleFile,  // opened; not yet locked
    CheckedSingleFile, // locked and still at the name; about to be moved aside
};

inline void (*hold)(Moment) = nullptr;

} // namespace Package
