// Error reporting: the error text record (1085 bytes) that QlmErrorExplanation
// hands out, filled either from the error text file (library errors) or from the
// error segment of a response (the Request Manager's errors).
#pragma once
#include <cstdint>

namespace qlm {

inline constexpr int kErrTextSize = 1085;
namespace errtext {
inline constexpr int kNumber = 0, kNumberW = 5, kMessage = 5, kMessageW = 80,
                     kExplanation = 85, kExplanationW = 500, kResponse = 585, kResponseW = 500;
}

char *errorTextRecord();

// Fills the record for the last library error number from the error text file;
// returns that number, 20120 or 28000 (built-in texts), 4 (malformed file) or 0
// (number not in the file). Clears the last error number.
int cfGetErrorText();
// Fills the record from the error segment under the cursor; clears the last error number.
int cfGetRMILErrorText();
// Texts of an error segment (or of an error text answer) under the cursor:
// item `id` copied to `out` when present and not longer than `width`; and items
// first..first+3, while present, appended to `out` as long as they fit `width`.
void cfCopyErrorItem(char *out, std::uint16_t id, int width);
void cfAppendErrorPieces(char *out, std::uint16_t first, int width);
// Sets the error file name (the installation's shared/errortxt.fil); 0 on success.
int cfGetErrorFileName();

}  // namespace qlm
