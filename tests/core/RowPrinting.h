#pragma once
// How a failed check shows the rows of the buddy list and of the invite dialog's host list.

#include "core/uTasksBuddies.h"

#include <ostream>

inline void PrintTo(const TBuddyRow& row, std::ostream* os) {
    *os << '{' << row.UserID << '|' << row.Host << '|' << row.Address << '|' << row.DateTime << '}';
}
inline void PrintTo(const THostRow& row, std::ostream* os) {
    *os << '{' << row.Host << '|' << row.Number << '}';
}
