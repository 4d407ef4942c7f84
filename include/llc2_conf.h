// SPDX-License-Identifier: Apache-2.0
// llc2_conf: the per-PPA configuration files /etc/llc2/default/llc2.<ppa>.
// Parser, directory scan and list, writer. C-compatible signatures so any
// caller can use them.
#ifndef LLC2_CONF_H
#define LLC2_CONF_H

#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// The fourteen keywords, in the order the parser tries them. Shared by the
// parser and the writer.
extern const char *const DEV_NAME;       // "devicename"
extern const char *const DEV_INSTANCE;   // "deviceinstance"
extern const char *const LLC2_ON;        // "llc2_on" (optional, default 1)
extern const char *const DEV_LOOPBACK;   // "deviceloopback"
extern const char *const TIME_INTRVL;    // "timeinterval"
extern const char *const ACK_TIMER;      // "acktimer"
extern const char *const RSP_TIMER;      // "rsptimer"
extern const char *const POLL_TIMER;     // "polltimer"
extern const char *const REJ_TIMER;      // "rejecttimer"
extern const char *const REM_BUSY_TIMER; // "rembusytimer"
extern const char *const INACT_TIMER;    // "inacttimer"
extern const char *const MAX_RETRY;      // "maxretry"
extern const char *const XMIT_WIN;       // "xmitwindowsz"
extern const char *const RECV_WIN;       // "rcvwindowsz"

// Indices of conf_params, twelve signed 32-bit integers.
enum conf_param_index {
    CONF_LLC2_ON = 0,
    CONF_LOOPBACK = 1,
    CONF_TIMEINTERVAL = 2,
    CONF_ACKTIMER = 3,
    CONF_RSPTIMER = 4,
    CONF_POLLTIMER = 5,
    CONF_REJECTTIMER = 6,
    CONF_REMBUSYTIMER = 7,
    CONF_INACTTIMER = 8,
    CONF_MAXRETRY = 9,
    CONF_XMITWINDOWSZ = 10,
    CONF_RCVWINDOWSZ = 11,
    CONF_NPARAMS = 12
};

// Every buffer handed to read_conf_file for the device name holds this many
// bytes; a name has at most LLC2_DEVNAME_SIZE - 1 characters.
inline constexpr int LLC2_DEVNAME_SIZE = 1024;
// Every path the store builds lives in a buffer of this size.
inline constexpr int LLC2_PATH_SIZE = 1024;
// A configuration file is a few hundred bytes; open_conf refuses one larger
// than this (EFBIG), as it refuses a special file.
inline constexpr long LLC2_CONF_MAX_SIZE = 1024L * 1024L;

// One configured PPA of the directory scan.
struct conf_entry {
    int ppa;          // taken from the file name
    FILE *fp;         // the PPA's file, open for reading, owned by the node
    conf_entry *next; // null at the end of the list
};

// The list add_conf builds; null while empty. Never freed as a whole.
extern conf_entry *conf_head;

// Parses one configuration file from fp (rewound first; neither closed nor
// repositioned afterwards). devicename is a buffer of LLC2_DEVNAME_SIZE bytes,
// conf_params twelve ints. Returns 0 when the file is valid and complete,
// -1 otherwise after its message.
int read_conf_file(FILE *fp, char *devicename, int *instance, int *conf_params);

// The parser examines a line at most CONF_LINE_SIZE - 1 characters at a
// time.
inline constexpr int CONF_LINE_SIZE = 2048;

// One piece of a file as read_conf_file examines it: a whole line, or the
// first CONF_LINE_SIZE - 1 characters of a longer one, whose rest comes as
// the next piece and is parsed as a line of its own. The rest of a long
// comment is skipped and is no piece. Give next_conf_piece the same record
// each time, from a fresh one at the start of the file.
struct conf_piece {
    // The bytes read, newline included when it was read; their text, as the
    // parser sees it, ends at the first NUL byte.
    std::array<char, CONF_LINE_SIZE> bytes{};
    int line = 0;         // the file's line it belongs to, from 1
    int number = 0;       // its place among the pieces of the file, from 1
    bool rest = false;    // it goes on a line that an earlier piece began
    bool cut = false;     // its line goes on past it: in the next piece, or
                          // skipped when it is a comment
    bool comment = false; // its first character but white space is "#"
};

// Reads the next piece of fp into p, as read_conf_file does. false at the
// end of the file or on a read error.
bool next_conf_piece(std::FILE *fp, conf_piece &p);

// Where a parse found what, for a caller that words its findings itself
// (llc2conf). Lines are counted in the file from 1; 0 means none.
struct conf_report {
    int invalid_line = 0;     // the line that made the file invalid
    std::string invalid_text; // that line as read, without its newline
    std::string missing;      // the keywords never seen, blank-separated
    int devicename_line = 0;  // where each value read was last set
    int instance_line = 0;
    std::array<int, CONF_NPARAMS> param_line{};
    // Which param was read from the rest of a long line, not its start.
    std::array<bool, CONF_NPARAMS> param_in_rest{};
    int unread_from = 0; // a complete file: the first line never looked at
    // How many pieces (conf_piece) the parse examined, a refused one too.
    int pieces_read = 0;
};

// read_conf_file, filling report when it is not null; then the parser's two
// messages about a refused file ("Invalid line: ...", and "Cannot find all
// required keywords." under debug) are left to the caller. With a null
// report it is read_conf_file.
int read_conf_file_report(FILE *fp, char *devicename, int *instance, int *conf_params,
                          conf_report *report);

// One file's values, as read_conf_file leaves them.
struct conf_values {
    std::array<char, LLC2_DEVNAME_SIZE> devicename{};
    int instance = 0;
    std::array<int, CONF_NPARAMS> params{};
};

// read_conf_file of fp into v, then closes fp, whatever the parse gave:
// for the operations that take a stream over. 0, or -1 after the parser's
// message.
int read_conf_and_close(FILE *fp, conf_values &v);

// The value of one numeric keyword line (line starts at the keyword; only the
// keyword's length is used), or -1 when the line is not a valid one.
int get_value(const char *line, const char *keyword);

// Opens the file of one PPA for reading, or writes "Cannot open %s: %s" and
// returns null with errno left as the failed open set it.
FILE *open_conf(int ppa);

// open_conf, saying nothing: on failure null, errno as the failed open left
// it, and *why set to the message open_conf would write, without its newline.
// With a null why it is open_conf.
FILE *open_conf_why(int ppa, std::string *why);

// The numbers of the configured PPAs, ascending: every entry of the
// configuration directory named "llc2.<n>" exactly as the path rule would
// name PPA n's file. A directory that does not exist is an empty
// configuration (0). -1 with errno when the directory cannot be read, and
// ppas then holds what was read before. Nothing is opened but the directory
// and nothing is written.
int configured_ppas(std::vector<int> &ppas);

// Says, with errno, that the configuration directory cannot be read: "Cannot
// open default directory: %s", or for a directory -D named, "Cannot use
// configuration directory %s: %s" naming it.
void report_conf_dir_unread(void);

// Why a parse refused PPA's file, as llc2conf check words it, without the
// newline: "llc2.3:7: invalid line: ...", "llc2.3: missing keywords: ...", or
// "llc2.3: cannot be read: " and strerror(err).
std::string conf_fault_text(int ppa, const conf_report &report, int err);

// The file of PPA ppa read into v without a word on standard error. 0; or
// -1 with why holding the reason as llc2conf check gives it (the open's
// message, or conf_fault_text).
int read_conf_quiet(int ppa, conf_values &v, std::string &why);

// The PPA a directory entry configures: true, with *ppa, exactly when the
// name is "llc2." followed by the decimal number as the path rule writes it
// ("llc2.0", "llc2.12", "llc2.-1"). "llc2.03", "llc2.3.bak", "llc2.5~" and
// "llc2.x" configure nothing.
bool conf_entry_ppa(const char *name, int *ppa);

// What the name rule makes of an entry of the configuration directory.
enum class conf_dir_kind {
    ppa_file,  // "llc2.<n>", as conf_entry_ppa takes it
    stray,     // any other "llc2." name: looks meant for llc2, which never reads it
    temporary, // ".llc2.": a writer's temporary file, or one a killed write left
};

// One entry of the configuration directory, as the walk hands it over.
struct conf_dir_entry {
    const char *name; // as it stands in the directory; valid during the call only
    conf_dir_kind kind;
    int ppa; // ppa_file: the PPA it configures; 0 otherwise
};

enum class conf_walk_result {
    walked,     // every entry was read
    not_opened, // the directory could not be opened (errno tells why); nothing visited
    not_read,   // reading or closing it failed (errno tells why, the first
                // failure's); the entries read before were visited
};

// The one walk of the configuration directory: reads it once and calls visit
// for each entry the name rule has a kind for, in the directory's order;
// ".", ".." and every other name are passed over. Nothing is opened but the
// directory. What visit does to errno does not change the result.
conf_walk_result walk_conf_dir(const std::function<void(const conf_dir_entry &)> &visit);

// Scans the configuration directory and puts a node for every configured PPA
// whose file opens in front of conf_head. 0, or -1 when reading the directory
// or opening a file it found failed (errno tells why).
int add_conf(void);

// Lists conf_head on standard output (the debug listing).
void print_conf_entry(void);

// Writes the file of one PPA from a link name ("xnic0") and twelve params.
// 0, or -1 after its message.
int create_conf(const char *linkname, int ppa, const int *conf_params);

#endif
