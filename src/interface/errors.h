// Error reporting: the error text record (QlmErrText) that QlmErrorExplanation
// hands out, filled either from the error text file (library errors) or from the
// error segment of a response (the Request Manager's errors).
#pragma once
#include <cstdint>
#include <span>

#include "records/layout.h"

namespace qlm {

char *errorTextRecord();

// Fills the record for the last library error number from the error text file;
// returns that number, 20120 or 28000 (built-in texts), 4 (malformed file) or 0
// (number not in the file). Clears the last error number.
int cfGetErrorText();
// Fills the record from the error segment under the cursor; clears the last error number.
int cfGetRMILErrorText();
// The texts of an error segment (or of an error text answer) under the cursor into
// `record`, each into the field that names its item: the explanation and the response
// appended from their pieces while present and while they fit; any other item copied
// when present and no longer than its field.
void cfCopyErrorTexts(char *record, std::span<const rec::Field> fields);
// Sets the error file name (the installation's shared/errortxt.fil); 0 on success.
int cfGetErrorFileName();

}  // namespace qlm
