// SPDX-License-Identifier: Apache-2.0
/* A stand-in for a STREAMS host's <stropts.h>: the declarations the native
 * backend uses, with the System V names and types, so that the backend and
 * the tool compile against it on a host without STREAMS. Never linked: the
 * functions have no bodies anywhere. Values are those of System V. */
#ifndef LLC2_TEST_NATIVE_STROPTS_H
#define LLC2_TEST_NATIVE_STROPTS_H

#define STR ('S' << 8)
#define I_FLUSH (STR | 05)
#define I_STR (STR | 010)
#define I_PLINK (STR | 026)
#define I_PUNLINK (STR | 027)

#define FLUSHR 0x01
#define FLUSHW 0x02
#define FLUSHRW 0x03
#define RS_HIPRI 0x01
#define MORECTL 1
#define MOREDATA 2
#define MUXID_ALL (-1)

struct strioctl {
    int ic_cmd;
    int ic_timout;
    int ic_len;
    char *ic_dp;
};

struct strbuf {
    int maxlen;
    int len;
    char *buf;
};

extern "C" {
int ioctl(int fd, int request, ...);
int putmsg(int fd, const struct strbuf *ctlptr, const struct strbuf *dataptr, int flags);
int getmsg(int fd, struct strbuf *ctlptr, struct strbuf *dataptr, int *flagsp);
}

#endif
