// The interactive menu, run when the program is started without arguments: shows and changes
// the settings, lists the input directory, builds one page or all of them.
#ifndef MENU_H
#define MENU_H

// Runs the console menu until a confirmed quit or the end of standard input.
void do_interact();

#endif
