#pragma once
#include <cstdint>

namespace qlm {
// Lists projects (all, or those of the communication profile `profname` when not null).
int cfListProjects(const char *paging, const char *profname, std::uint16_t *count, char *array);
}  // namespace qlm
