// Console text tables (the usage and help texts) and a numbered list with pauses.
#ifndef DO_MSG_H
#define DO_MSG_H

// Texts closed by a null entry; each is a printf format with at most one %s (the program name).
extern const char *const Usage[];
extern const char *const Help[];

// Prints each string of msg up to its null entry to standard output, with prog for its %s.
void do_msg(const char *const *msg, const char *prog);
// Prints prompt to standard output and waits for one line of standard input, which is
// discarded whatever its length. Returns the answer's first character (the line feed of an
// empty answer), or EOF at the end of input.
int pause_for_enter(const char *prompt);
// Prints the first n strings of list numbered from 0, pausing after every 20th.
void print_list(int n, char **list);

#endif
