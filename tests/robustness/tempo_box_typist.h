#pragma once

#include <cstdint>
#include <span>

class QLineEdit;

namespace vindelor::test {

// Types into the tempo box as a user can: digits and other characters, editing keys,
// selections, Enter, control keys, and text pasted from the clipboard, one action per step of
// a byte string. Any bytes make a valid string of actions, so that a fuzzer can write them.
class TempoBoxTypist {
  public:
    explicit TempoBoxTypist(QLineEdit& box) : box_(box) {}

    // Takes the action that `bytes` begins with and returns how many bytes it took (at
    // least one). Returns true in `entered` for an Enter, after which the box has committed.
    std::size_t act(std::span<const std::uint8_t> bytes, bool& entered);

    // Copies `text` (UTF-8, anything) to the clipboard and pastes it with Shift+Insert.
    void paste(std::span<const std::uint8_t> text);
    void pressEnter();

  private:
    QLineEdit& box_;
};

}  // namespace vindelor::test
