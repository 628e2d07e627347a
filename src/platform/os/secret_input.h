// Secrets that come from the user: passwords read from a descriptor or typed
// at the terminal without echo, and wiping them (and key bytes) once used.
// On Windows descriptors are the C runtime's, and the terminal is the
// console (CONIN$ and CONOUT$), read as UTF-16 with its echo turned off.
#ifndef QUILLMARK_PLATFORM_OS_SECRET_INPUT_H_
#define QUILLMARK_PLATFORM_OS_SECRET_INPUT_H_

#include <string>

#include "common/bytes.h"

namespace quillmark::platform {

// Overwrites the characters or bytes with zeros (in a way the compiler keeps)
// and empties the container.
void WipeSecret(std::string* text);
void WipeSecret(Bytes* bytes);

// Reads a password from descriptor |fd| up to the first newline or the end
// (a trailing "\r\n" or "\n" is dropped), at most 4096 bytes. False when the
// descriptor cannot be read or the password is longer.
bool ReadPasswordFromFd(int fd, std::string* password);

// Reads one line from |fd| as ReadPasswordFromFd does, with echo turned off
// while it reads when |fd| is a terminal.
bool ReadSecretLine(int fd, std::string* secret);

// Whether standard input is a terminal.
bool StdinIsTerminal();

// Prints |prompt| on the terminal and reads a line from it with echo off
// (echo is restored before it returns).
// False when there is no terminal or the read fails.
bool PromptPassword(const char* prompt, std::string* password);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_SECRET_INPUT_H_
