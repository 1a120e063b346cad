#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vindelor::rig {

// The rig's one program, `rig COMMAND WORDS...`.

// A command's words: options "--name value" and plain words in order. Whatever the command
// does not take is an error.
class Args {
  public:
    explicit Args(const std::vector<std::string>& words);

    std::optional<std::string> option(const std::string& name);
    std::string required(const std::string& name);
    double number(const std::string& name, double fallback);
    std::vector<std::string> plain() { return std::exchange(plain_, {}); }
    // Throws if anything was given that no call above took.
    void finish() const;

  private:
    std::map<std::string, std::string> options_;
    std::vector<std::string> plain_;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::int64_t monotonicNs();
void sleepUntilNs(std::int64_t ns);

int analyse(Args& args);  // judges a recording: analyse.cpp
int record(Args& args);   // records what a sink plays: record.cpp
int drive(Args& args);    // presses keys and buttons through XTest: drive.cpp
int probe(Args& args);    // the chain's own start: probe.cpp

}  // namespace vindelor::rig
