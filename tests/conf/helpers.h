// SPDX-License-Identifier: Apache-2.0
// Shared by the configuration store's tests: capture of standard error and
// output, streams with given bytes, a throw-away root.
#ifndef LLC2_TESTS_CONF_HELPERS_H
#define LLC2_TESTS_CONF_HELPERS_H

#include "llc2_conf.h"
#include "llc2_debug.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

namespace conf_test
{

struct file_closer {
    void operator()(std::FILE *fp) const { std::fclose(fp); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// Runs f with descriptor fd (1 or 2) sent to a temporary file; returns what
// was written there. f's result goes to *result when given.
template <typename F> std::string capture_fd(int fd, F &&f)
{
    std::FILE *stream = fd == 1 ? stdout : stderr;
    std::fflush(stream);
    file_ptr sink(std::tmpfile());
    const int saved = dup(fd);
    if (!sink || saved < 0 || dup2(fileno(sink.get()), fd) < 0) {
        ADD_FAILURE() << "cannot redirect descriptor " << fd;
        return {};
    }
    std::forward<F>(f)();
    std::fflush(stream);
    dup2(saved, fd);
    close(saved);
    std::string out;
    std::rewind(sink.get());
    for (int c = std::getc(sink.get()); c != EOF; c = std::getc(sink.get()))
        out += static_cast<char>(c);
    return out;
}

template <typename F> std::string capture_stderr(F &&f)
{
    return capture_fd(2, std::forward<F>(f));
}
template <typename F> std::string capture_stdout(F &&f)
{
    return capture_fd(1, std::forward<F>(f));
}

// A seekable stream holding exactly these bytes (NULs included).
inline file_ptr stream_of(const std::string &bytes)
{
    file_ptr fp(std::tmpfile());
    if (fp && !bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), fp.get());
    return fp;
}

inline std::string read_file(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Sets debug for the lifetime of the guard.
struct debug_level {
    int saved;
    explicit debug_level(int level) : saved(debug) { debug = level; }
    ~debug_level() { debug = saved; }
    debug_level(const debug_level &) = delete;
    debug_level &operator=(const debug_level &) = delete;
};

// A fresh root under /tmp with LLC2_ROOT pointing at it, and the list
// emptied before and after (its nodes and streams freed).
class temp_root : public ::testing::Test
{
  protected:
    std::filesystem::path root;
    std::filesystem::path dir; // <root>/etc/llc2/default

    void SetUp() override
    {
        std::string tmpl = "/tmp/llc2conf.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        dir = root / "etc/llc2/default";
        std::filesystem::create_directories(dir);
        setenv("LLC2_ROOT", root.c_str(), 1);
        conf_head = nullptr;
    }

    void TearDown() override
    {
        free_list();
        unsetenv("LLC2_ROOT");
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }

    static void free_list()
    {
        while (conf_head != nullptr) {
            conf_entry *next = conf_head->next;
            std::fclose(conf_head->fp);
            delete conf_head;
            conf_head = next;
        }
    }

    std::string path_of(const std::string &name) const { return (dir / name).string(); }
};

} // namespace conf_test

#endif
