// The process's standard input and output as byte streams.
//
// The native messaging host reads and writes length-prefixed frames and the
// session runner JSON lines: neither may have its bytes changed on the way.
// Windows opens the standard streams in text mode (CR LF translation, ^Z as
// end of input); UseBinaryStandardStreams switches stdin and stdout to
// binary mode there and does nothing on systems whose streams are bytes
// already. Call it first thing in main, before the streams are used.
#ifndef QUILLMARK_PLATFORM_OS_STANDARD_STREAMS_H_
#define QUILLMARK_PLATFORM_OS_STANDARD_STREAMS_H_

namespace quillmark::platform {

void UseBinaryStandardStreams();

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_STANDARD_STREAMS_H_
