// Splits a text in place at a one-character delimiter.
#ifndef SPLITFLD_H
#define SPLITFLD_H

// Records in flds the start of each field of str (at most maxflds), overwriting each
// delimiter that ends a recorded field with NUL, and returns the count. skip != 0 makes a
// run of delimiters after a field count as one. A null or empty str gives 0.
int split_flds(char *str, char **flds, char delim, int skip, int maxflds);

#endif
