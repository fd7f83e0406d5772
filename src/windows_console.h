// The console window of a program that was double-clicked in Explorer, or
// had a file dropped on its icon: Windows opens it for the program alone
// and closes it the moment the program ends.
#ifndef PLACEHARVEST_WINDOWS_CONSOLE_H_
#define PLACEHARVEST_WINDOWS_CONSOLE_H_

namespace placeharvest {

// True when standard error is a console window that no other program (a
// Command Prompt, a script) shares.
bool console_is_its_own();

// Says where the program is meant to be used, and waits until the user
// presses Enter, so that what the program printed can be read before the
// window closes.
void wait_before_the_window_closes();

}  // namespace placeharvest

#endif  // PLACEHARVEST_WINDOWS_CONSOLE_H_
