// Starting a real program for a benchmark iteration: the program is spawned
// with pipes on its standard input and output, fed its input, and timed from
// the spawn until its output holds what the caller waits for.
#ifndef QUILLMARK_BENCH_BENCH_PROCESS_H_
#define QUILLMARK_BENCH_BENCH_PROCESS_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::bench {

// A program beside the benchmark executable (the build folder).
std::string SiblingProgram(const std::string& name);

struct ProgramRun {
  std::vector<std::string> argv;  // argv[0] is the program's path
  std::vector<std::string> env;   // NAME=VALUE added to this process's environment
  std::string input;              // written at once; standard input is closed after the answer
  // Whether the output read so far is the whole answer waited for.
  std::function<bool(std::string_view output)> done;
  // Called as soon as done() holds (a benchmark pauses its clock there).
  std::function<void()> answered;
};

// Runs |run| to its answer and waits for its exit; *seconds is the time from
// the spawn until done() held. False when the program could not start, ended
// before done() held or did not exit with 0.
bool TimeProgram(const ProgramRun& run, double* seconds, std::string* output);

}  // namespace quillmark::bench

#endif  // QUILLMARK_BENCH_BENCH_PROCESS_H_
