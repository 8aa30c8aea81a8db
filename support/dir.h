// Lists the names in one directory.
#ifndef DIR_H
#define DIR_H

#include "support/prodlist.h"

// Returns a new sorted ProdAlphaList (capacity grows 10, 20, 30, ...) of heap copies of the
// entry names of path that do not begin with '.', or nullptr when the directory cannot be
// opened or read to its end (never a partial listing). The caller frees it with
// free_alpha_prodlist.
ProdAlphaList *list_files_in_directory(const char *path);

#endif
