// SPDX-License-Identifier: Apache-2.0
// Standard output as a result: a table or listing that did not reach its
// reader is a failure, not a success with nothing to show for it.
#ifndef LLC2_COMMON_OUTPUT_H
#define LLC2_COMMON_OUTPUT_H

// Called first thing. A reader that goes away early (llc2 -q | head -1)
// must not kill a job half-way: SIGPIPE is ignored, so a write to the
// closed pipe fails with EPIPE instead, and finish_output passes over it.
// Nor must a full log (ulimit -f, a boot log at its limit): SIGXFSZ is
// ignored, so a write past the limit fails with EFBIG, standard output's
// is a write error at the end, and standard error's loses only the message.
void prepare_output(void);

// Where standard output and standard error go to the same file (a boot log
// taking both), flushes standard output, so that what was written to it
// stands before the messages that follow. Elsewhere the output stays
// buffered, and a failure to write it is met, with its reason, at the end.
void order_output(void);

// Flushes standard output. When it, or an earlier write to it, failed for
// any reason but a reader that went away: "<program>: write error: <reason>\n"
// on standard error and failure; otherwise status, unchanged.
int finish_output(const char *program, int status, int failure);

// What the new-handler of each main calls when memory runs out: removes a
// configuration file's temporary being written, writes message to standard
// error and ends the process with status at once. Throwing std::bad_alloc
// instead needs memory of its own, and when there is none the C++ run-time
// aborts with "terminate called"; so no exception is thrown.
[[noreturn]] void out_of_memory_exit(const char *message, int status);

#endif
