// A schedule table for a test: the given entries first, the rest empty.
#pragma once

#include <initializer_list>

#include "core/Schedule.h"

namespace pw::test {

inline ScheduleTable Table(std::initializer_list<const char*> entries) {
    ScheduleTable table;
    size_t i = 0;
    for (const char* e : entries)
        table[i++] = e;
    return table;
}

} // namespace pw::test
