// The body of the writer, apart from opening and closing the file, so the
// layout can be checked on any stream and for any clock. Internal to
// llc2_conf and its tests.
#ifndef LLC2_CONF_WRITE_H
#define LLC2_CONF_WRITE_H

#include <cstdio>
#include <ctime>

// Writes the header and the fourteen key lines to out. built is the time of
// the Built line, or (time_t)-1 to leave that line out. 0, or -1 as soon as
// a write fails (errno tells why).
int write_conf_rows(std::FILE *out, const char *provider, unsigned int instance,
                    const int *conf_params, std::time_t built);

#endif
