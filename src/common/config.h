// Configuration file reader ("quillmar.ini" in the installation root).
// Section headers are lines "[name]..."; key lines "key=value" (key exact, blanks count);
// names compare without regard to case; lines are read in pieces of at most 254 characters.
#pragma once

namespace qlm {

// A newly allocated copy of the value (free it with FreeBuf), or null when the file,
// the section or the key is missing. The first matching key of the first matching
// section wins; a section that occurs more than once is searched at each occurrence.
char *ReadINIFile(const char *path, const char *section, const char *key);

bool IsSection(const char *line);
bool IsRightSection(const char *line, const char *section);
bool IsRightLine(const char *line, const char *key);
// Copy of the value of a key line (after the first '='); cuts the line at its newline.
char *GetValue(char *line);

}  // namespace qlm
