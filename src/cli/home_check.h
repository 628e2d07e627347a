// The check every command that opens the home folder makes first.
#ifndef QUILLMARK_CLI_HOME_CHECK_H_
#define QUILLMARK_CLI_HOME_CHECK_H_

namespace quillmark::cli {

// True when the home folder may be used (or is not there yet). Otherwise
// prints one line, "quillmark: refusing home folder DIR: WHY", on standard
// error and returns false; the command then exits with status 1.
bool HomeFolderIsSafe();

}  // namespace quillmark::cli

#endif  // QUILLMARK_CLI_HOME_CHECK_H_
