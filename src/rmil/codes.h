// Values of header items as they travel, as text: paging numbers (items 131, 132)
// and the operator and sort order codes (127, 129) of a list qualifier.
#pragma once
#include <string_view>

namespace qlm::rmil {

// A paging number: leading blanks skipped, then the decimal digits up to the first
// other character (a value past a million reads as a million). -1 when no digit
// follows the blanks.
long parsePaging(std::string_view text);
// The code of an operator written in two characters (">", "<", "=", "<>", ">=", "<=";
// a trailing blank ignored): anything else is "=".
int operatorCode(const char *two);
// The code of a sort order: descending for 'D' or 'd', ascending for anything else.
int sortOrderCode(char order);

}  // namespace qlm::rmil
