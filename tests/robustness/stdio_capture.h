#pragma once

#include <string>

namespace vindelor::test {

// Catches everything written to the process's stdout and stderr (or stderr alone), by any
// thread or library,
// between construction and finish(), in a file of its own. Should the process die meanwhile,
// the file stays behind for whoever ran it to show.
class StdioCapture {
  public:
    enum class Streams { OutAndError, ErrorOnly };

    explicit StdioCapture(std::string path, Streams streams = Streams::OutAndError);
    ~StdioCapture();
    StdioCapture(const StdioCapture&) = delete;
    StdioCapture& operator=(const StdioCapture&) = delete;

    // Puts stdout and stderr back and returns what was written to them.
    std::string finish();

  private:
    std::string path_;
    int savedOut_ = -1;
    int savedErr_ = -1;
};

}  // namespace vindelor::test
