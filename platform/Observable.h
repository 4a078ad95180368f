#pragma once

// Stores `value` into `field` and says whether it changed, so setters notify only on a
// real change.
template <class T, class U>
bool assign(T& field, U&& value)
{
    if (field == value)
        return false;
    field = std::forward<U>(value);
    return true;
}
