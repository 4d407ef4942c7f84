// Messages built into a string rather than written, for callers that report
// a configuration file's fault in words of their own (a JSON document, a
// status line). Internal to llc2_conf.
#ifndef LLC2_CONF_TEXT_H
#define LLC2_CONF_TEXT_H

#include <string>

// format (a catalogue text of this program, never outside text) with args,
// without the newline the message ends with.
std::string conf_text(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
