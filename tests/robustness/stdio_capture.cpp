#include "tests/robustness/stdio_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vindelor::test {

StdioCapture::StdioCapture(std::string path, Streams streams) : path_(std::move(path)) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int file = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file < 0) {
        throw std::runtime_error("cannot open " + path_);
    }
    savedOut_ = dup(STDOUT_FILENO);
    savedErr_ = dup(STDERR_FILENO);
    if (streams == Streams::OutAndError) {
        dup2(file, STDOUT_FILENO);
    }
    dup2(file, STDERR_FILENO);
    close(file);
}

StdioCapture::~StdioCapture() {
    finish();
}

std::string StdioCapture::finish() {
    if (savedOut_ < 0) {
        return {};
    }
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut_, STDOUT_FILENO);
    dup2(savedErr_, STDERR_FILENO);
    close(savedOut_);
    close(savedErr_);
    savedOut_ = savedErr_ = -1;
    std::ifstream file(path_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace vindelor::test
