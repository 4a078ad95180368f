#pragma once

#include <QString>

// A length, or a time within a Short: minutes, a colon and seconds with one decimal
// ("1:15.2"). Seconds are taken before rounding, so 59.96 reads "0:60.0", and a
// negative time keeps its sign in the seconds ("0:-5.0"). Not-a-number, infinite and
// out-of-range values read "–:––.–".
QString span(double seconds);
