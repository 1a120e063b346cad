#pragma once

namespace vindelor {

// Makes the character type of the process's locale UTF-8, before Qt starts: Qt reads and
// writes text as UTF-8 only, and in a C or POSIX locale (a bare root shell, `env -i`) it would
// switch by itself and say so on the terminal. Only the character type changes: numbers,
// dates and messages keep the user's own locale. Call first thing in main, on one thread.
void useUtf8CharacterType();

}  // namespace vindelor
